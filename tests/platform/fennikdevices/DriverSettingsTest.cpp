// A driver's offline settings: what a user set on one driver reaches a new
// driver of the same model through the stored form, and a stored form that
// does not fit the model is refused with the key that is wrong.

#include "fennik/devices/DriverSettings.h"
#include "fennik/devices/SimulatedNetwork.h"

#include <gtest/gtest.h>
#include <simdjson.h>

#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace fennik::devices {
namespace {

using namespace std::chrono_literals;

// Four channels, gain on the first of each pair, no trim, user and array
// delays of up to 500 ms, two EQ filters per bank, two input sources.
DeviceModel testModel() {
  DeviceModel m;
  m.model = "T-4";
  m.channelCount = 4;
  m.gpioCount = 1;
  m.gainSupported = {true, false, true, false};
  m.gain = {20.0, 38.0, 0};
  m.driveModes = {0, 1};
  m.trimSupported = false;
  m.delayMaxMs = 500.0;
  m.eqFiltersPerBank = 2;
  m.inputSources = {{0, "Analog A"}, {2, "Network 1"}};
  m.failoverTypes = {0, 1};
  m.pinRange = {1000, 2000};
  m.deviceFlags.set();
  m.deviceFlagCollect.set();
  m.channelFlags.set();
  m.channelFlagCollect.set();
  return m;
}

class DriverSettingsTest : public ::testing::Test {
 protected:
  DriverSettingsTest() : network(SimulatedNetwork::create(SimulatedNetwork::Mode::Manual)) {
    network->registerModel(testModel());
    DeviceModel other = testModel();
    other.model = "T-8";
    other.channelCount = 8;
    network->registerModel(other);
  }

  // A design made offline on one driver.
  std::unique_ptr<FennikDevice> designed() {
    auto d = network->createDriver("T-4");
    d->setName("Stage Left");
    d->setDeviceIntId(17);
    d->setFrontPanelLockPin(1234);
    d->setGpioMode(0, 2);
    d->setGpoDigital(0, true);
    d->setChannelCustomName(1, "Sub L");
    d->setGain(2, 26.0);
    d->setMute(3, true);
    d->setLevel(0, -6.5);
    d->setPolarity(1, true);
    d->setDelay(ChannelType::User, 0, 12.5);
    d->setDelayBypass(ChannelType::Array, 3, true);
    EqFilter shelf;
    shelf.type = 1;
    shelf.bypass = false;
    shelf.freqInHz = 120.0;
    shelf.gainInDb = -3.0;
    shelf.quality = 1.2;
    d->setEqFilter(ChannelType::User, 2, 1, shelf);
    d->setSelectedInputSources(1, 0, {1});
    d->setSelectedInputSources(1, 1, {0, 1});
    d->setFailoverConfig({3000, 7000, 1, 100, 60000});
    d->setChannelFlagCollect(2, ChannelFlag::Mute, true);
    return d;
  }

  // The stored form of a designed driver, after a trip through text.
  SettingsJson stored() {
    auto d = designed();
    return SettingsJson::parse(driverSettingsText(readDriverSettings(*d)));
  }

