#pragma once
// Reading a whole file that came from outside (a speaker database, an SPS
// file) with a limit on its size, so a huge file is refused before it is read.

#include <cstddef>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace fennik::server {

class FileReadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The file's bytes. Throws FileReadError, with a message that starts with the
// file's path, when the file cannot be read or has more than `maxBytes`.
std::string readFileBytes(const std::filesystem::path& file, std::size_t maxBytes);

}  // namespace fennik::server
