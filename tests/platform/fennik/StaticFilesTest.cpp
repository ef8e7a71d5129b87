// Which files the browser client's folder serves: only files inside it,
// whatever the request path tries, with the right content types.

#include "support/StaticFilesFolder.h"

#include "fennik/server/net/StaticFiles.h"

#include <boost/beast/http.hpp>

namespace fennik::server::net {
namespace {

namespace http = boost::beast::http;
using qor::testing::AssetFolder;

TEST(StaticFilesTest, OnlyFilesInsideTheFolderAreServed) {
  AssetFolder folder;
  StaticFiles files(folder.root);

  auto status = [&](std::string_view target) { return files.resolve(target).status; };
  EXPECT_EQ(files.resolve("/").file.filename(), "index.html");
  EXPECT_EQ(files.resolve("/?token=x").file.filename(), "index.html");
  EXPECT_EQ(files.resolve("/app.js?token=x#top").file.filename(), "app.js");
  EXPECT_EQ(files.resolve("/assets/deep/a%20b.svg").file.filename(), "a b.svg");
  EXPECT_EQ(status("/alias.js"), 200) << "a link that stays inside is fine";

  // Traversal, plain, encoded, mixed and doubly encoded, and a link out.
  for (const char* target :
       {"/../secret.txt", "/assets/../../secret.txt", "/%2e%2e/secret.txt", "/%2E%2E%2Fsecret.txt",
        "/assets/%2e%2e/%2e%2e/secret.txt", "/.%2e/secret.txt", "/%252e%252e/secret.txt", "/leak.txt", "/./app.js",
        "/assets//style.css", "/.hidden", "/assets", "/assets/", "/missing.js", "//etc/passwd"}) {
    EXPECT_EQ(status(target), 404) << target;
  }
  // Targets that are no path at all.
  for (const char* target :
       {"", "app.js", "/%", "/%2", "/%zz", "/app%00.js", "/assets%5cstyle.css", "/a\\b", "http://host/app.js"}) {
    EXPECT_EQ(status(target), 400) << target;
  }
}

TEST(StaticFilesTest, AnswersCarryTheContentTypeAndOnlyGetAndHeadAreServed) {
  AssetFolder folder;
  StaticFiles files(folder.root);
  auto get = [&](const std::string& target, http::verb verb = http::verb::get) {
    http::request<http::string_body> req(verb, target, 11);
    return files.answer(req);
  };
  auto page = get("/");
  EXPECT_EQ(page.result(), http::status::ok);
  EXPECT_EQ(page[http::field::content_type], "text/html; charset=utf-8");
  EXPECT_EQ(page.body(), "<!doctype html><title>qor</title>");
  EXPECT_EQ(get("/app.js")[http::field::content_type], "text/javascript; charset=utf-8");
  EXPECT_EQ(get("/assets/style.css")[http::field::content_type], "text/css; charset=utf-8");
  EXPECT_EQ(get("/assets/deep/a%20b.svg")[http::field::content_type], "image/svg+xml");

  auto head = get("/app.js", http::verb::head);
  EXPECT_EQ(head.result(), http::status::ok);
  EXPECT_TRUE(head.body().empty());
  EXPECT_EQ(head[http::field::content_length], "14");

  EXPECT_EQ(get("/app.js", http::verb::post).result(), http::status::method_not_allowed);
  EXPECT_EQ(get("/../secret.txt").result(), http::status::not_found);
  EXPECT_EQ(get("/%zz").result(), http::status::bad_request);
  EXPECT_THROW(StaticFiles(folder.base / "nothing"), std::runtime_error);
}

}  // namespace
}  // namespace fennik::server::net
