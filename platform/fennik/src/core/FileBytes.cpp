#include "fennik/server/core/FileBytes.h"

#include <fmt/format.h>

#include <fstream>
#include <iterator>

namespace fennik::server {

std::string readFileBytes(const std::filesystem::path& file, std::size_t maxBytes) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(file, ec);
  if (ec) throw FileReadError(fmt::format("{}: cannot be read: {}", file.string(), ec.message()));
  if (size > maxBytes)
    throw FileReadError(fmt::format("{}: {} bytes is more than the {} bytes allowed", file.string(), size, maxBytes));
  std::ifstream in(file, std::ios::binary);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  if (!in.read(bytes.data(), static_cast<std::streamsize>(size)) || in.peek() != std::char_traits<char>::eof())
    throw FileReadError(fmt::format("{}: cannot be read (it changed while being read)", file.string()));
  return bytes;
}

}  // namespace fennik::server
