#include "fennik/server/net/StaticFiles.h"

#include <boost/beast/http/field.hpp>
#include <boost/beast/http/verb.hpp>

#include <array>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace fennik::server::net {

namespace http = boost::beast::http;
namespace fs = std::filesystem;

namespace {

constexpr std::uintmax_t MAX_FILE_BYTES = 64 * 1024 * 1024;

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool isInside(const fs::path& root, const fs::path& file) {
  auto r = root.begin();
  auto f = file.begin();
  for (; r != root.end(); ++r, ++f) {
    if (f == file.end() || *r != *f) return false;
  }
  return f != file.end();
}

}  // namespace

StaticFiles::StaticFiles(const fs::path& root) {
  std::error_code ec;
  root_ = fs::canonical(root, ec);
  if (ec || !fs::is_directory(root_)) throw std::runtime_error("'" + root.string() + "' is no folder to serve");
}

std::optional<std::string> StaticFiles::decodePath(std::string_view target) {
  const auto end = target.find_first_of("?#");
  const auto raw = target.substr(0, end);
  if (raw.empty() || raw.front() != '/') return std::nullopt;
  std::string path;
  path.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    char c = raw[i];
    if (c == '%') {
      if (i + 2 >= raw.size()) return std::nullopt;
      const int hi = hexValue(raw[i + 1]);
      const int lo = hexValue(raw[i + 2]);
      if (hi < 0 || lo < 0) return std::nullopt;
      c = static_cast<char>(hi * 16 + lo);
      i += 2;
    }
    if (c == '\0' || c == '\\') return std::nullopt;
    path.push_back(c);
  }
  return path;
}

StaticFiles::Resolved StaticFiles::resolve(std::string_view target) const {
  Resolved result;
  auto path = decodePath(target);
  if (!path) {
    result.status = 400;
    return result;
  }
  if (*path == "/") *path = "/index.html";
  // Every segment must be a plain name: no "", ".", ".." or hidden file.
  fs::path relative;
  std::string_view rest(*path);
  rest.remove_prefix(1);
  while (true) {
    const auto slash = rest.find('/');
    const auto segment = rest.substr(0, slash);
    if (segment.empty() || segment.front() == '.') return result;
    relative /= std::string(segment);
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  std::error_code ec;
  // canonical() follows symbolic links, so a link that leads out of the
  // folder ends outside root_ and is refused below.
  const auto file = fs::canonical(root_ / relative, ec);
  if (ec || !isInside(root_, file) || !fs::is_regular_file(file, ec)) return result;
  result.status = 200;
  result.file = file;
  result.contentType = contentTypeFor(file);
  return result;
}

std::string_view StaticFiles::contentTypeFor(const fs::path& file) {
  static const std::array<std::pair<std::string_view, std::string_view>, 12> types{{
      {".html", "text/html; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".mjs", "text/javascript; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".json", "application/json"},
      {".map", "application/json"},
      {".svg", "image/svg+xml"},
      {".png", "image/png"},
      {".ico", "image/x-icon"},
      {".txt", "text/plain; charset=utf-8"},
      {".woff2", "font/woff2"},
      {".wasm", "application/wasm"},
  }};
  const auto ext = file.extension().string();
  for (const auto& [suffix, type] : types) {
    if (ext == suffix) return type;
  }
  return "application/octet-stream";
}

http::response<http::string_body> StaticFiles::answer(const http::request<http::string_body>& request) const {
  http::response<http::string_body> res;
  res.version(request.version());
  res.keep_alive(request.keep_alive());
  res.set(http::field::server, "qorserver");
  res.set("X-Content-Type-Options", "nosniff");
  auto text = [&](http::status status, std::string body) {
    res.result(status);
    res.set(http::field::content_type, "text/plain; charset=utf-8");
    res.body() = std::move(body);
    res.prepare_payload();
    return res;
  };
  const bool head = request.method() == http::verb::head;
  if (request.method() != http::verb::get && !head) {
    res.set(http::field::allow, "GET, HEAD");
    return text(http::status::method_not_allowed, "only GET and HEAD are served here\n");
  }
  const auto target = request.target();
  const auto resolved = resolve(std::string_view(target.data(), target.size()));
  if (resolved.status == 400) return text(http::status::bad_request, "malformed path\n");
  std::error_code ec;
  const auto size = resolved.status == 200 ? fs::file_size(resolved.file, ec) : 0;
  if (resolved.status != 200 || ec || size > MAX_FILE_BYTES) return text(http::status::not_found, "not found\n");
  std::ifstream in(resolved.file, std::ios::binary);
  std::ostringstream body;
  body << in.rdbuf();
  if (!in) return text(http::status::not_found, "not found\n");
  res.result(http::status::ok);
  res.set(http::field::content_type, std::string(resolved.contentType));
  // The assets change with every build; the browser asks again each time.
  res.set(http::field::cache_control, "no-cache");
  res.body() = body.str();
  res.prepare_payload();
  if (head) res.body().clear();
  return res;
}

}  // namespace fennik::server::net
