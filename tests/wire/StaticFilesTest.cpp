// The browser client's files on the Ksp port: only files of the asset
// folder, whatever the request path tries, with the right content types and
// the same token rule as the WebSocket.

#include "ServerFixture.h"

#include "fennik/server/net/StaticFiles.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <fstream>

namespace qor::testing {
namespace {

namespace fs = std::filesystem;
namespace http = boost::beast::http;

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

TEST(StaticFilesTest, OnlyFilesInsideTheFolderAreServed) {
  AssetFolder folder;
  net::StaticFiles files(folder.root);

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
  net::StaticFiles files(folder.root);
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
  EXPECT_THROW(net::StaticFiles(folder.base / "nothing"), std::runtime_error);
}

class ServedFilesTest : public ServerFixture {
 protected:
  AssetFolder folder;
  void SetUp() override {
    net::KspServerOptions options;
    options.token = "s3cret";
    options.files = std::make_shared<net::StaticFiles>(folder.root);
    startServer(options);
  }

  // Requests on one connection; returns the answers.
  std::vector<http::response<http::string_body>> fetch(const std::vector<http::request<http::string_body>>& requests) {
    boost::asio::io_context ioc;
    boost::beast::tcp_stream stream(ioc);
    stream.connect(boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), server().port()));
    boost::beast::flat_buffer buffer;
    std::vector<http::response<http::string_body>> answers;
    for (auto req : requests) {
      req.set(http::field::host, "127.0.0.1");
      http::write(stream, req);
      http::response<http::string_body> res;
      http::read(stream, buffer, res);
      answers.push_back(std::move(res));
    }
    return answers;
  }

  static http::request<http::string_body> get(const std::string& target) {
    return http::request<http::string_body>(http::verb::get, target, 11);
  }
};

TEST_F(ServedFilesTest, ThePageNeedsTheTokenLikeTheWebSocket) {
  EXPECT_EQ(fetch({get("/")})[0].result(), http::status::unauthorized);
  EXPECT_EQ(fetch({get("/?token=guess")})[0].result(), http::status::unauthorized);

  // One kept-alive connection: the page, its script, a traversal attempt.
  auto bearer = get("/app.js");
  bearer.set(http::field::authorization, "Bearer s3cret");
  auto answers = fetch({get("/?token=s3cret"), bearer, get("/..%2fsecret.txt?token=s3cret")});
  EXPECT_EQ(answers[0].result(), http::status::ok);
  EXPECT_EQ(answers[0].body(), "<!doctype html><title>qor</title>");
  EXPECT_EQ(answers[1].result(), http::status::ok);
  EXPECT_EQ(answers[1].body(), "console.log(1)");
  EXPECT_EQ(answers[2].result(), http::status::not_found);
  EXPECT_EQ(answers[2].body().find("secret"), std::string::npos);

  // The WebSocket goes on working beside the files.
  net::KspClient client;
  connect(client, "s3cret");
  auto reply = client.call("qor::server::FtDelay", KspMethod::Index);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status, 200);
  EXPECT_EQ(server().pageUrl(), "http://127.0.0.1:" + std::to_string(server().port()) + "/");
}

}  // namespace
}  // namespace qor::testing
