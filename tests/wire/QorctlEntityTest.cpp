// qorctl against a server that holds entities: show prints every field as
// JSON, update writes typed values, watch prints the change, and a command's
// result table is printed as JSON.

#include "ServerFixture.h"

#include "apps/ChildProcess.h"
#include "qor/server/entities/All.h"

#include <nlohmann/json.hpp>

namespace qor::testing {
namespace {

class QorctlEntityTest : public ServerFixture {
 protected:
  std::string url() const { return "ws://127.0.0.1:" + std::to_string(server().port()) + "/ksp"; }
  int qorctl(std::vector<std::string> args, std::string& out) {
    args.insert(args.begin(), {QORCTL_PATH, "--url", url()});
    return runToCompletion(args, out);
  }
};

TEST_F(QorctlEntityTest, ShowUpdateAndWatchAnEntity) {
  auto* delay = create<qor::server::FtDelay>();
  std::string out;

  ASSERT_EQ(qorctl({"show", delay->strId()}, out), 0) << out;
  auto shown = nlohmann::json::parse(out);
  EXPECT_EQ(shown["type"], "FtDelay");
  EXPECT_EQ(shown["entity"]["id"], delay->strId());
  EXPECT_EQ(shown["entity"]["label"], NIL_UUID_TEXT);
  EXPECT_EQ(shown["entity"]["source"], "UNKNOWN");
  EXPECT_EQ(shown["entity"]["delayInMsDecimals"], 2);
  EXPECT_EQ(shown["entity"]["isBypassed"], false);

  ChildProcess watcher({QORCTL_PATH, "--url", url(), "watch", "FtDelay", "--count", "1"});
  // Wait until the watcher has subscribed (its entity is watched).
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (read<std::size_t>([&] { return hub->watchedEntityCount(); }) == 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  ASSERT_EQ(qorctl({"update", "FtDelay", delay->strId(), "delayInMs=2.5", "isBypassed=true"}, out), 0) << out;
  EXPECT_EQ(nlohmann::json::parse(out)["status"], 204);
  EXPECT_EQ(read<double>([&] { return delay->getDelayInMs(); }), 2.5);
  EXPECT_TRUE(read<bool>([&] { return delay->getIsBypassed(); }));

  EXPECT_EQ(watcher.wait(30000), 0) << watcher.output();
  auto event = nlohmann::json::parse(watcher.output().substr(0, watcher.output().find('\n')));
  EXPECT_EQ(event["event"], "changed");
  EXPECT_EQ(event["id"], delay->strId());
  EXPECT_EQ(event["entity"]["delayInMs"], 2.5);
}

TEST_F(QorctlEntityTest, CallPrintsTheCommandsResultTable) {
  // A project as a user opens it: a current window to add the layer to.
  onLoop([](EntityContext& c) { c.services()->forEach([](Service& s) { s.loaded(); }); });
  std::string out;
  ASSERT_EQ(qorctl({"call", "/layerAdd"}, out), 0) << out;
  auto printed = nlohmann::json::parse(out);
  EXPECT_EQ(printed["status"], 200);
  const std::string id = printed["result"]["layer"];
  auto* layer =
      read<qor::server::Layer*>([&] { return context->db()->get<qor::server::Layer>(fennik::server::UuidFromS(id)); });
  EXPECT_NE(layer, nullptr) << out;

  // A command without a result table prints its status only.
  ASSERT_EQ(qorctl({"call", "/layerSelect", "layer=" + id}, out), 0) << out;
  printed = nlohmann::json::parse(out);
  EXPECT_EQ(printed["status"], 200);
  EXPECT_FALSE(printed.contains("result"));
}

}  // namespace
}  // namespace qor::testing
