// The project checks as a sound engineer meets them: the timer works through
// the checks three at a time, each check says what is wrong in the project
// and stops saying it once it is fixed, loudspeakers count only where a
// loudspeaker can be the problem, and what a client ignored stays ignored.

#include "custom/checks/ProjectCheckService.h"
#include "custom/livesound/ProjectFixture.h"

#include "qor/devicediscovery/DiscoveredDevice.h"
#include "qor/server/services/DeviceService.h"
#include "qor/server/services/DeviceTypeService.h"
#include "qor/server/services/FtConnectorService.h"
#include "qor/server/services/FtDeviceInfoService.h"
#include "qor/server/services/FtNetworkService.h"
#include "qor/server/services/FtOnlineService.h"
#include "qor/server/services/FtPowerService.h"
#include "qor/server/services/FtSpeakerSettingService.h"

#include "fennik/devices/AudioNetworkService.h"

#include <map>
#include <optional>
#include <string>

namespace qor::server::testing {
namespace {

using Key = ProjectCheckKey;
using fennik::devices::SimulatedNetwork;

class ProjectCheckTest : public ProjectFixture {
 protected:
  ProjectCheckTest() { checks().attachAudioNetwork(audioNetwork_); }

  ProjectCheckService& checks() const { return *service<ProjectCheckService>(); }

  // The check of a key as a client would find it; null while it does not exist.
  ProjectCheck* check(Key key) const {
    for (ProjectCheck* c : db().all<ProjectCheck>()) {
      if (c->getKey() == key) return c;
    }
    return nullptr;
  }
  // Whether the check says its problem is there, after every check had a turn.
  bool activeAfterTicks(Key key) {
    run(12s);  // four ticks: every check runs at least once
    ProjectCheck* c = check(key);
    EXPECT_NE(c, nullptr) << enumToString(key);
    return c && c->getActive();
  }

  Device* amp() { return livesound().deviceAdd(qa8(), 0, 0, true); }
  void rename(Device* device, const std::string& name) {
    service<FtDeviceInfoService>()->setName(device->getDeviceInfo(), name, false);
  }
  // An amplifier mapped onto a new device of the simulated network, online.
  Device* onlineAmp(const std::string& physicalId) {
    Device* device = amp();
    network_->addDevice("QA-8", physicalId);
    service<DeviceService>()->setDeviceId(device, physicalId, false);
    service<FtOnlineService>()->setSupposedState(device->getOnline(), FtOnlineState::ONLINE_WRITING, false);
    return device;
  }

  // A loudspeaker as the speaker subsystem makes one: a device of a speaker
  // type with a name, a connector (placement SPEAKER) with one input
  // (SPEAKER_INPUT) per band, and the features of a device on the network
  // (online, power-on delay, network settings), which the network checks
  // must pass by.
  Device* speaker(const std::string& name, int inputs) {
    if (!speakerType_) {
      speakerType_ = service<DeviceTypeService>()->create();
      service<DeviceTypeService>()->setImplementation(speakerType_, DeviceTypeImplementation::SPEAKER, false);
    }
    Device* device = service<DeviceService>()->create(fennik::server::random_uuid());
    device->setType(speakerType_);
    FtDeviceInfo* info = service<FtDeviceInfoService>()->create();
    device->setDeviceInfo(info);
    rename(device, name);
    auto connectors = service<FtConnectorService>();
    FtConnector* connector = connectors->create();
    connectors->setPlacement(connector, FtConnectorPlacement::SPEAKER, false);
    for (int i = 0; i < inputs; ++i) {
      FtConnector* input = connectors->create();
      connectors->setPlacement(input, FtConnectorPlacement::SPEAKER_INPUT, false);
      connectors->setIndex(input, i, false);
      connectors->addChild(connector, input, true);
    }
    device->setConnector(connector);
    FtOnline* online = service<FtOnlineService>()->create();
    service<FtOnlineService>()->setIsOnline(online, true, true);
    device->setOnline(online);
    FtPower* power = service<FtPowerService>()->create();
    service<FtPowerService>()->setDelayInSecSupported(power, true, true);
    device->setPower(power);
    FtNetwork* network = service<FtNetworkService>()->create();
    service<FtNetworkService>()->setIsNetworkModeSupported(network, true, true);
    service<FtNetworkService>()->setIsSampleRateSupported(network, true, true);
    device->setNetwork(network);
    return device;
  }
  static FtConnector* output(Device* amp, int channel) { return amp->getConnector()->childrens().at(channel); }
  static FtConnector* input(Device* speaker, int band) { return speaker->getConnector()->childrens().at(band); }

