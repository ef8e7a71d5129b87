#include "fennik/server/core/HostPaths.h"

#include <fmt/format.h>
#include <boost/uuid/detail/sha1.hpp>

#include <unistd.h>

#include <array>
#include <cstdlib>

namespace fennik::server {

std::filesystem::path executableFolder() {
  std::array<char, 4096> buffer{};
  const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return std::filesystem::current_path();
  return std::filesystem::path(std::string(buffer.data(), static_cast<std::size_t>(n))).parent_path();
}

std::filesystem::path applicationDataFolder() {
  if (const char* dir = std::getenv("QORSERVER_DATA_DIR"); dir && *dir) return dir;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) return std::filesystem::path(xdg) / "qorserver";
  if (const char* home = std::getenv("HOME"); home && *home)
    return std::filesystem::path(home) / ".local" / "share" / "qorserver";
  return std::filesystem::temp_directory_path() / "qorserver";
}

std::string contentChecksum(std::string_view bytes) {
  boost::uuids::detail::sha1 sha;
  sha.process_bytes(bytes.data(), bytes.size());
  boost::uuids::detail::sha1::digest_type digest;
  sha.get_digest(digest);
  std::string text;
  for (unsigned word : digest) text += fmt::format("{:08x}", word);
  return text;
}

}  // namespace fennik::server
