#include "fennik/server/project/FileContainer.h"

#include "fennik/server/core/FileBytes.h"
#include "fennik/server/project/HostInterface.h"

#include "EntryDeflater.h"

#include <isa-l/crc.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>

namespace fennik::server {

namespace fs = std::filesystem;

// The entries held in memory, shared by a container and its scoped ones,
// keyed by their names relative to the outermost folder.
struct FileContainer::Held {
  explicit Held(fs::path root) : root(std::move(root)) {}
  const fs::path root;
  mutable std::mutex mutex;
  std::map<std::string, std::shared_ptr<const DeflatedBytes>> entries;

  // The entry `key` and, taken as a folder, every entry below it; the caller
  // holds the mutex.
  bool holdsAt(const std::string& key) const {
    if (entries.count(key)) return true;
    auto it = entries.lower_bound(key + '/');
    return it != entries.end() && it->first.starts_with(key + '/');
  }
  std::map<std::string, std::shared_ptr<const DeflatedBytes>> extractAt(const std::string& key) {
    std::map<std::string, std::shared_ptr<const DeflatedBytes>> out;
    if (auto it = entries.find(key); it != entries.end()) out.insert(entries.extract(it));
    for (auto it = entries.lower_bound(key + '/'); it != entries.end() && it->first.starts_with(key + '/');) {
      out.insert(entries.extract(it++));
    }
    return out;
  }
};

namespace {

fs::path relativeName(const std::string& name) {
  const fs::path relative = fs::path(name).lexically_normal();
  if (name.empty() || relative.is_absolute() || relative.empty() || *relative.begin() == "..") {
    throw std::invalid_argument("Container entry name '" + name + "' leaves the project folder");
  }
  return relative;
}

}  // namespace

FileContainer::FileContainer(fs::path folder) : folder_(std::move(folder)), held_(std::make_shared<Held>(folder_)) {}

FileContainer::FileContainer(fs::path folder, std::shared_ptr<Held> held, std::string prefix)
    : folder_(std::move(folder)), held_(std::move(held)), prefix_(std::move(prefix)) {}

std::string FileContainer::key(const std::string& name) const {
  std::string k = prefix_ + relativeName(name).generic_string();
  while (k.ends_with('/')) k.pop_back();
  return k;
}

fs::path FileContainer::path(const std::string& name) const {
  const fs::path file = folder_ / relativeName(name);
  release(key(name));
  return file;
}

std::shared_ptr<const DeflatedBytes> FileContainer::heldEntry(const std::string& key) const {
  std::lock_guard lock(held_->mutex);
  auto it = held_->entries.find(key);
  return it == held_->entries.end() ? nullptr : it->second;
}

void FileContainer::release(const std::string& key) const {
  std::map<std::string, std::shared_ptr<const DeflatedBytes>> out;
  {
    std::lock_guard lock(held_->mutex);
    out = held_->extractAt(key);
  }
  for (const auto& [name, deflated] : out) {
    const fs::path file = held_->root / name;
    fs::create_directories(file.parent_path());
    HostInterface::writeFileAtomically(file, inflated(*deflated), false);
  }
}

void FileContainer::hold(const std::string& name, std::shared_ptr<const DeflatedBytes> deflated) const {
  const std::string k = key(name);
  std::error_code ignored;
  fs::remove(held_->root / k, ignored);
  std::lock_guard lock(held_->mutex);
  held_->entries[k] = std::move(deflated);
}

namespace {
std::shared_ptr<const DeflatedBytes> deflatedOnce(std::string_view bytes) {
  EntryDeflater deflater;
  deflater.add(bytes);
  return compacted(*deflater.finish());
}
}  // namespace

void FileContainer::hold(const std::string& name, std::string_view bytes) const { hold(name, deflatedOnce(bytes)); }

std::vector<MemoryEntry> FileContainer::heldEntries() const {
  std::vector<MemoryEntry> held;
  std::lock_guard lock(held_->mutex);
  for (auto it = held_->entries.lower_bound(prefix_); it != held_->entries.end() && it->first.starts_with(prefix_);
       ++it) {
    held.emplace_back(it->first.substr(prefix_.size()), std::string_view(), it->second);
  }
  return held;
}

bool FileContainer::exists(const std::string& name) const {
  const std::string k = key(name);
  {
    std::lock_guard lock(held_->mutex);
    if (held_->holdsAt(k)) return true;
  }
  std::error_code ec;
  return fs::exists(folder_ / relativeName(name), ec);
}

bool FileContainer::has(const std::string& name) const {
  if (heldEntry(key(name))) return true;
  std::error_code ec;
  return fs::is_regular_file(folder_ / relativeName(name), ec);
}

void FileContainer::store(const std::string& name, const Json& document, int indent) const {
  set(name, document.dump(indent));
}

Json FileContainer::load(const std::string& name) const {
  if (!has(name)) throw std::runtime_error("The project has no entry '" + name + "'");
  return parse(name, get(name));
}

Json FileContainer::parse(const std::string& name, const std::string& text) {
  try {
    return Json::parse(text);
  } catch (const Json::parse_error& e) {
    throw std::runtime_error("The project entry '" + name + "' is no valid JSON: " + e.what());
  }
}

namespace {

// Whether `file` already holds exactly `bytes`.
bool holds(const fs::path& file, const std::string& bytes) {
  std::error_code ec;
  if (fs::file_size(file, ec) != bytes.size() || ec) return false;
  try {
    return readFileBytes(file, bytes.size()) == bytes;
  } catch (const FileReadError&) {
    return false;
  }
}

}  // namespace

void FileContainer::set(const std::string& name, const std::string& bytes) const {
  const std::string k = key(name);
  if (const auto held = heldEntry(k)) {
    const bool same =
        held->size == bytes.size() &&
        held->crc == crc32_gzip_refl(0, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()) &&
        inflated(*held) == bytes;
    if (same) return;
    auto deflated = deflatedOnce(bytes);
    std::lock_guard lock(held_->mutex);
    held_->entries[k] = std::move(deflated);
    return;
  }
  const fs::path file = folder_ / relativeName(name);
  // Closing a show writes every device's entry again, mostly unchanged:
  // comparing is a read from the page cache, writing makes a new file.
  if (holds(file, bytes)) return;
  fs::create_directories(file.parent_path());
  // The working folder is scratch space; only the packed project file is flushed.
  HostInterface::writeFileAtomically(file, bytes, false);
}

std::string FileContainer::get(const std::string& name) const {
  if (const auto held = heldEntry(key(name))) {
    try {
      return inflated(*held);
    } catch (const std::exception& e) {
      throw std::runtime_error("The project entry '" + name + "' cannot be read: " + e.what());
    }
  }
  const fs::path file = folder_ / relativeName(name);
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("The project has no entry '" + name + "'");
  // Read straight into a string of the file's size: a string stream would
  // grow by doubling and copy the whole entry once more at the end.
  std::string bytes;
  std::error_code ec;
  if (const auto size = fs::file_size(file, ec); !ec) bytes.reserve(static_cast<std::size_t>(size));
  char buffer[1 << 16];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
  return bytes;
}

std::uintmax_t FileContainer::size(const std::string& name) const {
  if (const auto held = heldEntry(key(name))) return held->size;
  std::error_code ec;
  const auto bytes = fs::file_size(folder_ / relativeName(name), ec);
  if (ec) throw std::runtime_error("The project has no entry '" + name + "' (" + ec.message() + ")");
  return bytes;
}

bool FileContainer::unset(const std::string& name) const {
  {
    std::lock_guard lock(held_->mutex);
    if (held_->entries.erase(key(name))) return true;
  }
  std::error_code ec;
  const fs::path file = folder_ / relativeName(name);
  if (!fs::is_regular_file(file, ec)) return false;
  return fs::remove(file, ec);
}

bool FileContainer::rm(const std::string& name) const {
  bool held = false;
  {
    std::lock_guard lock(held_->mutex);
    held = !held_->extractAt(key(name)).empty();
  }
  std::error_code ec;
  const auto removed = fs::remove_all(folder_ / relativeName(name), ec);
  return held || (!ec && removed != static_cast<std::uintmax_t>(-1) && removed > 0);
}

std::vector<std::string> FileContainer::ls(const std::string& folder) const {
  std::set<std::string> names;
  const fs::path dir = folder.empty() ? folder_ : folder_ / relativeName(folder);
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    names.insert(it->path().filename().string());
  }
  // Held entries directly inside, and the sub-folders that hold some.
  const std::string inside = folder.empty() ? prefix_ : key(folder) + '/';
  std::lock_guard lock(held_->mutex);
  for (auto it = held_->entries.lower_bound(inside); it != held_->entries.end() && it->first.starts_with(inside);
       ++it) {
    const std::string rest = it->first.substr(inside.size());
    names.insert(rest.substr(0, rest.find('/')));
  }
  return {names.begin(), names.end()};
}

