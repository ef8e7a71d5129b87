// Loudspeakers as an engineer adds them: from a speaker database's product in
// one of its modes, drawn at the product's size, with one speaker input and
// one speaker setting per band of the mode, and modes changed later on a
// speaker or on a whole group of speakers.

#include "custom/catalog/CatalogService.h"
#include "custom/speakers/SpeakerFixture.h"

#include "qor/server/services/DeviceService.h"
#include "qor/server/services/DeviceTypeService.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace qor::server::testing {
namespace {

using fennik::server::Uuid;
using sample::BI_AMPED;
using sample::DP12;
using sample::PASSIVE;
using sample::SPEECH;
using sample::STANDARD;

class SpeakerServiceTest : public SpeakerFixture {
 protected:
  static std::vector<std::string> chainsOf(const Device* d) {
    std::vector<std::string> out;
    for (const auto* s : bands(d)) out.push_back(s->getSupposedSpeakerDbDspChainId());
    return out;
  }
};

TEST_F(SpeakerServiceTest, ASpeakerAddedInAModeIsTheProductWithOneInputAndSettingPerBand) {
  Device* speaker = addSpeaker(mode(DP12, STANDARD, BI_AMPED));
  ASSERT_NE(speaker, nullptr);
  // Its device type is the product: the type's id is the product id.
  EXPECT_EQ(speaker->getType()->strId(), DP12);
  EXPECT_EQ(speaker->getImplementation(), DeviceTypeImplementation::SPEAKER);
  EXPECT_EQ(speaker->getType()->getModel(), "DP12");
  EXPECT_EQ(speaker->getDeviceInfo()->getModel(), "DP12");
  EXPECT_EQ(nameOf(speaker), "Speaker1");
  EXPECT_EQ(speaker->getSpeakerMode()->getMode(), mode(DP12, STANDARD, BI_AMPED));
  // The four modes the product offers: two presets, two variants.
  EXPECT_EQ(nlohmann::json::parse(speaker->getSpeakerMode()->getAvailableModes()).size(), 4u);

  ASSERT_EQ(bands(speaker).size(), 2u);
  EXPECT_EQ(chainsOf(speaker), (std::vector<std::string>{sample::HF_STANDARD, sample::LF_STANDARD}));
  EXPECT_EQ(bands(speaker)[0]->getBandType(), FtSpeakerSettingBandType::HIGH_FREQ);
  EXPECT_EQ(bands(speaker)[1]->getBandType(), FtSpeakerSettingBandType::LOW_FREQ);
  EXPECT_EQ(bands(speaker)[1]->getIndex(), 1);

  // What the connector dialogue wires amplifier outputs to.
  const FtConnector* connector = speaker->getConnector();
  EXPECT_EQ(connector->getPlacement(), FtConnectorPlacement::SPEAKER);
  EXPECT_EQ(connector->getSubject(), speaker->id());
  ASSERT_EQ(inputs(speaker).size(), 2u);
  for (int i = 0; i < 2; ++i) {
    const FtConnector* input = inputs(speaker)[static_cast<std::size_t>(i)];
    EXPECT_EQ(input->getPlacement(), FtConnectorPlacement::SPEAKER_INPUT);
    EXPECT_EQ(input->getSubject(), speaker->id());
    EXPECT_EQ(input->getIndex(), i);
    const auto filter = nlohmann::json::parse(input->getFilter());
    EXPECT_EQ(filter["dspChainId"], chainsOf(speaker)[static_cast<std::size_t>(i)]);
    EXPECT_EQ(filter["spsFileName"], "");
  }
  EXPECT_EQ(inputs(speaker)[0]->getLabel()->getName(), "HF");
  EXPECT_EQ(speaker->getInputSource()->getSource(), FtSource::DEVICE);
}

TEST_F(SpeakerServiceTest, SpeakersAreDrawnAtTheirSizeWithTheSmallerSideAtLeastAQuarterMetre) {
  // 0.12 m x 0.36 m: the smaller side is scaled to 0.24 m, the other with it.
  Device* column = addSpeaker(mode(sample::DC4, STANDARD, PASSIVE));
  ASSERT_NE(column, nullptr);
  EXPECT_EQ(column->getVisualItem()->getWidth(), 60);
  EXPECT_EQ(column->getVisualItem()->getHeight(), 180);
  // 0.5 m x 0.3 m: large enough as it is.
  const auto sub = livesound().deviceAdd("Speaker", sample::DS18, 1, 0, 0, true);
  ASSERT_EQ(sub.size(), 1u);
  EXPECT_EQ(sub[0]->getVisualItem()->getWidth(), 125);
  EXPECT_EQ(sub[0]->getVisualItem()->getHeight(), 75);
  // Added by its product alone, a speaker takes the product's first mode.
  EXPECT_EQ(bands(sub[0]).size(), 1u);
  EXPECT_EQ(bands(sub[0])[0]->getBandType(), FtSpeakerSettingBandType::SUB_BASS);
  // Drawn on the canvas like every device, selectable in both modes.
  EXPECT_NE(sub[0]->getVisualItem()->getParent(), nullptr);
}

TEST_F(SpeakerServiceTest, TheNewestInstalledDatabaseVersionOffersItsProducts) {
  // DM15 exists only in version 1.10, which is in use next to 1.2.
  EXPECT_EQ(service<SpeakerDatabaseService>()->getDatabase("Fennik Demo Point Source")->version().toString(), "1.10");
  Device* monitor = addSpeaker(mode(sample::DM15, STANDARD, PASSIVE));
  ASSERT_NE(monitor, nullptr);
  EXPECT_EQ(monitor->getVisualItem()->getWidth(), 150);
  EXPECT_EQ(monitor->getVisualItem()->getHeight(), 100);
}

TEST_F(SpeakerServiceTest, TheCatalogOffersTheProductsModesAtOnceAndAnAnswerOutlivesAReload) {
  // The bi-amped mode of DP12 in the standard preset, with its two bands,
  // is offered without a query having been made before.
  const auto q = CatalogService::tokenize("kind:speakermode DP12 bi-amped");
  const auto before = service<CatalogService>()->deviceCatalogQuery({q});
  std::vector<std::string> ids;
  for (const CatalogItem& item : before.at(q)) ids.push_back(item.id);
  const std::string standard = mode(DP12, STANDARD, BI_AMPED);
  EXPECT_NE(std::find(ids.begin(), ids.end(), standard), ids.end());
  // Loading the databases again (as an install does) leaves an answer
  // already given as it was, and the next answer is the same.
  service<SpeakerDatabaseService>()->loadAllDatabases();
  std::vector<std::string> kept;
  for (const CatalogItem& item : before.at(q)) kept.push_back(item.id);
  EXPECT_EQ(kept, ids);
  std::vector<std::string> again;
  const auto after = service<CatalogService>()->deviceCatalogQuery({q});
  for (const CatalogItem& item : after.at(q)) again.push_back(item.id);
  EXPECT_EQ(again, ids);
}

TEST_F(SpeakerServiceTest, ANewModeRebuildsTheBandsAndAnyJsonSpellingOfItIsStoredOneWay) {
  Device* speaker = addSpeaker(mode(DP12, STANDARD, PASSIVE));
  ASSERT_EQ(bands(speaker).size(), 1u);
  const Uuid oldBand = bands(speaker)[0]->id();
  const Uuid oldInput = inputs(speaker)[0]->id();

  // A client may send the mode in any JSON spelling.
  const std::string compact = nlohmann::json::parse(mode(DP12, STANDARD, BI_AMPED)).dump();
  livesound().speakerModeSetMode(speaker->getSpeakerMode(), compact);
  EXPECT_EQ(speaker->getSpeakerMode()->getMode(), mode(DP12, STANDARD, BI_AMPED));
  EXPECT_EQ(chainsOf(speaker), (std::vector<std::string>{sample::HF_STANDARD, sample::LF_STANDARD}));
  EXPECT_EQ(inputs(speaker).size(), 2u);
  // The old band's setting and input are gone from the project.
  EXPECT_EQ(db().get<FtSpeakerSetting>(oldBand), nullptr);
  EXPECT_EQ(db().get<FtConnector>(oldInput), nullptr);

  // The same mode again while it is consistent leaves the features as they are.
  const Uuid band = bands(speaker)[0]->id();
  livesound().speakerModeSetMode(speaker->getSpeakerMode(), mode(DP12, STANDARD, BI_AMPED));
  EXPECT_EQ(bands(speaker)[0]->id(), band);

  // A mode of another product is not offered: nothing changes.
  livesound().speakerModeSetMode(speaker->getSpeakerMode(), mode(sample::DC4, SPEECH, PASSIVE));
  EXPECT_EQ(speaker->getSpeakerMode()->getMode(), mode(DP12, STANDARD, BI_AMPED));
  EXPECT_EQ(bands(speaker)[0]->id(), band);
}

TEST_F(SpeakerServiceTest, AModeSetOnASpeakerGroupIsSetOnEveryMemberSeparately) {
  Device* a = addSpeaker(mode(DP12, STANDARD, PASSIVE));
  Device* b = addSpeaker(mode(DP12, SPEECH, PASSIVE));
  Device* group = service<DeviceService>()->createGroup(fennik::server::random_uuid(), {a, b});
  ASSERT_NE(group->getSpeakerMode(), nullptr);
  group->getDeviceInfo()->setName("Front fills", false);

  livesound().speakerModeSetMode(group->getSpeakerMode(), mode(DP12, SPEECH, BI_AMPED));
  for (Device* member : {a, b}) {
    EXPECT_EQ(member->getSpeakerMode()->getMode(), mode(DP12, SPEECH, BI_AMPED));
    EXPECT_EQ(bands(member).size(), 2u);
    EXPECT_EQ(inputs(member).size(), 2u);
  }
  // Each member has features of its own.
  EXPECT_NE(bands(a)[0], bands(b)[0]);
  // The group is rebuilt around its members' new features.
  ASSERT_NE(db().get<Device>(group->id()), nullptr);
  EXPECT_EQ(group->childrenShareds(), (std::vector<Device*>{a, b}));
  EXPECT_EQ(group->getSpeakerMode()->getMode(), mode(DP12, SPEECH, BI_AMPED));
  EXPECT_EQ(nameOf(group), "Front fills");
}

TEST_F(SpeakerServiceTest, DuplicatesKeepTheModeAndRemovedSpeakersLeaveNothingBehind) {
  Device* speaker = addSpeaker(mode(DP12, SPEECH, BI_AMPED));
  Device* copy = livesound().deviceDuplicate(speaker);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->getSpeakerMode()->getMode(), mode(DP12, SPEECH, BI_AMPED));
  EXPECT_EQ(bands(copy).size(), 2u);
  EXPECT_EQ(inputs(copy)[0]->getSubject(), copy->id());
  EXPECT_EQ(nameOf(copy), "Speaker2");
  // Only speakers are duplicated as speakers.
  Device* amp = livesound().deviceAdd(qa8(), 0, 0, true);
  EXPECT_EQ(speakers().duplicateSpeaker(amp), nullptr);

  const std::size_t settings = db().all<FtSpeakerSetting>().size();
  const std::size_t connectors = db().all<FtConnector>().size();
  const auto copyId = copy->id();
  livesound().deviceDestroy(copy);
  EXPECT_EQ(db().get<Device>(copyId), nullptr);
  // The copy's device setting and two band settings, its connector and two inputs.
  EXPECT_EQ(db().all<FtSpeakerSetting>().size(), settings - 3);
  EXPECT_EQ(db().all<FtConnector>().size(), connectors - 3);
}

TEST_F(SpeakerServiceTest, ATypeThatNoDatabaseInUseOffersAddsNothing) {
  auto& types = *service<DeviceTypeService>();
  DeviceType* unknown = types.create();
  types.setImplementation(unknown, DeviceTypeImplementation::SPEAKER, false);
  EXPECT_EQ(livesound().deviceAdd(unknown, 0, 0, true), nullptr);
  // A mode text that is no JSON object is refused by "/deviceAdd" as a whole.
  EXPECT_THROW(livesound().deviceAdd("SpeakerMode", "[1]", 1, 0, 0, true), std::exception);
}

}  // namespace
}  // namespace qor::server::testing
