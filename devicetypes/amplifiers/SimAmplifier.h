#pragma once
// The device class of the simulated amplifier models: everything comes from
// BaseAmplifier except the features it leaves to the model (amplifier
// modes, input sources, loads).

#include "common/SimulatedModel.h"
#include "custom/baseamp/BaseAmplifier.h"
#include "custom/basedevice/DriverConversions.h"

#include "qor/server/entities/FtAmplifierMode.h"
#include "qor/server/entities/FtInputSource.h"
#include "qor/server/entities/FtLoad.h"
#include "qor/server/services/FtAmplifierModeService.h"
#include "qor/server/services/FtInputSourceService.h"
#include "qor/server/services/FtLoadService.h"

namespace qor::devicetypes {

class SimAmplifier : public SimulatedModel<qor::server::BaseAmplifier> {
 public:
  using SimulatedModel::SimulatedModel;

  // Every channel runs on its own; these models have no bridging.
  void createFtAmplifierMode(Device* device) override {
    auto modes = service<qor::server::FtAmplifierModeService>();
    Driver* d = driver(device);
    if (!modes || !d) return;
    auto* parent = createChannelShaped(*modes, device, d->getChannelCount(), [](int) { return true; });
    for (auto* child : parent->childrens()) {
      modes->setChannelType(child, qor::server::FtAmplifierModeChannelType::INDEPENDENT, false);
      modes->setChannelIndex(child, child->getIndex(), false);
      modes->setChannelCount(child, 1, false);
      modes->setActive(child, true, false);
      modes->setEnabled(child, true, false);
      modes->setLabel(child, d->getChannelName(child->getIndex()), false);
    }
    device->setAmplifierMode(parent);
    connectFtAmplifierMode(device);
  }
  void connectFtAmplifierMode(Device*) override {}

  void createFtInputSource(Device* device) override {
    auto sources = service<qor::server::FtInputSourceService>();
    Driver* d = driver(device);
    if (!sources || !d) return;
    auto* parent = qor::server::createDeviceFeature(*sources, device);
    const auto infos = d->getInputSources();
    for (std::size_t i = 0; i < infos.size(); ++i) {
      auto* child = qor::server::createChannelFeature(*sources, parent, static_cast<int>(i), nullptr);
      sources->setKey(child, qor::server::sourceFamilyFromDriver(infos[i].family), false);
      sources->setLabel(child, infos[i].label, false);
    }
    device->setInputSource(parent);
    connectFtInputSource(device);
  }
  void connectFtInputSource(Device*) override {}

  void createFtLoad(Device* device) override {
    auto loads = service<qor::server::FtLoadService>();
    Driver* d = driver(device);
    if (!loads || !d) return;
    auto* parent = createChannelShaped(*loads, device, d->getChannelCount(), [](int) { return true; });
    for (auto* child : parent->childrens()) loads->setIsOutputPilotSupported(child, d->isOutputPilotSupported(), false);
    device->setLoad(parent);
    connectFtLoad(device);
  }
};

// One class per model: the service resolver keeps one service per class.
class Qa4Amplifier final : public SimAmplifier {
 public:
  using SimAmplifier::SimAmplifier;
};

class Qa8Amplifier final : public SimAmplifier {
 public:
  using SimAmplifier::SimAmplifier;
};

}  // namespace qor::devicetypes
