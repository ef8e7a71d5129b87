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
#include <sstream>
#include <stdexcept>

namespace fennik::server {

namespace fs = std::filesystem;

FileContainer::FileContainer(fs::path folder) : folder_(std::move(folder)) {}

fs::path FileContainer::path(const std::string& name) const {
  const fs::path relative = fs::path(name).lexically_normal();
  if (name.empty() || relative.is_absolute() || relative.empty() || *relative.begin() == "..") {
    throw std::invalid_argument("Container entry name '" + name + "' leaves the project folder");
  }
  return folder_ / relative;
}

bool FileContainer::exists(const std::string& name) const {
  std::error_code ec;
  return fs::exists(path(name), ec);
}

bool FileContainer::has(const std::string& name) const {
  std::error_code ec;
  return fs::is_regular_file(path(name), ec);
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
  const fs::path file = path(name);
  // Closing a show writes every device's entry again, mostly unchanged:
  // comparing is a read from the page cache, writing makes a new file.
  if (holds(file, bytes)) return;
  fs::create_directories(file.parent_path());
  // The working folder is scratch space; only the packed project file is flushed.
  HostInterface::writeFileAtomically(file, bytes, false);
}

std::string FileContainer::get(const std::string& name) const {
  std::ifstream in(path(name), std::ios::binary);
  if (!in) throw std::runtime_error("The project has no entry '" + name + "'");
  // Read straight into a string of the file's size: a string stream would
  // grow by doubling and copy the whole entry once more at the end.
  std::string bytes;
  std::error_code ec;
  if (const auto size = fs::file_size(path(name), ec); !ec) bytes.reserve(static_cast<std::size_t>(size));
  char buffer[1 << 16];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
  return bytes;
}

bool FileContainer::unset(const std::string& name) const {
  std::error_code ec;
  const fs::path file = path(name);
  if (!fs::is_regular_file(file, ec)) return false;
  return fs::remove(file, ec);
}

bool FileContainer::rm(const std::string& name) const {
  std::error_code ec;
  const auto removed = fs::remove_all(path(name), ec);
  return !ec && removed != static_cast<std::uintmax_t>(-1) && removed > 0;
}

std::vector<std::string> FileContainer::ls(const std::string& folder) const {
  std::vector<std::string> names;
  const fs::path dir = folder.empty() ? folder_ : path(folder);
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::shared_ptr<FileContainer> FileContainer::scopedContainer(const std::string& name) const {
  const fs::path dir = path(name);
  fs::create_directories(dir);
  return std::make_shared<FileContainer>(dir);
}

std::string FileContainer::checksum(const std::vector<std::string>& skip,
                                    const std::vector<MemoryEntry>& fromMemory) const {
  // Sorted relative names make the sum independent of the folder's listing
  // order; a name maps to its entry in fromMemory, or to nothing for a file.
  std::map<std::string, const MemoryEntry*> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder_)) {
    if (entry.is_regular_file()) files.emplace(entry.path().lexically_relative(folder_).generic_string(), nullptr);
  }
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