  std::shared_ptr<fennik::devices::AudioNetworkService> audioNetwork_ =
      std::make_shared<fennik::devices::AudioNetworkService>(network_);
  DeviceType* speakerType_ = nullptr;
};

TEST_F(ProjectCheckTest, TheTimerRunsThreeChecksEveryThreeSecondsInTurn) {
  // Opening the project ran the first three checks.
  EXPECT_NE(check(Key::DEVICES_SAME_DEVICEID), nullptr);
  EXPECT_NE(check(Key::DEVICES_SAME_NAME), nullptr);
  EXPECT_NE(check(Key::DEVICES_DIFFERENT_NETWORK), nullptr);
  EXPECT_EQ(db().all<ProjectCheck>().size(), 3u);

  run(2990ms);
  EXPECT_EQ(db().all<ProjectCheck>().size(), 3u);
  run(10ms);
  EXPECT_NE(check(Key::DEVICES_DIFFERENT_SAMPLERATE), nullptr);
  EXPECT_NE(check(Key::DEVICES_SAME_POWERONDELAY), nullptr);
  EXPECT_NE(check(Key::DEVICES_PARTIAL_ONLINE), nullptr);
  EXPECT_EQ(db().all<ProjectCheck>().size(), 6u);

  run(3000ms);
  EXPECT_NE(check(Key::SPEAKER_UNCONNECTED), nullptr);
  EXPECT_NE(check(Key::DISCOVERED_DEVICE_FIRMWARE_UNSUPPORTED), nullptr);
  EXPECT_NE(check(Key::SPEAKER_SETTING_DIFFERENT), nullptr);
  EXPECT_EQ(check(Key::NO_NETWORK_INTERFACES_FOUND), nullptr);

  run(3000ms);
  // All ten exist; the gain-sensitivity key has no check and no entity.
  EXPECT_EQ(db().all<ProjectCheck>().size(), 10u);
  EXPECT_EQ(check(Key::DEVICES_DIFFERENT_GAINSENSITVITY), nullptr);

  // An empty project has no problem, and the audio network runs.
  const std::map<Key, std::string> messages{
      {Key::DEVICES_SAME_DEVICEID, "Devices should have different Device IDs"},
      {Key::DEVICES_SAME_NAME, "Devices should have different Device Names"},
      {Key::DEVICES_DIFFERENT_NETWORK, "Devices should have the same Network configuration"},
      {Key::DEVICES_DIFFERENT_SAMPLERATE, "Devices should have the same Samplerate configuration"},
      {Key::DEVICES_SAME_POWERONDELAY, "Devices should have different PowerOn delays"},
      {Key::DEVICES_PARTIAL_ONLINE, "All devices should be online"},
      {Key::SPEAKER_UNCONNECTED, "Speakers should be fully connected"},
      {Key::DISCOVERED_DEVICE_FIRMWARE_UNSUPPORTED, "Firmware Update required for some devices"},
      {Key::SPEAKER_SETTING_DIFFERENT, "Different Speakers Settings"},
      {Key::NO_NETWORK_INTERFACES_FOUND, "Network Interfaces active"},
  };
  for (const auto& [key, message] : messages) {
    ASSERT_NE(check(key), nullptr) << enumToString(key);
    EXPECT_EQ(check(key)->getMessage(), message) << enumToString(key);
    EXPECT_FALSE(check(key)->getActive()) << enumToString(key);
  }

  // The audio-network service stops: that check turns active with its other text.
  audioNetwork_->stopService();
  EXPECT_TRUE(activeAfterTicks(Key::NO_NETWORK_INTERFACES_FOUND));
  EXPECT_EQ(check(Key::NO_NETWORK_INTERFACES_FOUND)->getMessage(), "Network Interfaces not active");
  audioNetwork_->startService();
  EXPECT_FALSE(activeAfterTicks(Key::NO_NETWORK_INTERFACES_FOUND));

  // Closing the project stops the checks; they do not run into the next one.
  context_->services()->forEach([](fennik::server::Service& s) { s.unload(); });
  db().clear();
  run(9s);
  EXPECT_TRUE(db().all<ProjectCheck>().empty());
}

TEST_F(ProjectCheckTest, NamesIdsAndPowerOnDelaysMustDifferExactly) {
  Device* first = amp();
  Device* second = amp();
  auto infos = service<FtDeviceInfoService>();
  infos->setDeviceId(first->getDeviceInfo(), "001", false);
  infos->setDeviceId(second->getDeviceInfo(), "002", false);
  EXPECT_FALSE(activeAfterTicks(Key::DEVICES_SAME_NAME));  // Amp1, Amp2
  EXPECT_FALSE(activeAfterTicks(Key::DEVICES_SAME_DEVICEID));
  EXPECT_FALSE(activeAfterTicks(Key::DEVICES_SAME_POWERONDELAY));  // 0.1 s and 0.2 s

  rename(first, "Amp1");
  rename(second, "amp1");  // letter case makes a different name
  EXPECT_FALSE(activeAfterTicks(Key::DEVICES_SAME_NAME));
  rename(second, "Amp1");
  EXPECT_TRUE(activeAfterTicks(Key::DEVICES_SAME_NAME));
  rename(second, "Amp2");
  EXPECT_FALSE(activeAfterTicks(Key::DEVICES_SAME_NAME));

  // A device group is no device of its own, whatever its name.
  Device* hang = service<DeviceService>()->createGroup(fennik::server::random_uuid(), {first, second});
  ASSERT_NE(hang, nullptr);
  hang->getDeviceInfo()->setName("Amp1", false);
  EXPECT_FALSE(activeAfterTicks(Key::DEVICES_SAME_NAME));

  // A loudspeaker is a device with a name like any other.
  Device* box = speaker("Amp2", 1);
  EXPECT_TRUE(activeAfterTicks(Key::DEVICES_SAME_NAME));
  rename(box, "Left Top");
  EXPECT_FALSE(activeAfterTicks(Key::DEVICES_SAME_NAME));

  // Device ids count only where the device has one: not the loudspeaker's.
  infos->setDeviceId(box->getDeviceInfo(), "001", false);
  EXPECT_FALSE(activeAfterTicks(Key::DEVICES_SAME_DEVICEID));
  infos->setDeviceId(second->getDeviceInfo(), "001", false);
  EXPECT_TRUE(activeAfterTicks(Key::DEVICES_SAME_DEVICEID));

  // Power-on delays compare as exact values, and a speaker's never counts.
  auto powers = service<FtPowerService>();
  powers->setDelayInSec(box->getPower(), first->getPower()->getDelayInSec(), false);
  EXPECT_FALSE(activeAfterTicks(Key::DEVICES_SAME_POWERONDELAY));
  powers->setDelayInSec(second->getPower(), first->getPower()->getDelayInSec() + 1e-9, false);
  EXPECT_FALSE(activeAfterTicks(Key::DEVICES_SAME_POWERONDELAY));
  powers->setDelayInSec(second->getPower(), first->getPower()->getDelayInSec(), false);
  EXPECT_TRUE(activeAfterTicks(Key::DEVICES_SAME_POWERONDELAY));
}

TEST_F(ProjectCheckTest, NetworkAndSampleRateMustMatchOnTheNetworkDevicesOnly) {
  Device* first = amp();
  Device* second = amp();
  Device* box = speaker("Left Top", 1);
  auto networks = service<FtNetworkService>();
  ASSERT_TRUE(first->getNetwork()->getIsNetworkModeSupported());
  ASSERT_TRUE(first->getNetwork()->getIsSampleRateSupported());
  const NetworkMode mode = first->getNetwork()->getNetworkMode();
  const SampleRate rate = first->getNetwork()->getSampleRate();
  const NetworkMode otherMode = mode == NetworkMode::NM_RSTP ? NetworkMode::NM_TRANSPARENT : NetworkMode::NM_RSTP;
  const SampleRate otherRate = rate == SampleRate::SR_96 ? SampleRate::SR_48 : SampleRate::SR_96;

  // A loudspeaker's own network settings do not count.
  networks->setNetworkMode(box->getNetwork(), otherMode, false);
  networks->setSampleRate(box->getNetwork(), otherRate, false);
  EXPECT_FALSE(activeAfterTicks(Key::DEVICES_DIFFERENT_NETWORK));
  EXPECT_FALSE(activeAfterTicks(Key::DEVICES_DIFFERENT_SAMPLERATE));

  networks->setNetworkMode(second->getNetwork(), otherMode, false);
  EXPECT_TRUE(activeAfterTicks(Key::DEVICES_DIFFERENT_NETWORK));
  EXPECT_FALSE(activeAfterTicks(Key::DEVICES_DIFFERENT_SAMPLERATE));
  networks->setSampleRate(second->getNetwork(), otherRate, false);
  EXPECT_TRUE(activeAfterTicks(Key::DEVICES_DIFFERENT_SAMPLERATE));

  // A device that cannot say its sample rate is passed by.
  networks->setIsSampleRateSupported(second->getNetwork(), false, true);
  EXPECT_FALSE(activeAfterTicks(Key::DEVICES_DIFFERENT_SAMPLERATE));
}

TEST_F(ProjectCheckTest, PartlyOnlineMeansSomeNetworkDevicesOnlineAndSomeNot) {
  // A design prepared offline, with a loudspeaker that says it is online.
  // The id, not the pointer: the device is destroyed below.
  const auto firstId = amp()->id();
  amp();
  speaker("Left Top", 1);
  EXPECT_FALSE(activeAfterTicks(Key::DEVICES_PARTIAL_ONLINE));

  // Only some of the amplifiers online.
  Device* online = onlineAmp("qa8-online");
  EXPECT_TRUE(activeAfterTicks(Key::DEVICES_PARTIAL_ONLINE));
  ASSERT_TRUE(online->getOnline()->getIsOnline());

  // Every amplifier gone from the project but the online one: fine again.
  for (Device* d : db().all<Device>()) {
    if (d != online && d->getType() == qa8()) livesound().deviceDestroy(d);
  }
  EXPECT_EQ(db().get<Device>(firstId), nullptr);
  EXPECT_FALSE(activeAfterTicks(Key::DEVICES_PARTIAL_ONLINE));

  // It drops off the network: all offline is not partly online either.
  network_->setReachable("qa8-online", false);
  run(2s);
  ASSERT_FALSE(online->getOnline()->getIsOnline());
  EXPECT_FALSE(activeAfterTicks(Key::DEVICES_PARTIAL_ONLINE));
}

TEST_F(ProjectCheckTest, ASpeakerIsFullyConnectedOnlyWhenEveryInputHasASource) {
  Device* driving = amp();
  EXPECT_FALSE(activeAfterTicks(Key::SPEAKER_UNCONNECTED));  // no speaker at all

  Device* box = speaker("Left Top", 2);
  EXPECT_TRUE(activeAfterTicks(Key::SPEAKER_UNCONNECTED));
  input(box, 0)->setSignalSource(output(driving, 0));
  EXPECT_TRUE(activeAfterTicks(Key::SPEAKER_UNCONNECTED));  // half-wired
  input(box, 1)->setSignalSource(output(driving, 1));
  EXPECT_FALSE(activeAfterTicks(Key::SPEAKER_UNCONNECTED));

  // An amplifier output without a loudspeaker is no loudspeaker problem.
  EXPECT_EQ(output(driving, 2)->getSignalSource(), nullptr);
  EXPECT_FALSE(activeAfterTicks(Key::SPEAKER_UNCONNECTED));

  // An input whose id names nothing in the project (a file edited by hand)
  // is listed as null: the checks pass it by instead of following it.
  FtConnector* connector = box->getConnector();
  std::vector<fennik::server::Uuid> ids = connector->childrenIds();
  ids.push_back(fennik::server::random_uuid());
  connector->setChildrenIds(ids);
  connector->resolvePointers([this](const fennik::server::Uuid& id) { return db().find(id); });
  ASSERT_EQ(connector->childrens().size(), 3u);
  ASSERT_EQ(connector->childrens().at(2), nullptr);
  EXPECT_FALSE(activeAfterTicks(Key::SPEAKER_UNCONNECTED));
}

TEST_F(ProjectCheckTest, ASpeakerSettingTheAmplifierDoesNotRunIsReported) {
  Device* online = onlineAmp("qa8-setting");
  run(1s);
  ASSERT_TRUE(online->getOnline()->getIsOnline());
  // A loudspeaker's own band settings are what the amplifier should run, not
  // what it runs: they never count.
  Device* box = speaker("Left Top", 1);
  auto settings = service<FtSpeakerSettingService>();
  FtSpeakerSetting* bands = settings->create();
  FtSpeakerSetting* band = settings->create();
  settings->addChild(bands, band, true);
  settings->setIsIncorrect(band, true, true);
  box->setSpeakerSetting(bands);
  EXPECT_FALSE(activeAfterTicks(Key::SPEAKER_SETTING_DIFFERENT));

  // The amplifier refuses the setting wanted for channel 2: it runs another.
  network_->injectFault("qa8-setting", SimulatedNetwork::Fault::SpeakerSettingRejected, true, 2);
  FtSpeakerSetting* channel = online->getSpeakerSetting()->childrens().at(2);
  service<FtSpeakerSettingService>()->setSupposedSpeakerDbDspChainId(channel, "chain-left-top", false);
  EXPECT_TRUE(activeAfterTicks(Key::SPEAKER_SETTING_DIFFERENT));

  // Let in again, the setting loads and the difference is gone.
  network_->injectFault("qa8-setting", SimulatedNetwork::Fault::SpeakerSettingRejected, false, 2);
  service<FtSpeakerSettingService>()->setSupposedSpeakerDbDspChainId(channel, "", false);
  service<FtSpeakerSettingService>()->setSupposedSpeakerDbDspChainId(channel, "chain-left-top", false);
  EXPECT_FALSE(activeAfterTicks(Key::SPEAKER_SETTING_DIFFERENT));
}

TEST_F(ProjectCheckTest, ADiscoveredDeviceThatNeedsNewFirmwareIsReported) {
  auto listed = DiscoveredDevice::createDefaultInitialized(fennik::server::random_uuid());
  DiscoveredDevice* device = listed.get();
  db().add(std::move(listed));
  EXPECT_FALSE(activeAfterTicks(Key::DISCOVERED_DEVICE_FIRMWARE_UNSUPPORTED));
  device->setFirmwareUpdateRequired(true, false);
  EXPECT_TRUE(activeAfterTicks(Key::DISCOVERED_DEVICE_FIRMWARE_UNSUPPORTED));
}

TEST_F(ProjectCheckTest, IgnoringACheckOutlivesItsRunsAndItsIdIsFixed) {
  checks().unload();  // no timer: this test runs the checks itself

  checks().projectCheckSetIgnore(Key::SPEAKER_UNCONNECTED, true);
  ProjectCheck* unconnected = check(Key::SPEAKER_UNCONNECTED);
  ASSERT_NE(unconnected, nullptr);
  EXPECT_TRUE(unconnected->getIgnored());
  EXPECT_FALSE(unconnected->getActive());
  EXPECT_EQ(unconnected->strId(), "3ec69308-227d-5290-a8d9-373d221dec6b");

  speaker("Left Top", 1);
  checks().projectCheckRefreshAll();
  EXPECT_EQ(check(Key::SPEAKER_UNCONNECTED), unconnected);  // still the one entity
  EXPECT_TRUE(unconnected->getActive());
  EXPECT_EQ(unconnected->getMessage(), "Speakers should be fully connected");
  EXPECT_TRUE(unconnected->getIgnored());
  checks().projectCheckSetIgnore(Key::SPEAKER_UNCONNECTED, false);
  EXPECT_FALSE(unconnected->getIgnored());
  EXPECT_TRUE(unconnected->getActive());

  // Name-based ids: the same in every project and on every server.
  EXPECT_EQ(checks().getProjectCheck(Key::DEVICES_SAME_NAME)->strId(), "f3ae2028-45e3-537f-8d68-3938ca61fad7");
  EXPECT_EQ(fennik::server::UuidToS(ProjectCheckService::checkId(Key::DEVICES_PARTIAL_ONLINE)),
            "f69ce41e-550d-5989-8b44-ebc0579662e5");

  // A value that is no key changes nothing.
  const std::size_t before = db().all<ProjectCheck>().size();
  checks().projectCheckSetIgnore(static_cast<Key>(7), true);
  EXPECT_EQ(checks().getProjectCheck(static_cast<Key>(7)), nullptr);
  EXPECT_EQ(db().all<ProjectCheck>().size(), before);
}

}  // namespace
}  // namespace qor::server::testing
