// FtLoad, created by the device class: pilot tone and thresholds to the
// driver; measured impedance, voltage and current back.

#include "custom/baseamp/BaseAmplifier.h"

#include "qor/server/entities/FtLoad.h"
#include "qor/server/services/FtLoadService.h"

namespace qor::server {

using fennik::devices::DriverSignal;
using fennik::server::Uuid;

void BaseAmplifier::connectFtLoad(Device* device) {
  Driver* d = device ? driver(device) : nullptr;
  FtLoad* parent = device ? device->getLoad() : nullptr;
  if (!d || !parent) return;
  auto loads = service<FtLoadService>();
  const Uuid deviceId = device->id();
  Refresh<FtLoad> refresh = [loads](FtLoad& e, Driver& drv) {
    for (FtLoad* child : e.childrens()) {
      if (!child) continue;
      const auto l = drv.getLoad(child->getIndex());
      loads->setIsOutputPilotSupported(child, drv.isOutputPilotSupported(), true);
      loads->setImpedance(child, l.impedance, true);
      loads->setImpedanceValid(child, l.impedanceValid, true);
      loads->setVoltage(child, l.voltage, true);
      loads->setCurrent(child, l.current, true);
      loads->setGenActive(child, l.pilotActive, true);
      loads->setOutputPilotFreq(child, l.pilotFrequency, true);
      loads->setOutputPilotLevel(child, l.pilotLevel, true);
      loads->setThresholdMin(child, l.thresholdMin, true);
      loads->setThresholdMax(child, l.thresholdMax, true);
      loads->setThresholdMinEOL(child, l.thresholdMinEol, true);
      loads->setThresholdMaxEOL(child, l.thresholdMaxEol, true);
    }
  };
  refresh(*parent, *d);
  // The device takes a channel's pilot tone and thresholds as a whole.
  onChangesOf<FtLoad>(device, parent->childrens(), [this, deviceId](FtLoad& e, std::string_view key, bool external) {
    if (external ||
        !isField(key, {FtLoad::FIELD_GENACTIVE, FtLoad::FIELD_OUTPUTPILOTFREQ, FtLoad::FIELD_OUTPUTPILOTLEVEL,
                       FtLoad::FIELD_THRESHOLDMIN, FtLoad::FIELD_THRESHOLDMAX, FtLoad::FIELD_THRESHOLDMINEOL,
                       FtLoad::FIELD_THRESHOLDMAXEOL}))
      return;
    const int ch = e.getIndex();
    fennik::devices::LoadState l;
    l.pilotActive = e.getGenActive();
    l.pilotFrequency = e.getOutputPilotFreq();
    l.pilotLevel = e.getOutputPilotLevel();
    l.thresholdMin = e.getThresholdMin();
    l.thresholdMax = e.getThresholdMax();
    l.thresholdMinEol = e.getThresholdMinEOL();
    l.thresholdMaxEol = e.getThresholdMaxEOL();
    toDriver(deviceId, "setLoad", [&](Driver& drv) { drv.setLoad(ch, l); });
  });
  reportInto<FtLoad>(device, parent, DriverSignal::Load, refresh);
}

void BaseAmplifier::destroyFtLoad(Device* device) {
  destroySlot<FtLoadService>(device, &Device::getLoad, &Device::setLoad);
}

}  // namespace qor::server
