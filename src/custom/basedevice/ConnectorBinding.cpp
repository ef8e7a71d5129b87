// FtConnector: an amplifier has one output connector per channel, which the
// connector dialogue wires to a loudspeaker's inputs. Each connector names
// its device as subject, so that a connection tells whose features to join.

#include "custom/basedevice/BaseDevice.h"
#include "custom/basedevice/FeatureShapes.h"

#include "qor/server/entities/DeviceType.h"
#include "qor/server/entities/FtConnector.h"
#include "qor/server/services/FtConnectorService.h"

namespace qor::server {

void BaseDevice::createFtConnector(Device* device) {
  auto connectors = service<FtConnectorService>();
  Driver* d = device ? driver(device) : nullptr;
  // Matrices feed amplifiers over the audio network, not over speaker wire.
  const DeviceType* type = device ? device->getType() : nullptr;
  if (!connectors || !d || !type || type->getImplementation() != DeviceTypeImplementation::AMPLIFIER) return;
  FtConnector* parent = createDeviceFeature(*connectors, device);
  connectors->setPlacement(parent, FtConnectorPlacement::AMP, false);
  connectors->setSubject(parent, device->id(), false);
  for (int i = 0; i < d->getChannelCount(); ++i) {
    FtConnector* child = createChannelFeature(*connectors, parent, i, tryGetLabelByIndex(device, i));
    connectors->setPlacement(child, FtConnectorPlacement::AMP_OUTPUT, false);
    connectors->setSubject(child, device->id(), false);
  }
  device->setConnector(parent);
}

// The wiring lives in the project, not in the device: nothing to bind.
void BaseDevice::connectFtConnector(Device*) {}

void BaseDevice::destroyFtConnector(Device* device) {
  destroySlot<FtConnectorService>(device, &Device::getConnector, &Device::setConnector);
}

}  // namespace qor::server
