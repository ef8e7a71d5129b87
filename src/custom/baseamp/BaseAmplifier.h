#pragma once
// The base of power-amplifier device classes: the device features of
// BaseDevice plus gain, drive mode, audio, delays, equalisers, input
// routing, failover, loads, signal generator, supermeter and the device and
// channel state flags, all bound with the same pattern.

#include "custom/basedevice/BaseDevice.h"

namespace qor::server {

class FtChannelStateService;

class BaseAmplifier : public BaseDevice {
 public:
  using BaseDevice::BaseDevice;

  void createAllFeatures(Device* device) override;
  void connectAllFeatures(Device* device) override;
  void destroyAllFeatures(Device* device) override;
  void createFtDeviceState(Device* device) override;
  void createFtGPIO(Device* device) override;
  void createFtAudio(Device* device) override;
  void connectFtPower(Device* device) override;
  void connectFtOnline(Device* device) override;
  void connectFtDeviceState(Device* device) override;
  void connectFtAudio(Device* device) override;
  void destroyFtAudio(Device* device) override;
  void updateFtOnlineByDriver(FtOnlineService* service, FtOnline* online, Driver* driver) override;
  void updateDeviceState(FtDeviceStateService* service, FtDeviceState* state, Driver* driver) override;
  void initDeviceState(FtDeviceStateService* service, FtDeviceState* state, Driver* driver) override;
  void updateEntityAddressesByDriver(FtNetworkService* service, FtNetwork* network, Driver* driver) override;
  // BaseDevice's, then gain, drive mode, delays, equalisers and failover.
  void copySettings(Device* from, Device* to) override;
  // BaseDevice's, then the failover configuration.
  void fileFieldsIntoSettings(Device* device, fennik::devices::DriverSettings& settings) override;
  // BaseDevice's, then gain, drive mode and signal generator.
  void createGroupFeatures(Device* group, const std::vector<Device*>& members) override;

  // Supplied by the device class: amplifier mode, input sources, loads.
  virtual void createFtAmplifierMode(Device* device) = 0;
  virtual void createFtSignalGenerator(Device* device);
  virtual void createFtInputSource(Device* device) = 0;
  virtual void createFtInputRouting(Device* device);
  virtual void createFtFailoverConfig(Device* device);
  virtual void createFtSupermeter(Device* device);
  virtual void createFtDelays(Device* device);
  virtual void createFtEqFilterBanks(Device* device);
  virtual void createFtAmplifierDriveMode(Device* device);
  virtual void createFtAmplifierGain(Device* device);
  virtual void createFtLoad(Device* device) = 0;
  virtual void connectFtSupermeter(Device* device);
  virtual void connectFtSignalGenerator(Device* device);
  virtual void connectFtAmplifierMode(Device* device) = 0;
  virtual void connectFtInputSource(Device* device) = 0;
  virtual void connectFtInputRouting(Device* device);
  virtual void connectFtFailoverConfig(Device* device);
  virtual void connectFtDelays(Device* device);
  virtual void connectFtEqFilterBanks(Device* device);
  virtual void connectFtAmplifierDriveMode(Device* device);
  virtual void connectFtAmplifierGain(Device* device);
  virtual void connectFtLoad(Device* device);
  virtual void initChannelState(FtChannelStateService* service, FtChannelState* state, Driver* driver);

 protected:
  void createFtDelay(Device* device, FtChannelType type);
  void createFtEqFilterBank(Device* device, FtChannelType type);
  void connectFtEqFilterBank(Device* device);

  void destroyFtAmplifierMode(Device* device);
  void destroyFtSignalGenerator(Device* device);
  void destroyFtInputSource(Device* device);
  void destroyFtInputRouting(Device* device);
  void destroyFtFailoverConfig(Device* device);
  void destroyFtSupermeter(Device* device);
  void destroyFtDelays(Device* device);
  void destroyFtEqFilterBanks(Device* device);
  void destroyFtAmplifierDriveMode(Device* device);
  void destroyFtAmplifierGain(Device* device);
  void destroyFtLoad(Device* device);

 private:
  FtEqFilter* createFtEqFilter(Device* device, FtChannelType type);
};

}  // namespace qor::server
