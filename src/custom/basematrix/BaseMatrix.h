#pragma once
// The base of DSP-matrix device classes: BaseDevice with a few bindings
// changed. Audio and device state are the device class's own.

#include "custom/basedevice/BaseDevice.h"

namespace qor::server {

class BaseMatrix : public BaseDevice {
 public:
  using BaseDevice::BaseDevice;

  // The GPIO features as every device has them, then the project's GPIO
  // state written to the device.
  void createFtGPIO(Device* device) override;
  // A matrix gets no speaker-setting feature from this class.
  void createFtSpeakerSetting(Device* device) override;
  void connectFtOnline(Device* device) override;
  // Each audio channel goes together with the channel label it points to.
  void destroyFtAudio(Device* device) override;
  void updateFtOnlineByDriver(FtOnlineService* service, FtOnline* online, Driver* driver) override;
  void updateDeviceState(FtDeviceStateService* service, FtDeviceState* state, Driver* driver) override;
  void updateEntityAddressesByDriver(FtNetworkService* service, FtNetwork* network, Driver* driver) override;

  void createFtDeviceState(Device* device) override = 0;
  void createFtAudio(Device* device) override = 0;
  void connectFtDeviceState(Device* device) override = 0;
  void connectFtAudio(Device* device) override = 0;
  void initDeviceState(FtDeviceStateService* service, FtDeviceState* state, Driver* driver) override = 0;
};

}  // namespace qor::server
