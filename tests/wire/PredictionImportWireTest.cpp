// The prediction import over a real connection: the sample file makes its
// speakers and DSP settings; a file that is no JSON, breaks the format,
// names a product no installed database has or has a version this server
// does not read is refused, the user is told, and the project is exactly as
// it was.

#include "ServerFixture.h"

#include "custom/livesound/LivesoundController.h"
#include "custom/speakers/SpeakerModeId.h"
#include "qor/server/entities/All.h"
#include "qor/server/fbs/LivesoundCommands_generated.h"
#include "service/SpeakerDatabaseService.h"
#include "support/ProjectFiles.h"

#include "fennik/server/project/FileContainer.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>
#include <vector>

namespace qor::testing {
namespace {

namespace cmd = qor::server::fbs::cmd;
namespace fs = std::filesystem;
using qor::server::Device;
using qor::server::SpeakerDatabaseService;
constexpr const char* ROUTE = qor::server::LivesoundController::ROUTE;
const fs::path SAMPLE = fs::path(QOR_SOURCE_DIR) / "data" / "prediction" / "demo-venue.json";

// What the reply says, read from its table.
struct Reply {
  int status = -1;
  bool imported = false;
  std::string problem;
  std::vector<std::string> devices, dspSettings;
};

class PredictionImportWireTest : public ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    // A new project whose server knows the sample speaker databases.
    onLoop([&](EntityContext& c) {
      auto databases = c.services()->get<SpeakerDatabaseService>();
      databases->clearLoadPathes();
      databases->setDataFolder(scratch.path());
      databases->pushLoadPath((fs::path(QOR_SOURCE_DIR) / "data" / "speakerdb").string());
      databases->initialize();
      FileContainer container(scratch.path());
      databases->load(container);
      c.services()->forEach([](Service& s) { s.loaded(); });
    });
    connect(client);
  }

  Reply import(const std::string& file) {
    auto m =
        client.call(ROUTE, KspMethod::Custom, "/predictionImport", {}, table([&](flatbuffers::FlatBufferBuilder& b) {
                      return cmd::CreatePredictionImportArgs(b, b.CreateString(file));
                    }));
    Reply r;
    r.status = status(m);
    const auto* t = m ? tableOf<cmd::PredictionImportResult>(m->payload) : nullptr;
    if (!t) return r;
    r.imported = t->imported();
    if (t->problem()) r.problem = t->problem()->str();
    if (t->devices())
      for (const auto* id : *t->devices()) r.devices.push_back(id->str());
    if (t->dspSettings())
      for (const auto* id : *t->dspSettings()) r.dspSettings.push_back(id->str());
    return r;
  }
  std::map<std::string, Json> everything() {
    return read<std::map<std::string, Json>>([&] { return qor::server::testing::entitiesById(*context, true); });
  }

  qor::server::testing::ScratchFolder scratch;
  net::KspClient client;
};

