// What every generated entity offers beyond the group semantics: defaults,
// flag constants, descriptors, enumeration texts, fireAllSignals and setting
// fields by name.

#include "ModelFixture.h"

#include "fennik/server/entity/LoopSignal.h"

#include "qor/server/services/FtAmplifierGainService.h"
#include "qor/server/services/FtDelayService.h"
#include "qor/server/services/FtDeviceStateService.h"
#include "qor/server/services/LivesoundProjectService.h"

#include <string>
#include <vector>

namespace qor::server::testing {
namespace {

class EntityShapeTest : public ModelFixture {};

TEST_F(EntityShapeTest, FreshEntitiesCarryTheirDefaults) {
  auto* gain = service<FtAmplifierGainService>()->create();
  EXPECT_EQ(gain->getGainInDb(), 32.0);
  EXPECT_EQ(gain->getGainInDbMin(), 20.0);
  EXPECT_EQ(gain->getGainInDbMax(), 44.0);
  EXPECT_TRUE(gain->getGainInDbReadOnly());
  EXPECT_FALSE(gain->getGainInDbSupported());
  EXPECT_EQ(gain->getBridgeMode(), FtBridgeMode::INDIVIDUAL);

  auto* delay = service<FtDelayService>()->create();
  EXPECT_EQ(delay->getDelayInMsDecimals(), 2);
  EXPECT_EQ(delay->getAbPresetsAsJson(), "{}");
  EXPECT_EQ(delay->getAbPresetStatesAsJson(), "{}");
  EXPECT_TRUE(delay->labelId().is_nil());

  auto* project = service<LivesoundProjectService>()->create();
  EXPECT_EQ(project->getName(), "Untitled");
  EXPECT_EQ(project->getSystemTemperatureInCelsius(), 20.0);
  EXPECT_EQ(project->getDeviceTypeGroupNextId(), 1);
  EXPECT_EQ(db().countOfClass(LivesoundProject::CLASS_NAME), 1u);
}

TEST_F(EntityShapeTest, FlagsAndDescriptorsFollowTheCatalogue) {
  static_assert(FtDelay::DELAYINMS_INTERFACE_FLAG && FtDelay::DELAYINMS_THROTTLE_FLAG &&
                FtDelay::DELAYINMS_CONSISTENT_FLAG);
  static_assert(FtDelay::DELAYINMSCONSISTENT_READONLYIF_FLAG);
  static_assert(std::string_view(FtDelay::FIELD_DELAYINMS) == "delayInMs");
  static_assert(FtDelay::CLASS_NAME == "qor::server::FtDelay");

  const auto& descriptors = FtDelay::fieldDescriptors();
  EXPECT_EQ(&descriptors, &FtDelay::fieldDescriptors()) << "built once per class";
  ASSERT_EQ(descriptors.size(), 17u);
  EXPECT_EQ(descriptors[3].name, "delayInMs");
  EXPECT_EQ(descriptors[3].type, "double");
  EXPECT_EQ(descriptors[0].type, "qor::server::FtSource");
  using F = fennik::server::FieldFlag;
  EXPECT_EQ(descriptors[3].flags, (std::vector<F>{F::Interface, F::Throttle, F::Consistent}));
  EXPECT_EQ(FtDeviceState::fieldDescriptors()[4].type, "list of bool");

  auto* delay = service<FtDelayService>()->create();
  EXPECT_TRUE(delay->isFileFlagSet());
  EXPECT_TRUE(delay->isInterfaceFlagSet());
  EXPECT_FALSE(delay->hasProperty("delayInMs")) << "typed entities do not use generic properties";
  EXPECT_FALSE(delay->getProperty("delayInMs").has_value());
  EXPECT_FALSE(DeviceType(fennik::server::random_uuid()).isFileFlagSet());
}

TEST_F(EntityShapeTest, EnumerationTextsRoundTripWithTheMaxSentinel) {
  EXPECT_EQ(enumToString(FtSource::GROUP), "GROUP");
  EXPECT_EQ(static_cast<int>(FtSource::GROUP), 8);
  EXPECT_EQ(static_cast<int>(ProjectCheckKey::DEVICES_SAME_DEVICEID), 100);
  EXPECT_EQ(enumToString(static_cast<FtSource>(5)), "FTSOURCE_MAX") << "a hole in the numbering";
  EXPECT_EQ(enumFromString<FtSource>("FTSOURCE_MAX"), static_cast<FtSource>(12));
  EXPECT_EQ(enumFromString<FtSource>("no such value"), static_cast<FtSource>(12));
  EXPECT_EQ(enumFromString<StringValidatorRule>("Mois20Bytes"), StringValidatorRule::Mois20Bytes);
  EXPECT_EQ(static_cast<int>(VisualItemOrientation::WEST), 4);
  EXPECT_EQ(enumToString(static_cast<VisualItemOrientation>(2)), "VISUALITEMORIENTATION_MAX");
}

TEST_F(EntityShapeTest, FireAllSignalsReplaysObservedFieldsInFieldOrder) {
  auto* delay = service<FtDelayService>()->create();
  delay->setDelayInMs(4.0, false);
  std::vector<std::string> order;
  std::vector<bool> externals;
  auto c1 = delay->onIsBypassedChanged([&](const bool&, bool external) {
    externals.push_back(external);
    order.push_back("isBypassed");
  });
  auto c2 = delay->onDelayInMsChanged([&](const double& v, bool) {
    EXPECT_EQ(v, 4.0);
    order.push_back("delayInMs");
  });
  int changes = 0;
  auto c3 = delay->onChanged([&](fennik::server::Entity*, std::string_view, bool) { ++changes; });
  delay->fireAllSignals(true);
  EXPECT_EQ(order, (std::vector<std::string>{"delayInMs", "isBypassed"}));
  EXPECT_EQ(changes, 0) << "replaying is not a change";

  c2.disconnect();
  delay->fireAllSignals(false);
  EXPECT_EQ(order.size(), 3u);
  EXPECT_EQ(externals, (std::vector<bool>{true, false}));
}

TEST_F(EntityShapeTest, ASharedChangeSignalServesManyEntitiesWhileItHasSlots) {
  using Shared = fennik::server::Entity::SharedChangeSignal;
  auto delays = service<FtDelayService>();
  auto* first = delays->create();
  auto* second = delays->create();
  std::vector<std::string> seen;
  auto record = [&seen](const std::string& tag) {
    return [&seen, tag](fennik::server::Entity* e, std::string_view key, bool external) {
      seen.push_back(tag + " " + e->strId().substr(0, 4) + " " + std::string(key) + (external ? " ext" : ""));
    };
  };
  const std::string a = first->strId().substr(0, 4);
  const std::string b = second->strId().substr(0, 4);

  // One slot for both; the entities keep the signal alive.
  auto bank = std::make_shared<Shared>();
  auto bankSlot = bank->connect(record("bank"));
  first->reportChangesTo(bank);
  second->reportChangesTo(bank);
  bank.reset();
  auto own = first->onChanged(record("own"));
  first->setDelayInMs(5.0, false);
  second->setDelayInMs(3.0, true);
  second->setDelayInMs(3.0, true);  // a device reporting the same value: no change
  EXPECT_EQ(seen, (std::vector<std::string>{"own " + a + " delayInMs", "bank " + a + " delayInMs",
                                            "bank " + b + " delayInMs ext"}));

  // A second signal while the first still has its slot: both hear.
  seen.clear();
  auto other = std::make_shared<Shared>();
  auto otherSlot = other->connect(record("other"));
  first->reportChangesTo(other);
  own.disconnect();
  first->setDelayInMs(6.0, false);
  EXPECT_EQ(seen, (std::vector<std::string>{"bank " + a + " delayInMs", "other " + a + " delayInMs"}));

  // Disconnected, the first is silent and is replaced by the next one.
  seen.clear();
  bankSlot.disconnect();
  auto next = std::make_shared<Shared>();
  next->connect(record("next"));
  second->reportChangesTo(next);
  second->setDelayInMs(7.0, false);
  first->setDelayInMs(8.0, false);
  EXPECT_EQ(seen, (std::vector<std::string>{"next " + b + " delayInMs", "other " + a + " delayInMs"}));

  // A slot that hands its entity a new signal while it runs: the running
  // emission ends on the old one (which, having slots, keeps hearing), and
  // the new one hears from the next change on.
  seen.clear();
  auto replacement = std::make_shared<Shared>();
  replacement->connect(record("replacement"));
  next->connect([&](fennik::server::Entity* e, std::string_view, bool) { e->reportChangesTo(replacement); });
  next.reset();
  second->setDelayInMs(9.0, false);
  second->setDelayInMs(10.0, false);
  EXPECT_EQ(seen, (std::vector<std::string>{"next " + b + " delayInMs", "next " + b + " delayInMs",
                                            "replacement " + b + " delayInMs"}));
}

TEST_F(EntityShapeTest, DoSetPropertyWritesByNameThroughTheNormalPath) {
  auto delays = service<FtDelayService>();
  auto* group = delays->create();
  auto* member = delays->create();
  delays->addChild(group, member, true);
  using fennik::server::PropertyValue;
  EXPECT_TRUE(delays->doSetProperty(group, "delayInMs", PropertyValue(3.5)));
  EXPECT_EQ(member->getDelayInMs(), 3.5) << "spreads like any normal write";
  EXPECT_TRUE(delays->doSetProperty(group, "index", PropertyValue(std::int64_t{4})));
  EXPECT_EQ(group->getIndex(), 4);
  EXPECT_TRUE(delays->doSetProperty(group, "channelType", PropertyValue(std::int64_t{1})));
  EXPECT_EQ(group->getChannelType(), FtChannelType::ARRAY);

  EXPECT_FALSE(delays->doSetProperty(group, "delayInMs", PropertyValue(std::string("fast"))));
  EXPECT_FALSE(delays->doSetProperty(group, "index", PropertyValue(std::int64_t{1} << 40))) << "out of range";
  EXPECT_FALSE(delays->doSetProperty(group, "noSuchField", PropertyValue(1.0)));
  EXPECT_FALSE(delays->doSetProperty(nullptr, "index", PropertyValue(std::int64_t{1})));
  EXPECT_EQ(group->getIndex(), 4);
}

}  // namespace
}  // namespace qor::server::testing
