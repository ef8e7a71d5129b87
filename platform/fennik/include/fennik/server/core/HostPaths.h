#pragma once
// Where the host runs from and where it keeps its own data (installed speaker
// databases, precompiled copies).

#include <filesystem>
#include <string>
#include <string_view>

namespace fennik::server {

// The folder of the running executable (the current folder when unknown).
std::filesystem::path executableFolder();

// The application's data folder: $QORSERVER_DATA_DIR when set, otherwise
// $XDG_DATA_HOME/qorserver, otherwise ~/.local/share/qorserver. Not created.
std::filesystem::path applicationDataFolder();

// A stable text per content: the SHA-1 of the bytes in 40 lower-case hex digits.
std::string contentChecksum(std::string_view bytes);

}  // namespace fennik::server
