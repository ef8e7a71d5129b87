// Who may connect: loopback by default; anything else only with a token,
// which every client must then present.

#include "ServerFixture.h"

namespace qor::testing {
namespace {

class TokenTest : public ServerFixture {
 protected:
  void SetUp() override {
    net::KspServerOptions options;
    options.token = "s3cret";
    startServer(options);
  }
};

TEST_F(TokenTest, ClientsWithoutTheTokenAreRefused) {
  net::KspClient anonymous;
  try {
    connect(anonymous);
    FAIL() << "connected without the token";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("refused"), std::string::npos) << e.what();
  }
  net::KspClient wrong;
  EXPECT_THROW(connect(wrong, "guess"), std::runtime_error);

  net::KspClient member;
  connect(member, "s3cret");
  auto reply = member.call("qor::server::FtDelay", KspMethod::Index);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status, 200);
}

TEST(KspServerOptionsTest, OtherAddressesNeedATokenAndBadAddressesFail) {
  auto context = EntityContext::create(JobLoop::Mode::Manual);
  auto dispatcher = std::make_shared<KspDispatcher>();
  auto hub = std::make_shared<net::SubscriptionHub>(context);
  net::KspServerOptions open;
  open.listen = "0.0.0.0";
  net::KspServer exposed(open, dispatcher, hub);
  try {
    exposed.start();
    FAIL() << "served every address without a token";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("--token"), std::string::npos) << e.what();
  }
  net::KspServerOptions nonsense;
  nonsense.listen = "not-an-address";
  net::KspServer broken(nonsense, dispatcher, hub);
  EXPECT_THROW(broken.start(), std::runtime_error);
}

}  // namespace
}  // namespace qor::testing