std::shared_ptr<FileContainer> FileContainer::scopedContainer(const std::string& name) const {
  const fs::path dir = folder_ / relativeName(name);
  fs::create_directories(dir);
  return std::shared_ptr<FileContainer>(new FileContainer(dir, held_, key(name) + '/'));
}

std::string FileContainer::checksum(const std::vector<std::string>& skip,
                                    const std::vector<MemoryEntry>& fromMemory) const {
  // Sorted relative names make the sum independent of the folder's listing
  // order; a name maps to its entry in fromMemory, or to nothing for a file.
  std::map<std::string, const MemoryEntry*> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder_)) {
    if (entry.is_regular_file()) files.emplace(entry.path().lexically_relative(folder_).generic_string(), nullptr);
  }
  const std::vector<MemoryEntry> held = heldEntries();
  for (const auto& entry : held) files[entry.name] = &entry;
  for (const auto& entry : fromMemory) files[entry.name] = &entry;
  std::uint32_t crc = 0;
  auto add = [&crc](std::string_view bytes) {
    crc = crc32_gzip_refl(crc, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  };
  for (const auto& [name, memory] : files) {
    if (std::find(skip.begin(), skip.end(), name) != skip.end()) continue;
    add(std::string_view(name.c_str(), name.size() + 1));  // with the terminating zero as separator
    if (memory && memory->deflated) {
      // Summed as it was deflated; the sum of the whole follows from the two.
      crc = static_cast<std::uint32_t>(
          crc32_combine(crc, memory->deflated->crc, static_cast<z_off_t>(memory->deflated->size)));
    } else if (memory) {
      add(memory->bytes);
    } else {
      add(get(name));
    }
  }
  char text[9];
  std::snprintf(text, sizeof text, "%08lx", static_cast<unsigned long>(crc));
  return text;
}

}  // namespace fennik::server
