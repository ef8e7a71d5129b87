#pragma once
// An asset folder for the static-file tests, beside a secret that must stay
// unreachable (a symbolic link inside points at it).

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace qor::testing {

namespace fs = std::filesystem;

// An asset folder beside a secret that must stay unreachable.
struct AssetFolder {
  fs::path base = fs::temp_directory_path() / ("qor-static-" + std::to_string(::getpid()) + "-" +
                                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
  fs::path root = base / "web";

  AssetFolder() {
    fs::remove_all(base);
    fs::create_directories(root / "assets" / "deep");
    write(root / "index.html", "<!doctype html><title>qor</title>");
    write(root / "app.js", "console.log(1)");
    write(root / "assets" / "style.css", "body{}");
    write(root / "assets" / "deep" / "a b.svg", "<svg/>");
    write(root / ".hidden", "hidden");
    write(base / "secret.txt", "secret");
    fs::create_symlink(base / "secret.txt", root / "leak.txt");
    fs::create_symlink(root / "app.js", root / "alias.js");
  }
  ~AssetFolder() { fs::remove_all(base); }

  static void write(const fs::path& file, const std::string& text) { std::ofstream(file) << text; }
};

}  // namespace qor::testing
