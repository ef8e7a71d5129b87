#pragma once
// The open project's container: a working folder on disk into which the
// project file was unpacked. Entries are files and folders named by paths
// relative to the folder; services keep their own data in sub-containers.
// Names that would leave the folder (absolute, "..") are rejected.

#include "fennik/server/entity/EntityJsonSerializer.h"
#include "fennik/server/project/HostInterface.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace fennik::server {

class FileContainer {
 public:
  explicit FileContainer(std::filesystem::path folder);

  const std::filesystem::path& path() const { return folder_; }
  std::filesystem::path path(const std::string& name) const;

  // A file or folder of that name.
  bool exists(const std::string& name) const;
  // A file (document) of that name.
  bool has(const std::string& name) const;

  // Documents: store writes the JSON text (to a temporary entry, then renamed
  // over the old one); load parses it, throwing std::runtime_error naming the
  // entry when it is missing or no JSON.
  void store(const std::string& name, const Json& document, int indent = -1) const;
  Json load(const std::string& name) const;
  // What load does with the entry's text once read.
  static Json parse(const std::string& name, const std::string& text);

  // Raw bytes.
  void set(const std::string& name, const std::string& bytes) const;
  std::string get(const std::string& name) const;

  // unset removes a file, rm a file or a folder with everything in it; both
  // answer whether something was removed.
  bool unset(const std::string& name) const;
  bool rm(const std::string& name) const;

  // Names directly inside the folder (or a sub-folder), sorted.
  std::vector<std::string> ls(const std::string& folder = "") const;

  // A container for a sub-folder, created when missing.
  std::shared_ptr<FileContainer> scopedContainer(const std::string& name) const;

  // A checksum over every file's relative name and bytes (CRC-32, eight hex
  // digits), skipping the names given. Entries in `fromMemory` count as files
  // of the folder with those bytes (replacing a file of the same name): the
  // sum is the one the folder would have with them written to it.
  std::string checksum(const std::vector<std::string>& skip = {},
                       const std::vector<MemoryEntry>& fromMemory = {}) const;

 private:
  std::filesystem::path folder_;
};

}  // namespace fennik::server