  std::shared_ptr<SimulatedNetwork> network;
};

TEST_F(DriverSettingsTest, ANewDriverGetsEverythingTheUserSet) {
  auto fresh = network->createDriver("T-4");
  const DriverSettings settings = driverSettingsFromJson(stored(), *fresh);
  EXPECT_TRUE(writeDriverSettings(settings, *fresh).empty());

  EXPECT_EQ(fresh->getName(), "Stage Left");
  EXPECT_EQ(fresh->getDeviceIntId(), 17);
  EXPECT_EQ(fresh->getFrontPanelLockPin(), 1234);
  EXPECT_EQ(fresh->getGpioMode(0), 2);
  EXPECT_TRUE(fresh->getGpoDigital(0));
  EXPECT_EQ(fresh->getChannelCustomName(1), "Sub L");
  EXPECT_EQ(fresh->getChannelCustomName(0), "");
  EXPECT_DOUBLE_EQ(fresh->getGain(2), 26.0);
  EXPECT_TRUE(fresh->getMute(3));
  EXPECT_FALSE(fresh->getMute(0));
  EXPECT_DOUBLE_EQ(fresh->getLevel(0), -6.5);
  EXPECT_TRUE(fresh->getPolarity(1));
  EXPECT_DOUBLE_EQ(fresh->getDelay(ChannelType::User, 0), 12.5);
  EXPECT_TRUE(fresh->getDelayBypass(ChannelType::Array, 3));
  const EqFilter shelf = fresh->getEqFilter(ChannelType::User, 2, 1);
  EXPECT_EQ(shelf.type, 1);
  EXPECT_FALSE(shelf.bypass);
  EXPECT_DOUBLE_EQ(shelf.freqInHz, 120.0);
  EXPECT_DOUBLE_EQ(shelf.gainInDb, -3.0);
  EXPECT_DOUBLE_EQ(shelf.quality, 1.2);
  EXPECT_EQ(fresh->getSelectedInputSources(1, 0), std::vector<int>{1});
  EXPECT_EQ(fresh->getSelectedInputSources(1, 1), (std::vector<int>{0, 1}));
  EXPECT_EQ(fresh->getFailoverConfig().failoverTime, 3000);
  EXPECT_EQ(fresh->getFailoverConfig().fallbackTime, 7000);
  EXPECT_EQ(fresh->getFailoverConfig().type, 1);
  EXPECT_TRUE(fresh->getChannelFlagCollect(2, ChannelFlag::Mute));

  // Going online writing, the device gets the design.
  network->addDevice("T-4", "amp-1");
  fresh->setPhysicalDeviceId("amp-1");
  fresh->goOnline(false);
  network->advance(1000ms);
  ASSERT_TRUE(fresh->isOnline());
  auto reader = network->createDriver("T-4");
  reader->setPhysicalDeviceId("amp-1");
  reader->goOnline(true);
  network->advance(1000ms);
  EXPECT_EQ(reader->getName(), "Stage Left");
  EXPECT_DOUBLE_EQ(reader->getGain(2), 26.0);
  EXPECT_DOUBLE_EQ(reader->getDelay(ChannelType::User, 0), 12.5);
  EXPECT_EQ(reader->getEqFilter(ChannelType::User, 2, 1).type, 1);
}

// The stored text is what the JSON library itself writes for it (its own
// dump of the parsed text gives the same bytes), with awkward values too; a
// value that has no JSON form is stored repaired, never as a file that
// cannot be read back.
TEST_F(DriverSettingsTest, TheStoredTextIsCompactJsonEvenForAwkwardValues) {
  DriverSettings s = readDriverSettings(*designed());
  s.name = "Stage \"Left\" \\ B\u00fchne \u266a\n\t\x01";
  s.startUpPresetSlot.clear();
  s.powerOnDelay = 0.1;
  s.breaker = 1e20;
  s.channels[0].level = -0.0;
  s.channels[1].level = 1e-7;
  s.channels[2].gain.reset();
  s.channels[0].eq[0][0].quality = 0.7071067811865476;
  const std::string text = driverSettingsText(s);
  EXPECT_EQ(SettingsJson::parse(text).dump(), text);
  EXPECT_NE(text.find("\"name\":\"Stage \\\"Left\\\" \\\\ B\u00fchne \u266a\\n\\t\\u0001\""), std::string::npos)
      << text;
  EXPECT_NE(text.find(R"("powerOnDelay":0.1,"breaker":1e+20)"), std::string::npos);
  EXPECT_NE(text.find(R"(,null],"eq":)"), std::string::npos);  // the delay the model lacks
  // Back through the reader (without the two values this model lacks).
  s.powerOnDelay.reset();
  s.breaker.reset();
  auto fresh = network->createDriver("T-4");
  const DriverSettings back = driverSettingsFromJson(SettingsJson::parse(driverSettingsText(s)), *fresh);
  EXPECT_EQ(back.name, s.name);
  EXPECT_EQ(back.channels[1].level, 1e-7);
  EXPECT_EQ(back.channels[0].eq[0][0].quality, 0.7071067811865476);

  s.name = "Stage \xff";
  s.channels[0].level = std::numeric_limits<double>::quiet_NaN();
  const std::string repaired = driverSettingsText(s);
  const SettingsJson doc = SettingsJson::parse(repaired);
  EXPECT_EQ(doc["name"], "Stage \ufffd");
  EXPECT_EQ(doc["channels"][0]["level"], 0);
}

// The device plant reads a show's entries where simdjson parsed them; what
// it reads must be what the tree gives, also where the two forms differ (a
// repeated key, an integer where a number is asked for, unknown members).
TEST_F(DriverSettingsTest, ReadingInPlaceGivesWhatTheTreeGives) {
  auto like = network->createDriver("T-4");
  const DriverSettings base = readDriverSettings(*like);
  const std::string text = driverSettingsText(readDriverSettings(*designed()));
  ASSERT_EQ(text.back(), '}');
  const std::string body = text.substr(0, text.size() - 1);
  for (const std::string& variant : {
           text,
           body + R"(,"name":"Second")" + "}",
           body + R"(,"frontPanelLockPin":1500,"unknown":{"deep":[[[1]]]})" + "}",
           body + R"(,"channels":[{"level":-6,"gain":20},{"level":3},{},{"mute":true}])" + "}",
       }) {
    const DriverSettings tree = driverSettingsFromJson(SettingsJson::parse(variant), *like, base);
    simdjson::dom::parser parser;
    const DriverSettings dom = driverSettingsFromDom(parser.parse(variant).value(), *like, base);
    EXPECT_EQ(driverSettingsText(dom), driverSettingsText(tree)) << variant;
  }
}

TEST_F(DriverSettingsTest, MissingKeysKeepTheNewDriversValues) {
  auto fresh = network->createDriver("T-4");
  SettingsJson doc = stored();
  doc.erase("name");
  doc["channels"][2].erase("gain");
  const DriverSettings settings = driverSettingsFromJson(doc, *fresh);
  EXPECT_EQ(settings.name, "");
  EXPECT_DOUBLE_EQ(*settings.channels[2].gain, fresh->getGain(2));
  EXPECT_TRUE(settings.channels[3].mute);
}

TEST_F(DriverSettingsTest, AStoredFormThatDoesNotFitIsRefusedNamingTheKey) {
  auto like = network->createDriver("T-4");
  const SettingsJson good = stored();
  struct Case {
    std::string expect;
    std::function<void(SettingsJson&)> damage;
  };
  const std::vector<Case> cases = {
      {"format", [](SettingsJson& j) { j["format"] = "panel"; }},
      {"version: 2 is not known", [](SettingsJson& j) { j["version"] = 2; }},
      {"model: \"T-8\" is not the device's model \"T-4\"", [](SettingsJson& j) { j["model"] = "T-8"; }},
      {"name: must be a string", [](SettingsJson& j) { j["name"] = 5; }},
      {"name: is longer than", [](SettingsJson& j) { j["name"] = std::string(5000, 'x'); }},
      {"channels: must have 4 entries, but has 3", [](SettingsJson& j) { j["channels"].erase(3); }},
      {"channels[2].gain: 99.0 is outside 20 to 38", [](SettingsJson& j) { j["channels"][2]["gain"] = 99.0; }},
      {"channels[2].gain: must be a number, but is string", [](SettingsJson& j) { j["channels"][2]["gain"] = "26"; }},
      {"channels[1].gain: the model has no such setting", [](SettingsJson& j) { j["channels"][1]["gain"] = 26.0; }},
      {"channels[0].trim: the model has no such setting", [](SettingsJson& j) { j["channels"][0]["trim"] = 0.0; }},
      {"channels[0].driveMode: drive mode 3 is not offered",
       [](SettingsJson& j) { j["channels"][0]["driveMode"] = 3; }},
      {"channels[0].delays[0].ms: 501.0 is outside 0 to 500",
       [](SettingsJson& j) { j["channels"][0]["delays"][0]["ms"] = 501.0; }},
      {"channels[0].delays[2]: the model has no such delay",
       [](SettingsJson& j) {
         j["channels"][0]["delays"][2] = {{"ms", 0.0}, {"bypass", false}};
       }},
      {"channels[2].eq[0][1].type: 7 is no equaliser type",
       [](SettingsJson& j) { j["channels"][2]["eq"][0][1]["type"] = 7; }},
      {"channels[2].eq[0]: must have 2 entries, but has 3",
       [](SettingsJson& j) { j["channels"][2]["eq"][0].push_back(j["channels"][2]["eq"][0][0]); }},
      {"channels[1].routing[0][0]: 5 is outside 0 to 1", [](SettingsJson& j) { j["channels"][1]["routing"][0] = {5}; }},
      {"channels[1].routing[1][1]: source 0 is selected twice",
       [](SettingsJson& j) {
         j["channels"][1]["routing"][1] = {0, 0};
       }},
      {"frontPanelLockPin: 999 is outside 1000 to 2000", [](SettingsJson& j) { j["frontPanelLockPin"] = 999; }},
      {"failover.type: failover type 3 is not offered", [](SettingsJson& j) { j["failover"]["type"] = 3; }},
      {"failover.failoverTime: 50 is outside 100 to 60000",
       [](SettingsJson& j) { j["failover"]["failoverTime"] = 50; }},
      {"gpios[0].mode: 3 is outside 0 to 2", [](SettingsJson& j) { j["gpios"][0]["mode"] = 3; }},
      {"deviceFlagCollect: must have 17 entries", [](SettingsJson& j) { j["deviceFlagCollect"] = {true}; }},
      {"startUpPresetSlot: \"Z\" is no preset slot", [](SettingsJson& j) { j["startUpPresetSlot"] = "Z"; }},
      {"channels[0].signalGenerator.mode: 9 is outside 0 to 3",
       [](SettingsJson& j) { j["channels"][0]["signalGenerator"]["mode"] = 9; }},
      {"deviceIntId: -4 is outside", [](SettingsJson& j) { j["deviceIntId"] = -4; }},
  };
  const DriverSettings base = readDriverSettings(*like);
  for (const auto& c : cases) {
    SettingsJson doc = good;
    c.damage(doc);
    try {
      driverSettingsFromJson(doc, *like);
      ADD_FAILURE() << "accepted, expected: " << c.expect;
    } catch (const DriverSettingsError& e) {
      EXPECT_NE(std::string(e.what()).find(c.expect), std::string::npos) << e.what() << "\nexpected: " << c.expect;
    }
    // Read in place, the same document is refused as well.
    simdjson::dom::parser parser;
    EXPECT_THROW(driverSettingsFromDom(parser.parse(doc.dump()).value(), *like, base), DriverSettingsError) << c.expect;
  }
  EXPECT_THROW(driverSettingsFromJson(SettingsJson::array(), *like), DriverSettingsError);
  EXPECT_THROW(checkDriverSettingsHeader(SettingsJson{{"format", "driver-settings"}}), DriverSettingsError);
}

}  // namespace
}  // namespace fennik::devices
