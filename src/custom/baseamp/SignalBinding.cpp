// FtSignalGenerator (both ways, per channel) and FtSupermeter (meter values
// from the driver only).

#include "custom/baseamp/BaseAmplifier.h"
#include "custom/basedevice/DriverConversions.h"

#include "qor/server/entities/FtSignalGenerator.h"
#include "qor/server/entities/FtSupermeter.h"
#include "qor/server/services/FtSignalGeneratorService.h"
#include "qor/server/services/FtSupermeterService.h"

namespace qor::server {

using fennik::devices::DriverSignal;
using fennik::server::Uuid;

void BaseAmplifier::createFtSignalGenerator(Device* device) {
  auto generators = service<FtSignalGeneratorService>();
  Driver* d = device ? driver(device) : nullptr;
  if (!generators || !d) return;
  FtSignalGenerator* parent = createChannelShaped(*generators, device, d->getChannelCount(), [](int) { return true; });
  for (FtSignalGenerator* e : parent->childrens()) {
    // The limits are the feature's own defaults; the driver has none.
    generators->setLevelInDbMin(e, FtSignalGenerator::getLevelInDbMinDefaultValue(), false);
    generators->setLevelInDbMax(e, FtSignalGenerator::getLevelInDbMaxDefaultValue(), false);
    generators->setFrequencyInHzMin(e, FtSignalGenerator::getFrequencyInHzMinDefaultValue(), false);
    generators->setFrequencyInHzMax(e, FtSignalGenerator::getFrequencyInHzMaxDefaultValue(), false);
  }
  device->setSignalGenerator(parent);
  connectFtSignalGenerator(device);
}

void BaseAmplifier::connectFtSignalGenerator(Device* device) {
  Driver* d = device ? driver(device) : nullptr;
  FtSignalGenerator* parent = device ? device->getSignalGenerator() : nullptr;
  if (!d || !parent) return;
  auto generators = service<FtSignalGeneratorService>();
  const Uuid deviceId = device->id();
  Refresh<FtSignalGenerator> refresh = [generators](FtSignalGenerator& e, Driver& drv) {
    for (FtSignalGenerator* child : e.childrens()) {
      if (!child) continue;
      const auto s = drv.getSignalGenerator(child->getIndex());
      generators->setActive(child, s.active, true);
      generators->setLevelInDb(child, s.levelInDb, true);
      generators->setFrequencyInHz(child, s.frequencyInHz, true);
      generators->setMode(child, signalGeneratorModeFromDriver(s.mode), true);
      generators->setType(child, signalGeneratorTypeFromDriver(s.type), true);
    }
  };
  refresh(*parent, *d);
  // The device takes the generator as a whole.
  onChangesOf<FtSignalGenerator>(
      device, parent->childrens(), [this, deviceId](FtSignalGenerator& e, std::string_view key, bool external) {
        if (external || !isField(key, {FtSignalGenerator::FIELD_ACTIVE, FtSignalGenerator::FIELD_LEVELINDB,
                                       FtSignalGenerator::FIELD_FREQUENCYINHZ, FtSignalGenerator::FIELD_MODE,
                                       FtSignalGenerator::FIELD_TYPE}))
          return;
        const int ch = e.getIndex();
        fennik::devices::SignalGeneratorState s;
        s.active = e.getActive();
        s.levelInDb = e.getLevelInDb();
        s.frequencyInHz = e.getFrequencyInHz();
        s.mode = signalGeneratorModeToDriver(e.getMode());
        s.type = signalGeneratorTypeToDriver(e.getType());
        toDriver(deviceId, "setSignalGenerator", [&](Driver& drv) { drv.setSignalGenerator(ch, s); });
      });
  reportInto<FtSignalGenerator>(device, parent, DriverSignal::SignalGenerator, refresh);
}

void BaseAmplifier::destroyFtSignalGenerator(Device* device) {
  destroySlot<FtSignalGeneratorService>(device, &Device::getSignalGenerator, &Device::setSignalGenerator);
}

void BaseAmplifier::createFtSupermeter(Device* device) {
  auto meters = service<FtSupermeterService>();
  Driver* d = device ? driver(device) : nullptr;
  if (!meters || !d) return;
  FtSupermeter* parent = createChannelShaped(*meters, device, d->getChannelCount(), [](int) { return true; });
  device->setSupermeter(parent);
  connectFtSupermeter(device);
}

void BaseAmplifier::connectFtSupermeter(Device* device) {
  Driver* d = device ? driver(device) : nullptr;
  FtSupermeter* parent = device ? device->getSupermeter() : nullptr;
  if (!d || !parent) return;
  auto meters = service<FtSupermeterService>();
  // Every amplifier channel meters its gain reduction; set here, not at
  // creation only, because the project file does not keep it.
  for (FtSupermeter* child : parent->childrens())
    if (child) meters->setReductionSupported(child, true, false);
  Refresh<FtSupermeter> refresh = [meters](FtSupermeter& e, Driver& drv) {
    for (FtSupermeter* child : e.childrens()) {
      if (!child) continue;
      const auto m = drv.getMeter(child->getIndex());
      meters->setInput(child, m.input, true);
      meters->setOutput(child, m.output, true);
      meters->setReduction(child, m.reduction, true);
      meters->setLimit(child, m.limit, true);
      meters->setImpedance(child, m.impedance, true);
      meters->setImpedanceValid(child, m.impedanceValid, true);
      meters->setImpedanceOpen(child, m.impedanceOpen, true);
      meters->setImpedanceShort(child, m.impedanceShort, true);
    }
  };
  refresh(*parent, *d);
  reportInto<FtSupermeter>(device, parent, DriverSignal::Meter, refresh);
}

void BaseAmplifier::destroyFtSupermeter(Device* device) {
  destroySlot<FtSupermeterService>(device, &Device::getSupermeter, &Device::setSupermeter);
}

}  // namespace qor::server
