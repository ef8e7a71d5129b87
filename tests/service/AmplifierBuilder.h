#pragma once
// Builds amplifiers the way the device classes will, but through the
// services only: a device with its type, a device label with one channel
// label per channel, device-wide features pointing to the device label, and
// per-channel features (a device-level parent owning one child per channel).
// Shared by the service tests and the grouping benchmark.

#include "qor/server/services/DeviceService.h"
#include "qor/server/services/DeviceTypeService.h"
#include "service/FeatureServices.h"

#include "fennik/server/service/EntityContext.h"

#include <memory>
#include <string>
#include <vector>

namespace qor::server::testing {

class AmplifierBuilder {
 public:
  explicit AmplifierBuilder(std::shared_ptr<fennik::server::EntityContext> context)
      : context_(std::move(context)), devices(context_->services()->get<DeviceService>()) {}

  inline static const std::vector<std::string> PLAIN{"1", "2", "3", "4"};
  inline static const std::vector<std::string> LETTERED{"A", "B", "C", "D"};
  inline static const std::vector<std::string> BRIDGED{"1-2", "3-4"};
  inline static const std::vector<std::string> FLAG_NAMES{"clip", "temperature", "protect"};

  DeviceType* deviceType(DeviceTypeImplementation implementation, const std::string& model = "A4") {
    auto types = context_->services()->get<DeviceTypeService>();
    DeviceType* type = types->create();
    types->setModel(type, model, false);
    types->setImplementation(type, implementation, false);
    return type;
  }

  DeviceType* amplifierType() {
    if (!amplifierType_) amplifierType_ = deviceType(DeviceTypeImplementation::AMPLIFIER);
    return amplifierType_;
  }

