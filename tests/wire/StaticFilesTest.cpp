// The browser client's files on the Ksp port: kept-alive HTTP beside the
// WebSocket, with the same token rule.

#include "ServerFixture.h"

#include "fennik/server/net/StaticFiles.h"
#include "support/StaticFilesFolder.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

namespace qor::testing {
namespace {

namespace http = boost::beast::http;

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
