// A/B presets as a user relies on them: a stored slot holds the settings of
// the feature and its channels, storing again replaces only that slot,
// loading puts the settings back on the device, and a slot that was never
// stored or that a client damaged changes nothing.

#include "custom/DeviceFixture.h"
#include "custom/presets/AbPresetService.h"

#include "qor/server/serializers/FtAudioJsonSerializer.h"
#include "qor/server/services/FtLoadService.h"

#include <nlohmann/json.hpp>

#include <map>
#include <string>
#include <vector>

namespace qor::server::testing {
namespace {

using Json = nlohmann::json;

class AbPresetServiceTest : public DeviceFixture {
 protected:
  AbPresetServiceTest() { presets_ = add<AbPresetService>(); }

  std::shared_ptr<FtAudioService> audios() const { return service<FtAudioService>(); }

  // Every audio entity as a full-state document, to see that nothing changed.
  std::map<std::string, std::string> audioState() const {
    FtAudioJsonSerializer serializer;
    std::map<std::string, std::string> state;
    for (FtAudio* a : db().all<FtAudio>()) {
      fennik::server::Json object;
      serializer.serialize(a, object, true);
      state[a->strId()] = object.dump();
    }
    return state;
  }

  static std::vector<std::string> ids(const Json& slot) {
    std::vector<std::string> out;
    for (const auto& entity : slot) out.push_back(entity.at("id").get<std::string>());
    return out;
  }

