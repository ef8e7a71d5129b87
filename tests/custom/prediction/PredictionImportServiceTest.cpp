// The prediction import on a project that knows the sample speaker
// databases: what a file makes, what a refused file leaves (nothing), and
// how unknown speakers are dealt with.

#include "custom/LogCapture.h"
#include "custom/prediction/PredictionImportService.h"
#include "custom/speakers/SpeakerFixture.h"
#include "module/SerializerRegistration.h"

#include "fennik/server/service/NotificationService.h"

#include <nlohmann/json.hpp>

namespace qor::server::testing {
namespace {

using Json = nlohmann::json;

// A speaker entry of a 0.1.0 file.
Json speaker(const std::string& id, const std::string& product, const std::string& preset, const std::string& variant,
             int x, int y, const std::string& orientation = "HORIZONTAL") {
  return {{"speakerId", id},
          {"speakerDbProductId", product},
          {"speakerDbPresetId", preset},
          {"speakerDbElectroacousticVariantId", variant},
          {"position", {{"x", x}, {"y", y}}},
          {"orientation", orientation}};
}

Json dspSetting(std::vector<std::string> ids, double delay, bool delayOn, double gain, bool gainOn) {
  return {{"speakerIds", ids},
          {"delay", {{"valueInMs", delay}, {"enabled", delayOn}}},
          {"gain", {{"valueInDb", gain}, {"enabled", gainOn}}}};
}

Json file(Json speakers, Json settings = Json::array()) {
  return {
      {"schemaVersion", "0.1.0"}, {"speakerGroups", {{{"speaker", std::move(speakers)}}}}, {"dspSettings", settings}};
}

const std::string SUB_STANDARD = "63665a7a-c72d-5584-9da3-57edebb52447";
const std::string SUBWOOFER = "9537585b-3f60-5432-84c3-63d0c2192636";
const std::string MONITOR = "131fb1d4-4256-52f9-b85b-ccbb8e345fcb";  // a preset the DC4 does not offer

class PredictionImportTest : public SpeakerFixture {
 protected:
  PredictionImportTest() { registerEntitySerializers(db()); }

  PredictionImportService& importer() const { return *service<PredictionImportService>(); }
  std::vector<fennik::server::Notification> notifications() const { return context_->notifications()->history(); }
  std::vector<Device*> speakerDevices() const {
    std::vector<Device*> out;
    for (Device* d : db().all<Device>())
      if (d->getType() && d->getType()->getImplementation() == DeviceTypeImplementation::SPEAKER) out.push_back(d);
    return out;
  }
  static std::vector<std::string> idsOf(const PredictionDspSetting* s) {
    return Json::parse(s->getSpeakerIds()).get<std::vector<std::string>>();
  }
};

TEST_F(PredictionImportTest, TheSampleFileMakesPlacedOrientedModedSpeakersAndTheirDspSettings) {
  const auto result = importer().importFile(
      readBytes(std::filesystem::path(QOR_SOURCE_DIR) / "data" / "prediction" / "demo-venue.json"));
  ASSERT_TRUE(result.imported) << result.problem;
  EXPECT_TRUE(notifications().empty());
  ASSERT_EQ(speakerDevices().size(), 5u);
  ASSERT_EQ(result.devices.size(), 5u);
  // In file order: ML1 SL1 MR1 SR1 FF1.
  const auto& d = result.devices;
  const std::string DS18_SUB = makeSpeakerModeId(SUB_STANDARD, sample::DS18, SUBWOOFER, sample::POINT_SOURCE_DB);
  EXPECT_EQ(d[0]->getSpeakerMode()->getMode(), mode(sample::DP12, sample::STANDARD, sample::BI_AMPED));
  EXPECT_EQ(d[1]->getSpeakerMode()->getMode(), DS18_SUB);
  EXPECT_EQ(d[2]->getSpeakerMode()->getMode(), mode(sample::DP12, sample::STANDARD, sample::BI_AMPED));
  EXPECT_EQ(d[4]->getSpeakerMode()->getMode(), mode(sample::DC4, sample::SPEECH, sample::PASSIVE));
  // The bi-amped mains have two bands, each with its chain.
  ASSERT_EQ(bands(d[0]).size(), 2u);
  EXPECT_EQ(bands(d[0])[0]->getSupposedSpeakerDbDspChainId(), sample::HF_STANDARD);

  const std::vector<std::pair<int, int>> at{{800, 400}, {800, 1200}, {4000, 400}, {4000, 1200}, {2400, 2000}};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(d[i]->getVisualItem()->getX(), at[i].first) << i;
    EXPECT_EQ(d[i]->getVisualItem()->getY(), at[i].second) << i;
    EXPECT_EQ(d[i]->getVisualItem()->getOrientation(), VisualItemOrientation::EAST) << i;
  }
  // The vertical column is turned; its corner lands on the grid cell of the position.
  const VisualItem* column = d[4]->getVisualItem();
  EXPECT_EQ(column->getOrientation(), VisualItemOrientation::SOUTH);
  EXPECT_LE(std::abs(column->getX() - 2400), 7);
  EXPECT_LE(std::abs(column->getY() - 2000), 7);

