#pragma once
// The host's file and zip operations: packing a working folder into a
// project file and back, atomic writes and temporary folders.

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fennik::server {

// An entry deflated ahead of packing (HostInterface::deflate): for a large
// entry the slowest step of a save, which can then run beside other work.
struct DeflatedBytes;

// Bytes held in memory that stand for the file `name` (relative to a
// container's folder) when packing or summing the folder, so a large entry
// need not be written to the folder only to be read back.
struct MemoryEntry {
  MemoryEntry(std::string name, std::string_view bytes, std::shared_ptr<const DeflatedBytes> deflated = nullptr)
      : name(std::move(name)), bytes(bytes), deflated(std::move(deflated)) {}

  std::string name;
  std::string_view bytes;
  // The bytes deflated, or null: zip() deflates them. When given, they stand
  // for the bytes, which may then be left empty.
  std::shared_ptr<const DeflatedBytes> deflated;
};

// How much unpacking a zip may write: per entry and in all. Both the sizes
// the zip declares and the bytes that really come out count, so a zip bomb
// stops at the limit, whatever its directory claims.
struct UnpackLimits {
  std::uint64_t entryBytes = 256ull << 20;   // 256 MiB
  std::uint64_t totalBytes = 1024ull << 20;  // 1 GiB
};

class HostInterface {
 public:
  // Unpacks a zip file into `folder` (created). Throws std::runtime_error
  // with the file name and the reason on a missing, damaged or foreign file,
  // on entries that would land outside the folder, and on entries beyond the
  // limits. Entries named in `toMemory` (relative names, as in the folder) are
  // not written to the folder: their bytes are returned by name, each string
  // with MEMORY_ENTRY_SPARE bytes of capacity beyond its end, so a reader
  // that reads ahead need not copy it.
  static std::map<std::string, std::string> unzip(const std::filesystem::path& zipFile,
                                                  const std::filesystem::path& folder, const UnpackLimits& limits = {},
                                                  const std::vector<std::string>& toMemory = {});
  static constexpr std::size_t MEMORY_ENTRY_SPARE = 64;
  // Whether `zipFile` is a readable zip holding an entry of that name.
  static bool zipHasEntry(const std::filesystem::path& zipFile, const std::string& name);
  // Packs every file under `folder` into `zipFile`, replacing it atomically:
  // the zip is written to a temporary file beside it, flushed to disk and
  // renamed over the old one, so a crash leaves either file whole. Temporary
  // files that an interrupted save left beside it are removed. Entries in
  // `fromMemory` are packed from their bytes, replacing a file of the same
  // name in the folder.
  static void zip(const std::filesystem::path& folder, const std::filesystem::path& zipFile,
                  const std::vector<MemoryEntry>& fromMemory = {});
  // Deflates bytes as zip() packs an entry from memory; thread-safe.
  static std::shared_ptr<const DeflatedBytes> deflate(std::string_view bytes);
  // Writes bytes to a file atomically (temporary file, rename); with flush the
  // bytes are on disk before the rename.
  static void writeFileAtomically(const std::filesystem::path& file, const std::string& bytes, bool flush = true);
  // Flushes a file (or a folder's entries) to disk.
  static void flushToDisk(const std::filesystem::path& path);
  // A new, empty folder under the system's temporary folder.
  static std::filesystem::path createTemporaryFolder(const std::string& prefix);
  // Removes a folder with everything in it; errors are ignored.
  static void removeFolder(const std::filesystem::path& folder);
};

}  // namespace fennik::server
