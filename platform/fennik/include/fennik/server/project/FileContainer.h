#pragma once
// The open project's container: a working folder on disk into which the
// project file was unpacked. Entries are files and folders named by paths
// relative to the folder; services keep their own data in sub-containers.
// Names that would leave the folder (absolute, "..") are rejected.
//
// Entries may also be held in memory, deflated, instead of being files
// (hold): the small entries of an opened project file stay there, so a show's
// thousand driver entries are neither written to the folder on opening nor
// deleted from it on closing (on some file systems, creating a thousand files
// shortly after deleting a thousand cost most of a second). A held entry
// answers like a file to every call; writing it again keeps it in memory;
// asking for its path writes it out to the folder, for code that reads files.
// An entry is either held or a file, never both.

#include "fennik/server/entity/EntityJsonSerializer.h"
#include "fennik/server/project/HostInterface.h"

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fennik::server {

class FileContainer {
 public:
  explicit FileContainer(std::filesystem::path folder);

  const std::filesystem::path& path() const { return folder_; }
  // The entry's file; a held entry (or the held entries of a folder of that
  // name) is written out to the folder first and is a file from then on.
  std::filesystem::path path(const std::string& name) const;

  // Keeps the entry in memory, replacing its file if there is one.
  void hold(const std::string& name, std::shared_ptr<const DeflatedBytes> deflated) const;
  void hold(const std::string& name, std::string_view bytes) const;
  // The held entries, named relative to this container's folder, as packing
  // and summing take them.
  std::vector<MemoryEntry> heldEntries() const;

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

  // Raw bytes. Writing a held entry keeps it held (deflated again when the
  // bytes differ); any other entry is written to its file.
  void set(const std::string& name, const std::string& bytes) const;
  std::string get(const std::string& name) const;
  // The bytes the entry holds; throws std::runtime_error when there is none.
  std::uintmax_t size(const std::string& name) const;

  // unset removes a file, rm a file or a folder with everything in it; both
  // answer whether something was removed.
  bool unset(const std::string& name) const;
  bool rm(const std::string& name) const;

  // Names directly inside the folder (or a sub-folder), sorted.
  std::vector<std::string> ls(const std::string& folder = "") const;

  // A container for a sub-folder, created when missing; it shares the held
  // entries.
  std::shared_ptr<FileContainer> scopedContainer(const std::string& name) const;

  // A checksum over every file's relative name and bytes (CRC-32, eight hex
  // digits), skipping the names given. Held entries, and entries in
  // `fromMemory`, count as files of the folder with those bytes (replacing a
  // file or held entry of the same name): the sum is the one the folder
  // would have with them written to it.
  std::string checksum(const std::vector<std::string>& skip = {},
                       const std::vector<MemoryEntry>& fromMemory = {}) const;

 private:
  struct Held;
  FileContainer(std::filesystem::path folder, std::shared_ptr<Held> held, std::string prefix);
  // The entry's name relative to the outermost container's folder (the key of
  // the held entries); throws for names that leave the folder.
  std::string key(const std::string& name) const;
  // The held entry, or null.
  std::shared_ptr<const DeflatedBytes> heldEntry(const std::string& key) const;
  // Writes out the held entry `key` and those below it as a folder.
  void release(const std::string& key) const;

  std::filesystem::path folder_;
  std::shared_ptr<Held> held_;
  std::string prefix_;  // this folder relative to the outermost, with a '/' ("" there)
};

}  // namespace fennik::server