  const auto settings = db().all<PredictionDspSetting>();
  ASSERT_EQ(settings.size(), 3u);
  EXPECT_EQ(idsOf(settings[0]), (std::vector<std::string>{d[0]->strId(), d[2]->strId()}));
  EXPECT_EQ(idsOf(settings[1]), (std::vector<std::string>{d[1]->strId(), d[3]->strId()}));
  EXPECT_DOUBLE_EQ(settings[1]->getDelayInMs(), 2.5);
  EXPECT_TRUE(settings[1]->getDelayEnabled());
  EXPECT_DOUBLE_EQ(settings[1]->getGainInDb(), -3.0);
  EXPECT_TRUE(settings[1]->getGainEnabled());
  EXPECT_EQ(idsOf(settings[2]), (std::vector<std::string>{d[4]->strId()}));
  EXPECT_DOUBLE_EQ(settings[2]->getDelayInMs(), 12.75);
  EXPECT_DOUBLE_EQ(settings[2]->getGainInDb(), -6.5);
  EXPECT_FALSE(settings[0]->getDelayEnabled());
  EXPECT_FALSE(settings[0]->getGainEnabled());

  // Turned: its sides are those of a column added by hand, swapped.
  const VisualItem* byHand = addSpeaker(mode(sample::DC4, sample::SPEECH, sample::PASSIVE))->getVisualItem();
  EXPECT_NE(byHand->getWidth(), byHand->getHeight());
  EXPECT_EQ(column->getWidth(), byHand->getHeight());
  EXPECT_EQ(column->getHeight(), byHand->getWidth());
}

TEST_F(PredictionImportTest, AnEmptyFileIsImportedAndChangesNothing) {
  const auto before = entitiesById(*context_, true);
  EXPECT_TRUE(importer().predictionImport(R"({"schemaVersion":"0.1.0","speakerGroups":[],"dspSettings":[]})"));
  EXPECT_EQ(entitiesById(*context_, true), before);
  EXPECT_TRUE(notifications().empty());
}

TEST_F(PredictionImportTest, RefusedFilesNotifyTheUserAndChangeNothing) {
  // Something in the project already, so "nothing changed" means something.
  ASSERT_TRUE(addSpeaker(mode(sample::DP12, sample::STANDARD, sample::PASSIVE)));
  const Json good = speaker("A", sample::DP12, sample::STANDARD, sample::PASSIVE, 80, 80);
  const auto with = [&](const Json& second) { return file(Json::array({good, second})).dump(); };
  Json noX = good;
  noX["speakerId"] = "B";
  noX["position"].erase("x");
  Json badUuid = good;
  badUuid["speakerId"] = "B";
  badUuid["speakerDbPresetId"] = "standard";
  Json offCanvas = good;
  offCanvas["speakerId"] = "B";
  offCanvas["position"]["y"] = 12000;
  Json unknownProduct = good;
  unknownProduct["speakerId"] = "B";
  unknownProduct["speakerDbProductId"] = "0d5e2c0a-9f6b-4e1d-8a3c-7b2e1f0d9c8a";
  Json negativeDelay = file(Json::array({good}), Json::array({dspSetting({"A"}, -1.0, true, 0.0, false)}));
  Json version = file(Json::array({good}));
  version["schemaVersion"] = "0.2.0";
  Json noVersion = file(Json::array({good}));
  noVersion.erase("schemaVersion");

  const std::string invalid = "The given prediction file is not valid (according to the schema).";
  struct Case {
    std::string text, title, message, problem;
  };
  const std::vector<Case> cases{
      {R"({"schemaVersion": "0.1.0", )", "PREVIEW import", "The given prediction file cannot be parsed as json file.",
       "parse error"},
      {R"({"schemaVersion": "0.1.0", "speakerGroups": [], "dspSettings": [{"gain": {"valueInDb": 1e400}}]})",
       "PREVIEW import", "The given prediction file cannot be parsed as json file.", "number overflow"},
      {"[1, 2]", "import", invalid, "expected a JSON object, found an array"},
      {noVersion.dump(), "import", invalid, "Couldn't read schema version from prediction file."},
      {version.dump(), "import", invalid, "The prediction file version 0.2.0 is not supported by this application."},
      {with(noX), "import", invalid, "speakerGroups[0].speaker[1].position: \"x\" is missing"},
      {with(badUuid), "import", invalid, "speakerGroups[0].speaker[1].speakerDbPresetId: \"standard\" is no UUID"},
      {with(offCanvas), "import", invalid, "speakerGroups[0].speaker[1].position.y: the position lies off the canvas"},
      {with(good), "import", invalid, "speakerGroups[0].speaker[1].speakerId: the id \"A\" is used twice"},
      {negativeDelay.dump(), "import", invalid, "dspSettings[0].delay.valueInMs: a delay cannot be negative"},
      {with(unknownProduct), "import", "The speaker database referenced in the prediction file is not supported.",
       "speaker \"B\": product 0d5e2c0a-9f6b-4e1d-8a3c-7b2e1f0d9c8a is in no installed speaker database"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto before = entitiesById(*context_, true);
    const std::size_t seen = notifications().size();
    LogCapture log;
    const auto result = importer().importFile(c.text);
    EXPECT_FALSE(result.imported);
    EXPECT_NE(result.problem.find(c.problem), std::string::npos) << result.problem;
    EXPECT_TRUE(log.contains(c.message));
    const auto told = notifications();
    ASSERT_EQ(told.size(), seen + 1);
    const auto& n = told.back();
    EXPECT_EQ(n.title, c.title);
    EXPECT_EQ(n.text, c.message);
    EXPECT_EQ(n.type, fennik::server::NotificationType::Error);
    EXPECT_EQ(entitiesById(*context_, true), before);
  }
}

TEST_F(PredictionImportTest, UnknownSpeakersAreSkippedAndLeftOutOfTheirSettings) {
  LogCapture log;
  const Json speakers = Json::array({
      speaker("known", sample::DC4, sample::SPEECH, sample::PASSIVE, 160, 160, "diagonal"),
      speaker("no-such-mode", sample::DC4, MONITOR, sample::PASSIVE, 320, 160),
      speaker("upright", sample::DP12, sample::SPEECH, sample::BI_AMPED, 480, 480, "VERTICAL"),
  });
  const Json settings = Json::array({
      dspSetting({"no-such-mode"}, 1.0, true, -1.0, true),
      dspSetting({"not-in-the-file", "known"}, 0.5, true, 0.0, false),
  });
  const auto result = importer().importFile(file(speakers, settings).dump());
  ASSERT_TRUE(result.imported) << result.problem;
  EXPECT_TRUE(log.contains("Import from prediction file contains a speaker which we don't know."));
  ASSERT_EQ(speakerDevices().size(), 2u);
  ASSERT_EQ(result.devices.size(), 2u);
  // Any orientation but "VERTICAL" leaves the item as it comes.
  EXPECT_EQ(result.devices[0]->getVisualItem()->getOrientation(), VisualItemOrientation::EAST);
  EXPECT_EQ(result.devices[0]->getVisualItem()->getX(), 160);
  EXPECT_EQ(result.devices[1]->getVisualItem()->getOrientation(), VisualItemOrientation::SOUTH);
  EXPECT_EQ(result.devices[1]->getSpeakerMode()->getMode(), mode(sample::DP12, sample::SPEECH, sample::BI_AMPED));

  const auto made = db().all<PredictionDspSetting>();
  ASSERT_EQ(made.size(), 2u);
  EXPECT_TRUE(idsOf(made[0]).empty());
  EXPECT_DOUBLE_EQ(made[0]->getDelayInMs(), 1.0);
  EXPECT_EQ(idsOf(made[1]), (std::vector<std::string>{result.devices[0]->strId()}));
  EXPECT_TRUE(notifications().empty());
}

}  // namespace
}  // namespace qor::server::testing
