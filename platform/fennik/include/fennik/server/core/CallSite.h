#pragma once

// Where a call was made: file and line for job labels and log lines.
// std::source_location needs a compiler builtin that clang before 15 lacks
// with libstdc++ (our fuzzing builds use clang 14); these builtins exist in
// gcc and clang alike and, as default arguments, name the caller's position.

namespace fennik::server {

class CallSite {
 public:
  static constexpr CallSite current(const char* file = __builtin_FILE(), unsigned line = __builtin_LINE()) noexcept {
    return CallSite(file, line);
  }
  constexpr const char* file_name() const noexcept { return file_; }
  constexpr unsigned line() const noexcept { return line_; }

 private:
  constexpr CallSite(const char* file, unsigned line) noexcept : file_(file), line_(line) {}
  const char* file_;
  unsigned line_;
};

}  // namespace fennik::server
