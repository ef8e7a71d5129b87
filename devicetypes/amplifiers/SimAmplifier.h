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
      modes->setLabel(child, d->getChannelName(child->getIndex()), false);
    }
    device->setAmplifierMode(parent);
    connectFtAmplifierMode(device);
  }
  // What the model offers is not stored with the project: it is read on
  // every connect, so an opened project's modes and sources show it as a
  // new device's do. Each channel's only mode is its own, always on.
  void connectFtAmplifierMode(Device* device) override {
    auto modes = service<qor::server::FtAmplifierModeService>();
    qor::server::FtAmplifierMode* parent = device ? device->getAmplifierMode() : nullptr;
    if (!modes || !parent || !driver(device)) return;
    for (auto* child : parent->childrens()) {
      modes->setEnabled(child, true, true);
      modes->setActive(child, true, true);
    }
  }

  void createFtInputSource(Device* device) override {
    auto sources = service<qor::server::FtInputSourceService>();
    Driver* d = driver(device);
    if (!sources || !d) return;
    auto* parent = qor::server::createDeviceFeature(*sources, device);
    const auto infos = d->getInputSources();
    for (std::size_t i = 0; i < infos.size(); ++i) {
      auto* child = qor::server::createChannelFeature(*sources, parent, static_cast<int>(i), nullptr);
      sources->setKey(child, qor::server::sourceFamilyFromDriver(infos[i].family), false);
    }
    device->setInputSource(parent);
    connectFtInputSource(device);
  }
  // The sources' labels are the model's.
  void connectFtInputSource(Device* device) override {
    auto sources = service<qor::server::FtInputSourceService>();
    qor::server::FtInputSource* parent = device ? device->getInputSource() : nullptr;
    Driver* d = device ? driver(device) : nullptr;
    if (!sources || !parent || !d) return;
    const auto infos = d->getInputSources();
    for (auto* child : parent->childrens()) {
      const int index = child->getIndex();
      if (index >= 0 && static_cast<std::size_t>(index) < infos.size())
        sources->setLabel(child, infos[static_cast<std::size_t>(index)].label, true);
    }
  }

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