TEST_F(PredictionImportWireTest, TheSampleFileMakesItsSpeakersPlacedOrientedAndModedWithTheirDspSettings) {
  const Reply r = import(qor::server::testing::readBytes(SAMPLE));
  ASSERT_EQ(r.status, 200);
  ASSERT_TRUE(r.imported) << r.problem;
  EXPECT_TRUE(r.problem.empty());
  ASSERT_EQ(r.devices.size(), 5u);
  ASSERT_EQ(r.dspSettings.size(), 3u);

  struct Expected {
    int x, y;
    qor::server::VisualItemOrientation orientation;
    std::string mode;
  };
  const std::string pointSource = "b38f4d4c-74ed-5a43-af7c-f589de0d8b23";
  const std::string mainMode =
      qor::server::makeSpeakerModeId("3a481d8b-3400-5d9f-b948-2eb7a7b116ad", "55516039-12d6-5c31-8777-7a33476fc4d4",
                                     "6bc8e81e-4af2-5ead-8acb-14174f4d4db0", pointSource);
  const std::string subMode =
      qor::server::makeSpeakerModeId("63665a7a-c72d-5584-9da3-57edebb52447", "ba1b16d9-9b85-5e9f-ad0b-4cc9395e74ea",
                                     "9537585b-3f60-5432-84c3-63d0c2192636", pointSource);
  const std::string fillMode =
      qor::server::makeSpeakerModeId("0bae48e7-ff7f-5c17-9286-5a08af912155", "608bd16b-e6c6-5595-9420-2e9fda4a28e4",
                                     "614d02cc-8e13-5222-aa6b-9845f11db0d0", pointSource);
  using O = qor::server::VisualItemOrientation;
  const std::vector<Expected> expected{{800, 400, O::EAST, mainMode},
                                       {800, 1200, O::EAST, subMode},
                                       {4000, 400, O::EAST, mainMode},
                                       {4000, 1200, O::EAST, subMode},
                                       {2400, 2000, O::SOUTH, fillMode}};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    onLoop([&](EntityContext& c) {
      const Device* d = c.db()->get<Device>(UuidFromS(r.devices[i]));
      ASSERT_TRUE(d);
      EXPECT_EQ(d->getType()->getImplementation(), qor::server::DeviceTypeImplementation::SPEAKER);
      EXPECT_EQ(d->getSpeakerMode()->getMode(), expected[i].mode);
      const auto* item = d->getVisualItem();
      EXPECT_EQ(item->getOrientation(), expected[i].orientation);
      // On the grid cell of the file's position (a turned item's corner may
      // fall between grid lines).
      EXPECT_LE(std::abs(item->getX() - expected[i].x), 7);
      EXPECT_LE(std::abs(item->getY() - expected[i].y), 7);
    });
  }

  onLoop([&](EntityContext& c) {
    const auto settings = c.db()->all<qor::server::PredictionDspSetting>();
    ASSERT_EQ(settings.size(), 3u);
    EXPECT_EQ(settings[1]->strId(), r.dspSettings[1]);
    EXPECT_EQ(nlohmann::json::parse(settings[1]->getSpeakerIds()), nlohmann::json({r.devices[1], r.devices[3]}));
    EXPECT_DOUBLE_EQ(settings[1]->getDelayInMs(), 2.5);
    EXPECT_TRUE(settings[1]->getDelayEnabled());
    EXPECT_DOUBLE_EQ(settings[1]->getGainInDb(), -3.0);
    EXPECT_TRUE(settings[1]->getGainEnabled());
    EXPECT_EQ(nlohmann::json::parse(settings[2]->getSpeakerIds()), nlohmann::json({r.devices[4]}));
    EXPECT_DOUBLE_EQ(settings[2]->getDelayInMs(), 12.75);
    EXPECT_DOUBLE_EQ(settings[2]->getGainInDb(), -6.5);
  });
}

TEST_F(PredictionImportWireTest, RefusedFilesAreNotifiedAndLeaveTheProjectExactlyAsItWas) {
  const std::string sample = qor::server::testing::readBytes(SAMPLE);
  ASSERT_TRUE(import(sample).imported);  // a project with something in it

  nlohmann::json missingPosition = nlohmann::json::parse(sample);
  missingPosition["speakerGroups"][1]["speaker"][0].erase("position");
  nlohmann::json unknownProduct = nlohmann::json::parse(sample);
  unknownProduct["speakerGroups"][2]["speaker"][0]["speakerDbProductId"] = "5f0c3a1e-2b7d-4c9e-8f61-0a2b3c4d5e6f";
  nlohmann::json newerVersion = nlohmann::json::parse(sample);
  newerVersion["schemaVersion"] = "0.2.0";

  struct Case {
    std::string file, title, text, problem;
  };
  const std::string invalid = "The given prediction file is not valid (according to the schema).";
  const std::vector<Case> cases{
      {sample.substr(0, sample.size() / 2), "PREVIEW import",
       "The given prediction file cannot be parsed as json file.", "parse error"},
      {missingPosition.dump(), "import", invalid, "speakerGroups[1].speaker[0]: \"position\" is missing"},
      {unknownProduct.dump(), "import", "The speaker database referenced in the prediction file is not supported.",
       "5f0c3a1e-2b7d-4c9e-8f61-0a2b3c4d5e6f"},
      {newerVersion.dump(), "import", invalid,
       "The prediction file version 0.2.0 is not supported by this application."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto before = everything();
    const Reply r = import(c.file);
    EXPECT_EQ(r.status, 200);
    EXPECT_FALSE(r.imported);
    EXPECT_NE(r.problem.find(c.problem), std::string::npos) << r.problem;
    EXPECT_TRUE(r.devices.empty());
    const auto n = nextNotification(client);
    EXPECT_EQ(n.title, c.title);
    EXPECT_EQ(n.text, c.text);
    EXPECT_EQ(n.type, 2);
    EXPECT_EQ(everything(), before);
  }

  // Without the file the request is incomplete.
  EXPECT_EQ(
      status(client.call(ROUTE, KspMethod::Custom, "/predictionImport", {},
                         table([](flatbuffers::FlatBufferBuilder& b) { return cmd::CreatePredictionImportArgs(b); }))),
      400);
}

}  // namespace
}  // namespace qor::testing
