#pragma once
// The device class of the simulated matrix model: BaseMatrix plus the audio
// channels (each with a label of its own) and a device state with the
// device flags the matrix offers.

#include "common/SimulatedModel.h"
#include "custom/basedevice/StateFlags.h"
#include "custom/basematrix/BaseMatrix.h"

#include "qor/server/entities/FtAudio.h"
#include "qor/server/entities/FtDeviceState.h"
#include "qor/server/entities/FtLabel.h"
#include "qor/server/services/FtAudioService.h"
#include "qor/server/services/FtDeviceStateService.h"
#include "qor/server/services/FtLabelService.h"

namespace qor::devicetypes {

class SimMatrix : public SimulatedModel<qor::server::BaseMatrix> {
 public:
  using SimulatedModel::SimulatedModel;

  void createFtAudio(Device* device) override {
    auto audios = service<qor::server::FtAudioService>();
    auto labels = service<qor::server::FtLabelService>();
    Driver* d = driver(device);
    if (!audios || !labels || !d) return;
    auto* parent = qor::server::createDeviceFeature(*audios, device);
    for (int ch = 0; ch < d->getChannelCount(); ++ch) {
      auto* label =
          qor::server::createChannelFeature(*labels, static_cast<qor::server::FtLabel*>(nullptr), ch, nullptr);
      labels->setName(label, "Output " + std::to_string(ch + 1), false);
      labels->setShortName(label, "O" + std::to_string(ch + 1), false);
      qor::server::createChannelFeature(*audios, parent, ch, label);
    }
    device->setAudio(parent);
    connectFtAudio(device);
  }
  void connectFtAudio(Device* device) override { bindChannelAudio(device); }

  void createFtDeviceState(Device* device) override {
    auto states = service<qor::server::FtDeviceStateService>();
    Driver* d = driver(device);
    if (!states || !d) return;
    auto* state = qor::server::createDeviceFeature(*states, device);
    initDeviceState(states.get(), state, d);
    device->setDeviceState(state);
    connectFtDeviceState(device);
  }

  void initDeviceState(qor::server::FtDeviceStateService* states, qor::server::FtDeviceState* state,
                       Driver* d) override {
    if (!states || !state || !d) return;
    qor::server::initDeviceFlagLists(*states, *state, *d);
  }

  // BaseMatrix leaves the flags alone; this model shows them and sends
  // which of them the device collects.
  void connectFtDeviceState(Device* device) override {
    BaseDevice::connectFtDeviceState(device);
    auto* state = device ? device->getDeviceState() : nullptr;
    auto states = service<qor::server::FtDeviceStateService>();
    if (!state || !states || !driver(device)) return;
    Refresh<qor::server::FtDeviceState> refresh = [states](qor::server::FtDeviceState& e, Driver& drv) {
      qor::server::refreshDeviceFlagLists(*states, e, drv);
    };
    refresh(*state, *driver(device));
    sendDeviceFlagCollect(device);
    reportInto<qor::server::FtDeviceState>(device, state, fennik::devices::DriverSignal::State, refresh);
  }
};

class Qm16Matrix final : public SimMatrix {
 public:
  using SimMatrix::SimMatrix;
};

}  // namespace qor::devicetypes
