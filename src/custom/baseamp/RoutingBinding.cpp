// FtInputRouting and FtFailoverConfig; the input sources and amplifier
// modes they build on are made by the device class and only destroyed here.

#include "custom/baseamp/BaseAmplifier.h"
#include "custom/basedevice/DriverConversions.h"
#include "custom/basedevice/FeatureShapes.h"
#include "service/GroupWalk.h"

#include "qor/server/entities/FtAmplifierMode.h"
#include "qor/server/entities/FtFailoverConfig.h"
#include "qor/server/entities/FtInputRouting.h"
#include "qor/server/entities/FtInputSource.h"
#include "qor/server/services/FtAmplifierModeService.h"
#include "qor/server/services/FtFailoverConfigService.h"
#include "qor/server/services/FtInputRoutingService.h"
#include "qor/server/services/FtInputSourceService.h"

#include "fennik/server/core/Logging.h"

#include <algorithm>

namespace qor::server {

using fennik::devices::DriverSignal;
using fennik::server::Uuid;

namespace {

int routingIndex(FtInputRoutingType type) {
  switch (type) {
    case FtInputRoutingType::DEFAULT:
      return 0;
    case FtInputRoutingType::FAILOVER:
      return 1;
  }
  fennik::server::getLogger(fennik::server::MODULE_LOGGER)->error("Unknown FtInputRoutingType is used");
  return -1;
}

std::vector<FtInputSource*> sourcesOf(Device* device) {
  FtInputSource* parent = device ? device->getInputSource() : nullptr;
  return parent ? parent->childrens().toVector() : std::vector<FtInputSource*>{};
}

}  // namespace

void BaseAmplifier::createFtInputRouting(Device* device) {
  auto routings = service<FtInputRoutingService>();
  Driver* d = device ? driver(device) : nullptr;
  const auto sources = sourcesOf(device);
  if (!routings || !d || sources.empty()) return;
  std::vector<FtInputRoutingType> types{FtInputRoutingType::DEFAULT};
  if (d->isFailoverTypeSupported(0) || d->isFailoverTypeSupported(1)) types.push_back(FtInputRoutingType::FAILOVER);
  for (FtInputRoutingType type : types) {
    FtInputRouting* parent = createChannelShaped(*routings, device, d->getChannelCount(), [](int) { return true; });
    routings->setRoutingType(parent, type, false);
    routings->setIsActive(parent, type == FtInputRoutingType::DEFAULT, false);
    for (FtInputRouting* child : parent->childrens()) {
      routings->setRoutingType(child, type, false);
      routings->setIsActive(child, type == FtInputRoutingType::DEFAULT, false);
      for (FtInputSource* source : sources) {
        child->addAllInputSources(source);
        child->addPossibleInputSources(source);
      }
    }
    // The device's routing lists what its channels have in common.
    routings->mergeLists(parent);
    device->addInputRouting(parent);
  }
  connectFtInputRouting(device);
}

void BaseAmplifier::connectFtInputRouting(Device* device) {
  Driver* d = device ? driver(device) : nullptr;
  if (!d) return;
  const Uuid deviceId = device->id();
  auto routings = service<FtInputRoutingService>();
  Refresh<FtInputRouting> refresh = [routings](FtInputRouting& e, Driver& drv) {
    const int routing = routingIndex(e.getRoutingType());
    if (routing < 0) return;
    std::vector<FtInputRouting*> changed;
    for (FtInputRouting* child : e.childrens()) {
      if (!child) continue;
      const auto selected = drv.getSelectedInputSources(child->getIndex(), routing);
      const std::vector<FtInputSource*> before = child->selectedInputSources();
      std::vector<FtInputSource*> after;
      for (FtInputSource* source : child->allInputSources()) {
        if (source && std::find(selected.begin(), selected.end(), source->getIndex()) != selected.end())
          after.push_back(source);
      }
      if (after == before) continue;
      for (FtInputSource* source : before) child->removeSelectedInputSources(source);
      for (FtInputSource* source : after) child->addSelectedInputSources(source);
      changed.push_back(child);
    }
    // The lists changed without a setter: every routing that merges them
    // (the device's own, the channel routings of groups holding the device)
    // merges them again, as it does when members join or selections are
    // made through the routing service.
    if (routings) groupwalk::recalcAncestors(*routings, changed);
  };
  for (FtInputRouting* parent : device->inputRoutings()) {
    if (!parent) continue;
    refresh(*parent, *d);
    const int routing = routingIndex(parent->getRoutingType());
    // The routing service raises the flag, changes the selection and lowers
    // the flag: the selection is complete when the flag falls.
    if (routing >= 0) {
      onChangesOf<FtInputRouting>(device, parent->childrens(),
                                  [this, deviceId, routing](FtInputRouting& e, std::string_view key, bool external) {
                                    if (external || key != FtInputRouting::FIELD_SENDSELECTEDINPUTSOURCESTODRIVER ||
                                        e.getSendSelectedInputSourcesToDriver())
                                      return;
                                    const int ch = e.getIndex();
                                    std::vector<int> selected;
                                    for (FtInputSource* source : e.selectedInputSources()) {
                                      if (source) selected.push_back(source->getIndex());
                                    }
                                    toDriver(deviceId, "setSelectedInputSources",
                                             [&](Driver& drv) { drv.setSelectedInputSources(ch, routing, selected); });
                                  });
    }
    reportInto<FtInputRouting>(device, parent, DriverSignal::InputRouting, refresh);
  }
}

void BaseAmplifier::destroyFtInputRouting(Device* device) {
  if (!device) return;
  const std::vector<FtInputRouting*> routings = device->inputRoutings();
  for (FtInputRouting* routing : routings) {
    if (!routing) continue;
    device->removeInputRouting(routing);
    destroyFeature<FtInputRoutingService>(routing);
  }
}

void BaseAmplifier::createFtFailoverConfig(Device* device) {
  auto configs = service<FtFailoverConfigService>();
  Driver* d = device ? driver(device) : nullptr;
  if (!configs || !d) return;
  device->setFailoverConfig(createDeviceFeature(*configs, device));
  connectFtFailoverConfig(device);
}

void BaseAmplifier::connectFtFailoverConfig(Device* device) {
  Driver* d = device ? driver(device) : nullptr;
  FtFailoverConfig* config = device ? device->getFailoverConfig() : nullptr;
  if (!d || !config) return;
  auto configs = service<FtFailoverConfigService>();
  const Uuid deviceId = device->id();
  const Uuid configId = config->id();
  Refresh<FtFailoverConfig> refresh = [configs](FtFailoverConfig& e, Driver& drv) {
    const auto c = drv.getFailoverConfig();
    configs->setIsFailoverFallbackSupported(&e, drv.isFailoverTypeSupported(0), true);
    configs->setIsFailoverNoFallbackSupported(&e, drv.isFailoverTypeSupported(1), true);
    configs->setIsDefaultStaticSupported(&e, drv.isFailoverTypeSupported(2), true);
    configs->setIsFailoverStaticSupported(&e, drv.isFailoverTypeSupported(3), true);
    configs->setFailoverTimeMin(&e, c.timeMinimum, true);
    configs->setFailoverTimeMax(&e, c.timeMaximum, true);
    configs->setFallbackTimeMin(&e, c.timeMinimum, true);
    configs->setFallbackTimeMax(&e, c.timeMaximum, true);
    configs->setFailoverTime(&e, c.failoverTime, true);
    configs->setFallbackTime(&e, c.fallbackTime, true);
    configs->setSelectedType(&e, failoverTypeFromDriver(c.type), true);
  };
  refresh(*config, *d);
  auto send = [this, deviceId, configId](bool external) {
    if (external) return;
    auto* e = db()->get<FtFailoverConfig>(configId);
    if (!e) return;
    toDriver(deviceId, "setFailoverConfig", [&](Driver& drv) {
      auto c = drv.getFailoverConfig();
      c.failoverTime = e->getFailoverTime();
      c.fallbackTime = e->getFallbackTime();
      c.type = failoverTypeToDriver(e->getSelectedType());
      drv.setFailoverConfig(c);
    });
  };
  keep(device, config->onFailoverTimeChanged([send](const int&, bool external) { send(external); }));
  keep(device, config->onFallbackTimeChanged([send](const int&, bool external) { send(external); }));
  keep(device, config->onSelectedTypeChanged([send](const FtFailoverConfigType&, bool external) { send(external); }));
  reportInto<FtFailoverConfig>(device, config, DriverSignal::Failover, refresh);
}

void BaseAmplifier::destroyFtFailoverConfig(Device* device) {
  destroySlot<FtFailoverConfigService>(device, &Device::getFailoverConfig, &Device::setFailoverConfig);
}

void BaseAmplifier::destroyFtInputSource(Device* device) {
  destroySlot<FtInputSourceService>(device, &Device::getInputSource, &Device::setInputSource);
}

void BaseAmplifier::destroyFtAmplifierMode(Device* device) {
  destroySlot<FtAmplifierModeService>(device, &Device::getAmplifierMode, &Device::setAmplifierMode);
}

}  // namespace qor::server
