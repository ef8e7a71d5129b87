#include "custom/basematrix/BaseMatrix.h"

#include "custom/basedevice/DriverConversions.h"

#include "qor/server/entities/FtAudio.h"
#include "qor/server/entities/FtGPIO.h"
#include "qor/server/entities/FtLabel.h"
#include "qor/server/entities/FtOnline.h"
#include "qor/server/services/FtAudioService.h"
#include "qor/server/services/FtLabelService.h"
#include "qor/server/services/FtOnlineService.h"

namespace qor::server {

void BaseMatrix::createFtGPIO(Device* device) {
  BaseDevice::createFtGPIO(device);
  FtGPIO* parent = device ? device->getGpio() : nullptr;
  if (!parent) return;
  for (FtGPIO* child : parent->childrens()) {
    if (!child) continue;
    const int index = child->getIndex();
    const int mode = gpioModeToDriver(child->getCurrentGpioMode());
    const bool on = child->getGpoDigital();
    toDriver(device->id(), "Writing GPIO state", [&](Driver& drv) {
      drv.setGpioMode(index, mode);
      drv.setGpoDigital(index, on);
    });
  }
}

void BaseMatrix::createFtSpeakerSetting(Device*) {}

void BaseMatrix::connectFtOnline(Device* device) {
  BaseDevice::connectFtOnline(device);
  reportOnlineAddresses(device);
}

void BaseMatrix::destroyFtAudio(Device* device) {
  FtAudio* parent = device ? device->getAudio() : nullptr;
  if (!parent) return;
  auto audios = service<FtAudioService>();
  auto labels = service<FtLabelService>();
  const std::vector<FtAudio*> children = parent->childrens();
  for (FtAudio* child : children) {
    if (!child) continue;
    FtLabel* label = child->getLabel();
    if (audios) audios->destroy(child);
    if (label && labels) labels->destroy(label);
  }
  device->setAudio(nullptr);
  if (audios) audios->destroy(parent);
}

void BaseMatrix::updateFtOnlineByDriver(FtOnlineService* service, FtOnline* online, Driver* d) {
  writeOnlineFromDriver(service, online, d, false);
}

void BaseMatrix::updateDeviceState(FtDeviceStateService*, FtDeviceState*, Driver*) {}

void BaseMatrix::updateEntityAddressesByDriver(FtNetworkService* networks, FtNetwork* e, Driver* d) {
  writePortAddresses(networks, e, d);
}

}  // namespace qor::server
