#include "fennik/server/project/HostInterface.h"

#include "EntryDeflater.h"
#include "UnzipEntries.h"

#include "fennik/server/core/FileBytes.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <zip.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <new>
#include <random>
#include <set>
#include <stdexcept>
#include <variant>
#include <vector>

namespace fennik::server {

namespace fs = std::filesystem;

namespace {

std::string zipErrorText(int code) {
  zip_error_t error;
  zip_error_init_with_code(&error, code);
  std::string text = zip_error_strerror(&error);
  zip_error_fini(&error);
  return text;
}

// A name beside `target` that no other writer picks.
fs::path siblingTemporary(const fs::path& target) {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  return target.parent_path() / ("." + target.filename().string() + "." + std::to_string(::getpid()) + "-" +
                                 std::to_string(random()) + "-" + std::to_string(counter++) + ".saving");
}

// Temporary files a save that was killed half-way left beside the project.
void removeStaleTemporaries(const fs::path& target) {
  const std::string prefix = "." + target.filename().string() + ".";
  std::error_code ec;
  for (fs::directory_iterator it(target.parent_path(), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    // Older saves let libzip write the file, through a temporary named after
    // ours plus a suffix.
    if (name.starts_with(prefix) && name.find(".saving") != std::string::npos) {
      std::error_code ignored;
      fs::remove(it->path(), ignored);
    }
  }
}

struct ZipCloser {
  void operator()(zip_t* archive) const {
    if (archive) zip_discard(archive);
  }
};

struct SourceFreer {
  void operator()(zip_source_t* source) const { zip_source_free(source); }
};

// What a source holds (a packed archive), written to a new file.
void writeSource(zip_source_t* source, const fs::path& file) {
  const auto failed = [&](const std::string& why) {
    return std::runtime_error("Cannot write " + file.string() + ": " + why);
  };
  if (zip_source_open(source) != 0) throw failed(zip_error_strerror(zip_source_error(source)));
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  constexpr std::size_t CHUNK = std::size_t{1} << 20;
  const std::unique_ptr<char[]> chunk(new char[CHUNK]);
  zip_int64_t n = 0;
  while ((n = zip_source_read(source, chunk.get(), CHUNK)) > 0) out.write(chunk.get(), n);
  const bool readFailed = n < 0;
  const std::string reason = readFailed ? zip_error_strerror(zip_source_error(source)) : "";
  zip_source_close(source);
  if (readFailed) throw failed(reason);
  out.close();
  if (!out) throw failed("the disk may be full");
}

// An entry name that stays inside the folder it is unpacked into.
bool isSafeEntryName(const std::string& name) {
  if (name.empty() || name.front() == '/' || name.find('\\') != std::string::npos) return false;
  const fs::path normal = fs::path(name).lexically_normal();
  return !normal.is_absolute() && !normal.empty() && *normal.begin() != "..";
}

// An entry handed to libzip as data deflated already, with its size and
// CRC, so libzip neither compresses nor sums it again. It outlives the
// archive it is added to.
class Precompressed {
 public:
  explicit Precompressed(std::shared_ptr<const DeflatedBytes> deflated) : deflated_(std::move(deflated)) {
    zip_error_init(&error_);
  }
  ~Precompressed() { zip_error_fini(&error_); }
  Precompressed(const Precompressed&) = delete;
  Precompressed& operator=(const Precompressed&) = delete;

  zip_source_t* source(zip_t* archive) { return zip_source_function(archive, &Precompressed::callback, this); }

 private:
  static zip_int64_t callback(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    auto& self = *static_cast<Precompressed*>(state);
    switch (command) {
      case ZIP_SOURCE_OPEN:
        self.block_ = 0;
        self.offset_ = 0;
        return 0;
      case ZIP_SOURCE_READ: {
        const auto& blocks = self.deflated_->blocks;
        auto* to = static_cast<char*>(data);
        std::size_t n = 0;
        while (n < length && self.block_ < blocks.size()) {
          const auto& block = blocks[self.block_];
          const std::size_t take = std::min<std::size_t>(length - n, block.size - self.offset_);
          std::memcpy(to + n, block.data.get() + self.offset_, take);
          n += take;
          self.offset_ += take;
          if (self.offset_ == block.size) {
            ++self.block_;
            self.offset_ = 0;
          }
        }
        return static_cast<zip_int64_t>(n);
      }
      case ZIP_SOURCE_CLOSE:
      case ZIP_SOURCE_FREE:
        return 0;
      case ZIP_SOURCE_STAT: {
        auto* stat = static_cast<zip_stat_t*>(data);
        zip_stat_init(stat);
        stat->valid =
            ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC | ZIP_STAT_COMP_METHOD | ZIP_STAT_ENCRYPTION_METHOD;
        stat->size = self.deflated_->size;
        stat->comp_size = self.deflated_->dataSize;
        stat->crc = self.deflated_->crc;
        stat->comp_method = ZIP_CM_DEFLATE;
        stat->encryption_method = ZIP_EM_NONE;
        return sizeof(zip_stat_t);
      }
      case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&self.error_, data, length);
      case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
      default:
        zip_error_set(&self.error_, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
  }

  std::shared_ptr<const DeflatedBytes> deflated_;
  std::size_t block_ = 0;   // reading this block
  std::size_t offset_ = 0;  // at this byte of it
  zip_error_t error_;
};

// One entry's bytes, read in chunks. A deflated entry is inflated here
// with ISA-L from its raw stream (several times faster than libzip's zlib)
// and its CRC checked at the end; any other entry is read through libzip.
// Damage throws the reason, in libzip's words.
// The files and folders a zip's entries make, to find a name used as both.
class EntryLayout {
 public:
  // False when `name` (relative, '/'-separated) clashes with an entry before.
  bool add(std::string name, bool isFolder) {
    while (name.ends_with('/')) name.pop_back();
    if ((isFolder ? files_ : folders_).count(name)) return false;
    for (auto slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1)) {
      const std::string parent = name.substr(0, slash);
      if (files_.count(parent)) return false;
      folders_.insert(parent);
    }
    (isFolder ? folders_ : files_).insert(std::move(name));
    return true;
  }

 private:
  std::set<std::string> files_;
  std::set<std::string> folders_;
};

class EntryReader {
 public:
  // `scratch` is the inflater's state (large), reused from entry to entry.
  EntryReader(zip_t* archive, zip_uint64_t index, const zip_stat_t& stat, inflate_state& scratch) : stat_(stat) {
    const bool raw = (stat.valid & ZIP_STAT_COMP_METHOD) && stat.comp_method == ZIP_CM_DEFLATE &&
                     (stat.valid & ZIP_STAT_CRC) && (stat.valid & ZIP_STAT_ENCRYPTION_METHOD) &&
                     stat.encryption_method == ZIP_EM_NONE;
    entry_ = zip_fopen_index(archive, index, raw ? ZIP_FL_COMPRESSED : 0);
    if (!entry_) throw std::runtime_error(std::string("cannot be opened (") + zip_strerror(archive) + ")");
    if (raw) {
      inflate_ = &scratch;
      isal_inflate_init(inflate_);
      inflate_->crc_flag = ISAL_DEFLATE;
      input_.reset(new char[INPUT]);
    }
  }
  ~EntryReader() { zip_fclose(entry_); }
  EntryReader(const EntryReader&) = delete;
  EntryReader& operator=(const EntryReader&) = delete;

  // Up to `capacity` bytes into `to`; 0 at the end.
  std::size_t read(char* to, std::size_t capacity) {
    if (!inflate_) {
      const zip_int64_t n = zip_fread(entry_, to, capacity);
      // zip_fread reports a CRC mismatch at the end of the entry.
      if (n < 0) throw std::runtime_error(zip_file_strerror(entry_));
      return static_cast<std::size_t>(n);
    }
    inflate_state& s = *inflate_;
    while (s.block_state != ISAL_BLOCK_FINISH) {
      if (s.avail_in == 0 && !inputEnded_) {
        const zip_int64_t n = zip_fread(entry_, input_.get(), INPUT);
        if (n < 0) throw std::runtime_error(zip_file_strerror(entry_));
        inputEnded_ = n == 0;
        s.next_in = reinterpret_cast<std::uint8_t*>(input_.get());
        s.avail_in = static_cast<std::uint32_t>(n);
      }
      s.next_out = reinterpret_cast<std::uint8_t*>(to);
      s.avail_out = static_cast<std::uint32_t>(std::min<std::size_t>(capacity, std::uint32_t{1} << 30));
      const std::uint32_t room = s.avail_out;
      const std::uint32_t unread = s.avail_in;
      if (isal_inflate(&s) < 0) throw std::runtime_error("Compressed data invalid");
      const std::size_t n = room - s.avail_out;
      if (n > 0) {
        crc_ = crc32_gzip_refl(crc_, reinterpret_cast<const std::uint8_t*>(to), n);
        return n;
      }
      // Neither output nor progress: the stream ends too early, or never.
      const bool stuck = s.avail_in == unread && (s.avail_in > 0 || inputEnded_);
      if (s.block_state != ISAL_BLOCK_FINISH && stuck) throw std::runtime_error("Compressed data invalid");
    }
    if (crc_ != stat_.crc) throw std::runtime_error("CRC error");
    return 0;
  }

 private:
  static constexpr std::size_t INPUT = std::size_t{1} << 16;
  const zip_stat_t& stat_;
  zip_file_t* entry_ = nullptr;
  inflate_state* inflate_ = nullptr;
  std::unique_ptr<char[]> input_;
  bool inputEnded_ = false;
  std::uint32_t crc_ = 0;
};

}  // namespace

std::shared_ptr<const DeflatedBytes> HostInterface::deflate(std::string_view bytes) {
  EntryDeflater deflater(bytes.size() / 4);
  deflater.add(bytes);
  return deflater.finish();
}

std::map<std::string, std::string> HostInterface::unzip(const fs::path& zipFile, const fs::path& folder,
                                                        const UnpackLimits& limits,
                                                        const std::vector<std::string>& toMemory) {
  std::map<std::string, std::string> memory;
  std::string* into = nullptr;
  detail::EntrySink keep = [&into](std::string_view bytes) { into->append(bytes); };
  detail::unzipEntries(zipFile, folder, limits, [&](const std::string& name, std::uint64_t declared) {
    if (std::find(toMemory.begin(), toMemory.end(), name) == toMemory.end())
      return static_cast<detail::EntrySink*>(nullptr);
    into = &memory[name];
    into->clear();
    into->reserve(static_cast<std::size_t>(declared) + MEMORY_ENTRY_SPARE);
    return &keep;
  });
  for (auto& [name, bytes] : memory) {
    if (bytes.capacity() < bytes.size() + MEMORY_ENTRY_SPARE) bytes.reserve(bytes.size() + MEMORY_ENTRY_SPARE);
  }
  return memory;
}

void detail::unzipEntries(const fs::path& zipFile, const fs::path& folder, const UnpackLimits& limits,
                          const ChooseEntrySink& choose) {
  const std::string file = zipFile.string();
  std::error_code ec;
  if (!fs::is_regular_file(zipFile, ec)) throw std::runtime_error("'" + file + "' does not exist or is no file");
  int code = 0;
  std::unique_ptr<zip_t, ZipCloser> archive(zip_open(file.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code));
  if (!archive) {
    throw std::runtime_error("'" + file + "' is no readable project file (" + zipErrorText(code) + ")");
  }
  fs::create_directories(folder);
  const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
  std::vector<char> buffer(1 << 20);
  const auto inflater = std::make_unique<inflate_state>();
  std::uint64_t total = 0;
  const auto tooLarge = [&](const std::string& name, const char* what, std::uint64_t limit) {
    return std::runtime_error("'" + file + "' is refused: " + what + " '" + name + "' unpacks to more than " +
                              std::to_string(limit >> 20) + " MiB");
  };
  EntryLayout layout;
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t stat;
    if (zip_stat_index(archive.get(), static_cast<zip_uint64_t>(i), 0, &stat) != 0 || !(stat.valid & ZIP_STAT_NAME)) {
      throw std::runtime_error("'" + file + "' is damaged: entry " + std::to_string(i) + " cannot be read");
    }
    const std::string name = stat.name;
    if (!isSafeEntryName(name)) {
      throw std::runtime_error("'" + file + "' holds an entry outside the project: '" + name + "'");
    }
    const fs::path relative = fs::path(name).lexically_normal();
    const fs::path target = folder / relative;
    // An entry that is a file and a folder at once: entries that are not
    // written to the folder would not meet on the file system.
    if (!layout.add(relative.generic_string(), name.back() == '/')) {
      throw std::runtime_error("'" + file + "' is damaged: entry '" + name + "' is a file and a folder at once");
    }
    if (name.back() == '/') {
      fs::create_directories(target);
      continue;
    }
    if ((stat.valid & ZIP_STAT_SIZE) && stat.size > limits.entryBytes) throw tooLarge(name, "entry", limits.entryBytes);
    if ((stat.valid & ZIP_STAT_SIZE) && total + stat.size > limits.totalBytes) {
      throw tooLarge(name, "the project with entry", limits.totalBytes);
    }
    fs::create_directories(target.parent_path());
    const auto damaged = [&](const std::string& reason) {
      return std::runtime_error("'" + file + "' is damaged: entry '" + name + "' (" + reason + ")");
    };
    std::unique_ptr<EntryReader> entry;
    try {
      entry = std::make_unique<EntryReader>(archive.get(), static_cast<zip_uint64_t>(i), stat, *inflater);
    } catch (const std::exception& e) {
      throw std::runtime_error("'" + file + "' is damaged: entry '" + name + "' " + e.what());
    }
    // Reads the whole entry through `buffer`, handing each piece to `take`.
    const auto pump = [&](const auto& take) {
      std::uint64_t written = 0;
      std::size_t n = 0;
      do {
        try {
          n = entry->read(buffer.data(), buffer.size());
        } catch (const std::exception& e) {
          throw damaged(e.what());
        }
        written += n;
        total += n;
        // Whatever the directory declared: stop at the limit.
        if (total > limits.totalBytes) throw tooLarge(name, "the project with entry", limits.totalBytes);
        if (written > limits.entryBytes) throw tooLarge(name, "entry", limits.entryBytes);
        take(n);
      } while (n > 0);
    };
    std::uint64_t declared = (stat.valid & ZIP_STAT_SIZE) ? stat.size : 0;
    // Deflate makes at most 1032 bytes of one: a directory claiming more is
    // not believed up front (the entry still grows to what it holds).
    if (stat.valid & ZIP_STAT_COMP_SIZE) declared = std::min<std::uint64_t>(declared, stat.comp_size * 1032);
    if (EntrySink* sink = choose(relative.generic_string(), declared)) {
      pump([&](std::size_t n) {
        if (n > 0) (*sink)(std::string_view(buffer.data(), n));
      });
      continue;
    }
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    pump([&](std::size_t n) { out.write(buffer.data(), static_cast<std::streamsize>(n)); });
    if (!out) throw std::runtime_error("'" + file + "': entry '" + name + "' cannot be unpacked (disk full?)");
  }
}

bool HostInterface::zipHasEntry(const fs::path& zipFile, const std::string& name) {
  int code = 0;
  std::unique_ptr<zip_t, ZipCloser> archive(zip_open(zipFile.string().c_str(), ZIP_RDONLY, &code));
  return archive && zip_name_locate(archive.get(), name.c_str(), 0) >= 0;
}

void HostInterface::zip(const fs::path& folder, const fs::path& zipFile, const std::vector<MemoryEntry>& fromMemory) {
  // Entry names in sorted order, each packed from its file or from memory.
  std::map<std::string, std::variant<fs::path, const MemoryEntry*>> entries;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file())
      entries.emplace(entry.path().lexically_relative(folder).generic_string(), entry.path());
  }
  for (const auto& entry : fromMemory) entries.insert_or_assign(entry.name, &entry);
  if (entries.empty()) throw std::runtime_error("Nothing to save in " + folder.string());

  const fs::path temporary = siblingTemporary(zipFile);
  std::vector<std::unique_ptr<Precompressed>> precompressed;
  try {
    // The archive is built in memory, then written in a few large writes:
    // libzip writes a file in pieces of a few KiB, a system call each.
    zip_error_t error;
    zip_error_init(&error);
    std::unique_ptr<zip_source_t, SourceFreer> buffer(zip_source_buffer_create(nullptr, 0, 0, &error));
    if (!buffer) throw std::runtime_error("Cannot pack " + zipFile.string() + " (" + zip_error_strerror(&error) + ")");
    zip_source_keep(buffer.get());  // it outlives the archive, which writes into it
    std::unique_ptr<zip_t, ZipCloser> archive(zip_open_from_source(buffer.get(), ZIP_TRUNCATE, &error));
    if (!archive) {
      const std::string reason = zip_error_strerror(&error);
      zip_error_fini(&error);
      throw std::runtime_error("Cannot pack " + zipFile.string() + " (" + reason + ")");
    }
    zip_error_fini(&error);
    // Every entry is deflated here (files) or ahead (from memory) at the
    // fastest level of ISA-L, several times faster than libzip's own deflate:
    // project files shrink well at it, and saving stays quick.
    EntryDeflater deflater;
    for (const auto& [name, from] : entries) {
      std::shared_ptr<const DeflatedBytes> deflated;
      if (const auto* path = std::get_if<fs::path>(&from)) {
        try {
          deflater.add(readFileBytes(*path, std::numeric_limits<std::size_t>::max()));
        } catch (const std::exception& e) {
          throw std::runtime_error("Cannot pack " + name + ": " + e.what());
        }
        deflated = deflater.finish();
      } else if (const MemoryEntry& memory = *std::get<const MemoryEntry*>(from); memory.deflated) {
        deflated = memory.deflated;
      } else {
        deflater.add(memory.bytes);
        deflated = deflater.finish();
      }
      precompressed.push_back(std::make_unique<Precompressed>(std::move(deflated)));
      zip_source_t* source = precompressed.back()->source(archive.get());
      if (!source) throw std::runtime_error("Cannot pack " + name + ": " + zip_strerror(archive.get()));
      const zip_int64_t index = zip_file_add(archive.get(), name.c_str(), source, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE);
      if (index < 0) {
        zip_source_free(source);
        throw std::runtime_error("Cannot add " + name + ": " + zip_strerror(archive.get()));
      }
    }
    if (zip_close(archive.get()) != 0) {
      throw std::runtime_error("Cannot pack " + zipFile.string() + ": " + zip_strerror(archive.get()));
    }
    archive.release();
    writeSource(buffer.get(), temporary);
    flushToDisk(temporary);
    fs::rename(temporary, zipFile);
    flushToDisk(zipFile.parent_path().empty() ? fs::path(".") : zipFile.parent_path());
    removeStaleTemporaries(zipFile);
  } catch (...) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    throw;
  }
}

void HostInterface::writeFileAtomically(const fs::path& file, const std::string& bytes, bool flush) {
  const fs::path temporary = siblingTemporary(file);
  try {
    {
      std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      out.close();
      if (!out) throw std::runtime_error("Cannot write " + temporary.string());
    }
    if (flush) flushToDisk(temporary);
    fs::rename(temporary, file);
  } catch (...) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    throw;
  }
}

void HostInterface::flushToDisk(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("Cannot open " + path.string() + ": " + std::strerror(errno));
  const int rc = ::fsync(fd);
  const int saved = errno;
  ::close(fd);
  if (rc != 0) throw std::runtime_error("Cannot flush " + path.string() + ": " + std::strerror(saved));
}

fs::path HostInterface::createTemporaryFolder(const std::string& prefix) {
  std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("Cannot create a temporary folder: " + pattern);
  return pattern;
}

void HostInterface::removeFolder(const fs::path& folder) {
  std::error_code ignored;
  if (!folder.empty()) fs::remove_all(folder, ignored);
}

}  // namespace fennik::server