  // An amplifier with one channel per short name and the full set of
  // features that grouping joins.
  Device* amplifier(const std::vector<std::string>& shortNames = PLAIN, DeviceType* type = nullptr) {
    const auto& r = *context_->services();
    Device* device = devices->create(fennik::server::random_uuid());
    device->setType(type ? type : amplifierType());
    devices->setImplementation(device, device->getType()->getImplementation(), false);
    const std::string name = "Amp " + std::to_string(++count_);

    auto labels = serviceOf<FtLabel>(r);
    FtLabel* deviceLabel = labels->create();
    labels->setSource(deviceLabel, FtSource::DEVICE, false);
    labels->setName(deviceLabel, name, false);
    device->setLabel(deviceLabel);
    std::vector<FtLabel*> channelLabels;
    for (std::size_t i = 0; i < shortNames.size(); ++i) {
      FtLabel* label = labels->create();
      labels->setSource(label, FtSource::CHANNEL, false);
      labels->setIndex(label, static_cast<std::int32_t>(i), false);
      labels->setShortName(label, shortNames[i], false);
      labels->setName(label, "Output " + shortNames[i], false);
      labels->addChild(deviceLabel, label, true);
      channelLabels.push_back(label);
    }

    device->setDeviceInfo(deviceWide<FtDeviceInfo>(deviceLabel));
    serviceOf<FtDeviceInfo>(r)->setName(device->getDeviceInfo(), name, false);
    device->setOnline(deviceWide<FtOnline>(deviceLabel));
    device->setNetwork(deviceWide<FtNetwork>(deviceLabel));
    device->setPreset(deviceWide<FtPreset>(deviceLabel));
    device->setPower(deviceWide<FtPower>(deviceLabel));
    serviceOf<FtPower>(r)->setIsReactingOnRealAmpChannel(device->getPower(), true, false);

    device->setAudio(perChannel<FtAudio>(deviceLabel, channelLabels, [&](FtAudio*) {}));
    device->setSupermeter(perChannel<FtSupermeter>(deviceLabel, channelLabels, [](FtSupermeter*) {}));
    device->setSignalGenerator(perChannel<FtSignalGenerator>(deviceLabel, channelLabels, [](FtSignalGenerator*) {}));
    device->setSpeakerSetting(perChannel<FtSpeakerSetting>(deviceLabel, channelLabels, [](FtSpeakerSetting*) {}));
    device->setLoad(perChannel<FtLoad>(deviceLabel, channelLabels, [](FtLoad*) {}));
    device->setConnector(perChannel<FtConnector>(deviceLabel, channelLabels, [](FtConnector*) {}));

    auto delays = serviceOf<FtDelay>(r);
    auto banks = serviceOf<FtEqFilterBank>(r);
    auto filters = serviceOf<FtEqFilter>(r);
    for (FtChannelType type : {FtChannelType::USER, FtChannelType::ARRAY}) {
      device->addDelay(perChannel<FtDelay>(deviceLabel, channelLabels, [&](FtDelay* d) {
        delays->setChannelType(d, type, false);
        delays->setDelayInMsMax(d, 100.0, false);
        delays->setIsReactingOnRealAmpChannel(d, true, false);
      }));
      delays->setChannelType(device->delays().back(), type, false);
      device->addEqFilterBank(perChannel<FtEqFilterBank>(deviceLabel, channelLabels, [&](FtEqFilterBank* b) {
        banks->setChannelType(b, type, false);
        for (std::int32_t f = 0; f < 2; ++f) {
          FtEqFilter* filter = filters->create();
          filters->setIndex(filter, f, false);
          filters->setIsAvailable(filter, true, false);
          b->addFilter(filter);
        }
      }));
      banks->setChannelType(device->eqFilterBanks().back(), type, false);
    }

    auto sources = serviceOf<FtInputSource>(r);
    FtInputSource* inputs = sources->create();
    std::vector<FtInputSource*> inputList;
    for (FtInputSourceFamily family : {FtInputSourceFamily::ANALOG, FtInputSourceFamily::DANTE}) {
      FtInputSource* input = sources->create();
      sources->setKey(input, family, false);
      sources->setIndex(input, 0, false);
      sources->addChild(inputs, input, true);
      inputList.push_back(input);
    }
    device->setInputSource(inputs);
    auto routings = serviceOf<FtInputRouting>(r);
    for (FtInputRoutingType type : {FtInputRoutingType::DEFAULT, FtInputRoutingType::FAILOVER}) {
      device->addInputRouting(perChannel<FtInputRouting>(deviceLabel, channelLabels, [&](FtInputRouting* routing) {
        routings->setRoutingType(routing, type, false);
        for (FtInputSource* input : inputList) routing->addAllInputSources(input);
      }));
      routings->setRoutingType(device->inputRoutings().back(), type, false);
    }

    auto states = serviceOf<FtDeviceState>(r);
    auto channelStates = serviceOf<FtChannelState>(r);
    FtDeviceState* state = states->create();
    states->setSource(state, FtSource::DEVICE, false);
    states->setFlagNames(state, FLAG_NAMES, false);
    states->setFlagStates(state, std::vector<bool>(FLAG_NAMES.size(), false), false);
    state->setLabel(deviceLabel);
    for (std::size_t i = 0; i < channelLabels.size(); ++i) {
      FtChannelState* channel = channelStates->create();
      channelStates->setSource(channel, FtSource::CHANNEL, false);
      channelStates->setIndex(channel, static_cast<std::int32_t>(i), false);
      channelStates->setFlagNames(channel, FLAG_NAMES, false);
      channel->setLabel(channelLabels[i]);
      state->addChannelState(channel);
    }
    device->setDeviceState(state);
    return device;
  }

  template <class E>
  E* deviceWide(FtLabel* deviceLabel) {
    auto s = serviceOf<E>(*context_->services());
    E* feature = s->create();
    s->setSource(feature, FtSource::DEVICE, false);
    feature->setLabel(deviceLabel);
    return feature;
  }

  template <class E, class Init>
  E* perChannel(FtLabel* deviceLabel, const std::vector<FtLabel*>& channelLabels, Init init) {
    auto s = serviceOf<E>(*context_->services());
    E* parent = deviceWide<E>(deviceLabel);
    for (std::size_t i = 0; i < channelLabels.size(); ++i) {
      E* channel = s->create();
      s->setSource(channel, FtSource::CHANNEL, false);
      s->setIndex(channel, static_cast<std::int32_t>(i), false);
      channel->setLabel(channelLabels[i]);
      init(channel);
      s->addChild(parent, channel, true);
    }
    return parent;
  }

  // The channel of a per-channel feature (or of a group feature) by position.
  template <class E>
  static E* channel(E* feature, std::size_t i) {
    return feature->childrens().at(i);
  }

 private:
  std::shared_ptr<fennik::server::EntityContext> context_;
  DeviceType* amplifierType_ = nullptr;
  int count_ = 0;

 public:
  std::shared_ptr<DeviceService> devices;
};

}  // namespace qor::server::testing
