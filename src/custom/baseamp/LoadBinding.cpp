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
  for (FtLoad* child : parent->childrens()) {
    if (!child) continue;
    const Uuid childId = child->id();
    const int ch = child->getIndex();
    auto send = [this, deviceId, childId, ch](bool external) {
      if (external) return;
      auto* e = db()->get<FtLoad>(childId);
      if (!e) return;
      fennik::devices::LoadState l;
      l.pilotActive = e->getGenActive();
      l.pilotFrequency = e->getOutputPilotFreq();
      l.pilotLevel = e->getOutputPilotLevel();
      l.thresholdMin = e->getThresholdMin();
      l.thresholdMax = e->getThresholdMax();
      l.thresholdMinEol = e->getThresholdMinEOL();
      l.thresholdMaxEol = e->getThresholdMaxEOL();
      toDriver(deviceId, "setLoad", [&](Driver& drv) { drv.setLoad(ch, l); });
    };
    keep(device, child->onGenActiveChanged([send](const bool&, bool external) { send(external); }));
    keep(device, child->onOutputPilotFreqChanged([send](const double&, bool external) { send(external); }));
    keep(device, child->onOutputPilotLevelChanged([send](const double&, bool external) { send(external); }));
    keep(device, child->onThresholdMinChanged([send](const double&, bool external) { send(external); }));
    keep(device, child->onThresholdMaxChanged([send](const double&, bool external) { send(external); }));
    keep(device, child->onThresholdMinEOLChanged([send](const double&, bool external) { send(external); }));
    keep(device, child->onThresholdMaxEOLChanged([send](const double&, bool external) { send(external); }));
  }
  reportInto<FtLoad>(device, parent, DriverSignal::Load, refresh);
}

void BaseAmplifier::destroyFtLoad(Device* device) {
  destroySlot<FtLoadService>(device, &Device::getLoad, &Device::setLoad);
}

}  // namespace qor::server