  std::shared_ptr<AbPresetService> presets_;
};

TEST_F(AbPresetServiceTest, StoringWritesOnlyTheGivenSlotAndMarksItStored) {
  FtAudio* audio = audios()->create();
  audios()->setLevelInDb(audio, -3.0, false);

  presets_->store(audio, 1);
  const Json slots = Json::parse(audio->getAbPresetsAsJson());
  ASSERT_EQ(slots.size(), 1u);
  ASSERT_TRUE(slots.contains("1"));
  EXPECT_EQ(ids(slots["1"]), std::vector<std::string>{audio->strId()});
  EXPECT_DOUBLE_EQ(slots["1"][0].at("levelInDb").get<double>(), -3.0);
  // Written compactly.
  EXPECT_EQ(audio->getAbPresetStatesAsJson(), R"({"1":{"state":"stored"}})");
  EXPECT_EQ(audio->getAbPresetsAsJson().find_first_of(" \n"), std::string::npos);

  // Another slot, then slot 1 again: only slot 1 changes.
  audios()->setLevelInDb(audio, -10.0, false);
  presets_->store(audio, 2);
  audios()->setLevelInDb(audio, -20.0, false);
  presets_->store(audio, 1);
  const Json after = Json::parse(audio->getAbPresetsAsJson());
  ASSERT_EQ(after.size(), 2u);
  EXPECT_DOUBLE_EQ(after["1"][0].at("levelInDb").get<double>(), -20.0);
  EXPECT_DOUBLE_EQ(after["2"][0].at("levelInDb").get<double>(), -10.0);
  EXPECT_EQ(Json::parse(audio->getAbPresetStatesAsJson()),
            Json::parse(R"({"1":{"state":"stored"},"2":{"state":"stored"}})"));
  // A slot does not carry the slots stored before it.
  EXPECT_FALSE(after["1"][0].contains("abPresetsAsJson"));
}

TEST_F(AbPresetServiceTest, LoadingPutsTheStoredChannelSettingsBackOnTheDevice) {
  Device* amp = createDevice(devicetypes::QA4_TYPE_ID);
  const std::string physicalId = bringOnline(amp);
  FtAudio* audio = amp->getAudio();
  const std::vector<FtAudio*> channels = audio->childrens();
  ASSERT_EQ(channels.size(), 4u);

  audios()->setLevelInDb(channels[0], -6.0, false);
  audios()->setIsMuted(channels[1], true, false);
  run(100ms);
  presets_->store(audio, 0);
  // The device's audio and its four channels.
  const Json slot = Json::parse(audio->getAbPresetsAsJson()).at("0");
  EXPECT_EQ(ids(slot), (std::vector<std::string>{audio->strId(), channels[0]->strId(), channels[1]->strId(),
                                                 channels[2]->strId(), channels[3]->strId()}));

  audios()->setLevelInDb(channels[0], -20.0, false);
  audios()->setIsMuted(channels[1], false, false);
  run(100ms);
  presets_->load(audio, 0);
  run(300ms);
  EXPECT_DOUBLE_EQ(channels[0]->getLevelInDb(), -6.0);
  EXPECT_TRUE(channels[1]->getIsMuted());
  // The channels differ, so the device's audio says so again.
  EXPECT_FALSE(audio->getLevelInDbConsistent());

  // The device itself has them: another driver online with it reads them.
  auto other = network_->createDriver("QA-4");
  other->setPhysicalDeviceId(physicalId);
  other->goOnline(true);
  run(1000ms);
  ASSERT_TRUE(other->isOnline());
  EXPECT_DOUBLE_EQ(other->getLevel(0), -6.0);
  EXPECT_TRUE(other->getMute(1));
}

TEST_F(AbPresetServiceTest, AGroupSlotHoldsTheMemberChannelsAndNotTheGroupsBetween) {
  auto delays = service<FtDelayService>();
  FtDelay* top = delays->create();
  FtDelay* middle = delays->create();
  FtDelay* first = delays->create();
  FtDelay* second = delays->create();
  FtDelay* direct = delays->create();
  delays->addChild(middle, first, false);
  delays->addChild(middle, second, false);
  delays->addChild(top, middle, false);
  delays->addChild(top, direct, false);
  delays->setDelayInMs(first, 5.0, false);
  delays->setDelayInMs(second, 7.0, false);

  presets_->store(top, 3);
  const Json slot = Json::parse(top->getAbPresetsAsJson()).at("3");
  EXPECT_EQ(ids(slot), (std::vector<std::string>{top->strId(), first->strId(), second->strId(), direct->strId()}));

  delays->setDelayInMs(top, 9.0, false);  // a group write reaches every member
  ASSERT_DOUBLE_EQ(second->getDelayInMs(), 9.0);
  presets_->load(top, 3);
  EXPECT_DOUBLE_EQ(first->getDelayInMs(), 5.0);
  EXPECT_DOUBLE_EQ(second->getDelayInMs(), 7.0);
  EXPECT_DOUBLE_EQ(direct->getDelayInMs(), 0.0);
  // The group between shows its members' values again.
  EXPECT_FALSE(middle->getDelayInMsConsistent());
  EXPECT_FALSE(top->getDelayInMsConsistent());
}

TEST_F(AbPresetServiceTest, ASlotNeverStoredOrDamagedChangesNothing) {
  LogCapture log;
  Device* amp = createDevice(devicetypes::QA4_TYPE_ID);
  FtAudio* audio = amp->getAudio();
  const std::vector<FtAudio*> channels = audio->childrens();
  audios()->setLevelInDb(channels[0], -6.0, false);
  presets_->store(audio, 1);
  audios()->setLevelInDb(channels[0], -12.0, false);

  const auto before = audioState();
  presets_->load(audio, 7);
  EXPECT_EQ(log.count("There is no preset to load for slot 7 entity qor::server::FtAudio @ " + audio->strId()), 1);
  EXPECT_EQ(audioState(), before);

  // What a damaged or hand-edited project file could hold.
  const std::string good = R"({"id":")" + channels[0]->strId() + R"(","levelInDb":3.0})";
  const std::vector<std::string> damaged{
      "{\"1\": [",                                                                                 // no JSON
      "[1, 2]",                                                                                    // no object
      R"({"1": 5})",                                                                               // no list
      R"({"1": [{"levelInDb": 3.0}]})",                                                            // no id
      R"({"1": [)" + good + R"(, {"id": ")" + channels[1]->strId() + R"(", "isMuted": "yes"}]})",  // wrong type
      R"({"1": [)" + good + R"(, {"id": "not-a-uuid"}]})",
      R"({"1": [)" + good + R"(, {"id": ")" + channels[1]->strId() + R"(", "levelInDb": null}]})",  // no number
  };
  for (const auto& text : damaged) {
    audios()->setAbPresetsAsJson(audio, text, false);
    const auto state = audioState();
    const int issues = log.count("Issues when loading preset 1");
    presets_->load(audio, 1);
    EXPECT_EQ(audioState(), state) << text;
    EXPECT_EQ(log.count("Issues when loading preset 1"), issues + 1) << text;
  }
  EXPECT_DOUBLE_EQ(channels[0]->getLevelInDb(), -12.0);

  // Storing into a damaged field leaves it as it was.
  audios()->setAbPresetsAsJson(audio, "{\"1\": [", false);
  presets_->store(audio, 1);
  EXPECT_EQ(log.count("Issues when storing preset 1: "), 1);
  EXPECT_EQ(audio->getAbPresetsAsJson(), "{\"1\": [");
}

TEST_F(AbPresetServiceTest, FeaturesWithoutPresetsAreNamedAndKeptAsTheyAre) {
  LogCapture log;
  FtLoad* load = service<FtLoadService>()->create();
  presets_->store(load, 1);
  presets_->load(load, 1);
  EXPECT_EQ(log.count("There is no preset storage option for a qor::server::FtLoad"), 2);
  presets_->store(nullptr, 1);
  presets_->load(nullptr, 1);
  EXPECT_EQ(log.count("There is no preset"), 2);
}

}  // namespace
}  // namespace qor::server::testing
