// libFuzzer target: arbitrary bytes as the target of an HTTP request for the
// browser client's files. Whatever the target, an answer of 200 names a
// regular file inside the asset folder, and the secret beside the folder
// (reachable through "..", encodings and a symbolic link) is never served.
// Build with the "fuzz" preset (clang); run:
//   build/fuzz/bin/static_files_fuzz -max_total_time=300 fuzz/corpus-static-files

#include "fennik/server/net/StaticFiles.h"

#include <unistd.h>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Folder {
  fs::path base = fs::temp_directory_path() / ("qor-static-fuzz-" + std::to_string(::getpid()));
  fs::path root = base / "web";
  Folder() {
    fs::create_directories(root / "assets");
    std::ofstream(root / "index.html") << "page";
    std::ofstream(root / "assets" / "app.js") << "script";
    std::ofstream(base / "secret.txt") << "secret";
    std::error_code ec;
    fs::create_symlink(base / "secret.txt", root / "leak.txt", ec);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Folder folder;
  static fennik::server::net::StaticFiles files(folder.root);
  const std::string target(reinterpret_cast<const char*>(data), size);
  const auto resolved = files.resolve(target);
  if (resolved.status == 200) {
    const auto rel = resolved.file.lexically_relative(files.root());
    if (rel.empty() || *rel.begin() == ".." || !fs::is_regular_file(resolved.file)) std::abort();
    if (resolved.file.filename() == "secret.txt") std::abort();
  }
  return 0;
}
