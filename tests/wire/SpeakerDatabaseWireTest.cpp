// Installing a speaker database over a real connection: the user learns the
// outcome from a notification, and a refused file changes nothing.

#include "ServerFixture.h"

#include "custom/livesound/LivesoundController.h"
#include "qor/server/entities/DeviceType.h"
#include "qor/server/entities/SpeakerDatabase.h"
#include "qor/server/fbs/LivesoundCommands_generated.h"
#include "service/SpeakerDatabaseService.h"
#include "support/ProjectFiles.h"

#include "fennik/server/core/FileBytes.h"
#include "fennik/server/project/FileContainer.h"

#include <filesystem>

namespace qor::testing {
namespace {

namespace cmd = qor::server::fbs::cmd;
namespace fs = std::filesystem;
using qor::server::SpeakerDatabaseService;

constexpr const char* ROUTE = qor::server::LivesoundController::ROUTE;
const fs::path SAMPLES = fs::path(QOR_SOURCE_DIR) / "data" / "speakerdb";

KspBytes installArgs(const std::string& bytes) {
  return table([&](flatbuffers::FlatBufferBuilder& b) {
    return cmd::CreateSpeakerDatabaseInstallFileArgs(
        b, b.CreateVector(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  });
}

class SpeakerDatabaseWireTest : public ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    // Only this test's folders: nothing shipped, an empty install folder.
    onLoop([&](EntityContext& c) {
      auto service = c.services()->get<SpeakerDatabaseService>();
      service->clearLoadPathes();
      service->setDataFolder(scratch.path());
      service->pushLoadPath(service->getInstallPath());
      service->initialize();
      FileContainer container(scratch.path());
      service->load(container);
    });
  }
  fs::path installFolder() {
    return read<std::string>([&] { return context->services()->get<SpeakerDatabaseService>()->getInstallPath(); });
  }
  std::size_t installedFiles() {
    const fs::path folder = installFolder();
    return fs::exists(folder) ? static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), {})) : 0;
  }
  std::vector<std::string> installedVersions() {
    return read<std::vector<std::string>>(
        [&] { return context->db()->all<qor::server::SpeakerDatabase>().at(0)->getInstalledVersions(); });
  }

  qor::server::testing::ScratchFolder scratch;
};

TEST_F(SpeakerDatabaseWireTest, InstallOnceThenRefuseAgainAndGarbage) {
  net::KspClient client;
  connect(client);
  const std::string sample = readFileBytes(SAMPLES / "fennik-demo-line-array-2.1.sdb", 1u << 20);

  EXPECT_EQ(status(client.call(ROUTE, KspMethod::Custom, "/speakerDatabaseInstallFile", {}, installArgs(sample))), 200);
  auto done = nextNotification(client);
  EXPECT_EQ(done.title, "Speaker Database");
  EXPECT_EQ(done.text, "The database was installed successfully.");
  EXPECT_EQ(installedVersions(), (std::vector<std::string>{"Fennik Demo Line Array 2.1"}));
  EXPECT_EQ(installedFiles(), 1u);
  // The products are device types now, keyed by product id.
  const auto speakers = read<std::size_t>([&] {
    std::size_t n = 0;
    for (auto* t : context->db()->all<qor::server::DeviceType>())
      n += t->getImplementation() == qor::server::DeviceTypeImplementation::SPEAKER;
    return n;
  });
  EXPECT_EQ(speakers, 3u);

  // The same bytes again, then garbage: refused, and nothing changes.
  for (const std::string& bytes : {sample, std::string("PK\x03\x04 not really an archive"), std::string("{]")}) {
    EXPECT_EQ(status(client.call(ROUTE, KspMethod::Custom, "/speakerDatabaseInstallFile", {}, installArgs(bytes))),
              200);
    auto refused = nextNotification(client);
    EXPECT_EQ(refused.title, "Speaker Database");
    EXPECT_EQ(refused.text, "The database couldn't be installed.");
    EXPECT_EQ(installedVersions(), (std::vector<std::string>{"Fennik Demo Line Array 2.1"}));
    EXPECT_EQ(installedFiles(), 1u);
  }

  // Without the file field the payload is incomplete.
  EXPECT_EQ(status(client.call(
                ROUTE, KspMethod::Custom, "/speakerDatabaseInstallFile", {},
                table([](flatbuffers::FlatBufferBuilder& b) { return cmd::CreateSpeakerDatabaseInstallFileArgs(b); }))),
            400);
}

}  // namespace
}  // namespace qor::testing
