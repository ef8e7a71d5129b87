#pragma once
// Serves the files of one folder over HTTP (the browser client's built
// assets), on the Ksp port beside the WebSocket endpoint. Request targets
// are untrusted: a target is percent-decoded once, and anything that could
// name a file outside the folder (a ".." or "." segment, a backslash, a NUL,
// a bad escape, a symbolic link that leads out) is refused. Folders are
// never listed; "/" is the folder's index.html.

#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace fennik::server::net {

class StaticFiles {
 public:
  // The folder must exist; throws std::runtime_error naming it otherwise.
  explicit StaticFiles(const std::filesystem::path& root);

  const std::filesystem::path& root() const { return root_; }

  struct Resolved {
    int status = 404;            // 200: file is set; 400 a malformed target; 404 nothing to serve
    std::filesystem::path file;  // canonical, inside root()
    std::string_view contentType;
  };
  // Maps a request target ("/app.js?token=..") to a regular file of the folder.
  Resolved resolve(std::string_view target) const;

  // The whole answer to one request: GET and HEAD of a file, 400/404 with a
  // short text, 405 for other methods. Keeps the request's keep-alive.
  boost::beast::http::response<boost::beast::http::string_body> answer(
      const boost::beast::http::request<boost::beast::http::string_body>& request) const;

  // The path of a target, percent-decoded; empty when the target is malformed.
  static std::optional<std::string> decodePath(std::string_view target);
  static std::string_view contentTypeFor(const std::filesystem::path& file);

 private:
  std::filesystem::path root_;
};

}  // namespace fennik::server::net
