// LivesoundService: devices in the project — adding them by type, naming
// them from the project's counters, taking them out again with everything
// that belongs to them.
#include "custom/livesound/LivesoundService.h"

#include "custom/VisualTreeService.h"
#include "custom/deviceplant/DevicePlant.h"
#include "custom/deviceplant/MatrixService.h"
#include "custom/discovery/LivesoundDiscoveredDeviceService.h"
#include "custom/livesound/LivesoundLog.h"
#include "custom/panels/PanelService.h"
#include "custom/speakers/ISpeakerDevices.h"
#include "service/FtConnectorService.h"
#include "service/LayerService.h"
#include "service/SessionWindowService.h"

#include "qor/server/entities/Device.h"
#include "qor/server/entities/DeviceType.h"
#include "qor/server/entities/FtConnector.h"
#include "qor/server/entities/FtDeviceInfo.h"
#include "qor/server/entities/FtPower.h"
#include "qor/server/entities/LivesoundProject.h"
#include "qor/server/entities/SessionWindow.h"
#include "qor/server/services/DeviceService.h"
#include "qor/server/services/FtAudioService.h"
#include "qor/server/services/FtDeviceInfoService.h"
#include "qor/server/services/FtOnlineService.h"
#include "qor/server/services/FtPowerService.h"

#include "fennik/server/entity/Database.h"
#include "fennik/server/service/ServiceResolver.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <optional>
#include <string>

namespace qor::server {

using fennik::server::Uuid;

namespace {

constexpr const char* UNKNOWN_IMPLEMENTATION = "Unknown DeviceTypeImplementation is used";

// The default name table: a prefix and the project counter it numbers from.
struct NameCounter {
  const char* prefix;
  const std::int32_t& (LivesoundProject::*get)() const;
  bool (LivesoundProject::*set)(const std::int32_t&, bool);
};

const NameCounter* nameCounterFor(DeviceTypeImplementation implementation) {
  static const NameCounter amplifier{"Amp", &LivesoundProject::getDeviceTypeAmplifierNextId,
                                     &LivesoundProject::setDeviceTypeAmplifierNextId};
  static const NameCounter matrix{"Matrix", &LivesoundProject::getDeviceTypeMatrixNextId,
                                  &LivesoundProject::setDeviceTypeMatrixNextId};
  static const NameCounter speaker{"Speaker", &LivesoundProject::getDeviceTypeSpeakerNextId,
                                   &LivesoundProject::setDeviceTypeSpeakerNextId};
  static const NameCounter panel{"Panel", &LivesoundProject::getDeviceTypePanelNextId,
                                 &LivesoundProject::setDeviceTypePanelNextId};
  switch (implementation) {
    case DeviceTypeImplementation::AMPLIFIER:
      return &amplifier;
    case DeviceTypeImplementation::MATRIX:
      return &matrix;
    case DeviceTypeImplementation::SPEAKER:
      return &speaker;
    case DeviceTypeImplementation::PANEL:
      return &panel;
    default:
      return nullptr;
  }
}

bool isKnown(DeviceTypeImplementation implementation) { return nameCounterFor(implementation) != nullptr; }

}  // namespace

LivesoundProject* LivesoundService::project() const {
  const auto projects = db()->all<LivesoundProject>();
  return projects.empty() ? nullptr : projects.front();
}

void LivesoundService::flagDiscoveredDevicesDirty() {
  // Which network devices are mapped changed: the list is recomputed.
  if (auto list = services()->get<LivesoundDiscoveredDeviceService>()) list->flagDirty();
}

Device* LivesoundService::createOfType(DeviceType* type) {
  switch (type->getImplementation()) {
    case DeviceTypeImplementation::AMPLIFIER: {
      auto plant = services()->get<DevicePlant>();
      Device* device = plant ? plant->create(type, fennik::server::random_uuid()) : nullptr;
      if (!device) return nullptr;
      setDefaultDeviceName(device->getDeviceInfo(), DeviceTypeImplementation::AMPLIFIER);
      setDefaultPowerOnDelay(device);
      connectToProjectFeatures(device, true);
      return device;
    }
    case DeviceTypeImplementation::MATRIX: {
      auto matrices = services()->get<MatrixService>();
      Device* device = matrices ? matrices->create(type) : nullptr;
      if (!device) return nullptr;
      setDefaultDeviceName(device->getDeviceInfo(), DeviceTypeImplementation::MATRIX);
      connectToProjectFeatures(device, true);
      return device;
    }
    case DeviceTypeImplementation::SPEAKER: {
      auto speakers = services()->get<ISpeakerDevices>();
      if (!speakers) {
        livesound::log()->error("Speaker '{}' cannot be added: no speaker service is available", type->getModel());
        return nullptr;
      }
      Device* device = speakers->createSpeaker(type);
      if (!device) return nullptr;
      setDefaultDeviceName(device->getDeviceInfo(), DeviceTypeImplementation::SPEAKER);
      return device;
    }
    case DeviceTypeImplementation::PANEL: {
      auto panels = services()->get<PanelService>();
      if (!panels) {
        livesound::log()->error("Panel '{}' cannot be added: no panel service is available", type->getModel());
        return nullptr;
      }
      Device* device = panels->create(type, 0, 0);
      if (!device) return nullptr;
      setDefaultDeviceName(device->getDeviceInfo(), DeviceTypeImplementation::PANEL);
      connectToProjectFeatures(device, true);
      // A new panel starts from the first template of its family, if any.
      const auto templates = panels->templates(PanelService::familyOf(type->id()));
      if (!templates.empty()) panels->applyTemplate(device->getPanel(), templates.front()->id);
      return device;
    }
    default:
      return nullptr;
  }
}

void LivesoundService::firmwareLoadFW(FtDeviceInfo* info, const std::string& path) {
  if (!info) return;
  auto infos = services()->get<FtDeviceInfoService>();
  // A retry names the same file: clear it first as the device's own change,
  // which the binding does not send, so that the next write counts.
  if (info->getFirmwareLoadFilePath() == path) infos->setFirmwareLoadFilePath(info, "", true);
  infos->setFirmwareLoadFilePath(info, path, false);
}

void LivesoundService::panelSetTemplate(FtPanel* panel, const std::string& templateId) {
  LIVESOUND_TRACE("panelSetTemplate");
  if (!panel) return;
  auto panels = services()->get<PanelService>();
  if (!panels || !panels->applyTemplate(panel, templateId))
    livesound::log()->error("Panel template '{}' is unknown", templateId);
}

void LivesoundService::placeInTree(VisualItem* item) {
  // A device class makes its item without a place: it joins the canvas of
  // the current window, on the layer shown there.
  auto t = tree();
  if (!item || item->getParent()) return;
  SessionWindow* window = windows()->currentSessionWindow();
  VisualItem* root = nullptr;
  if (window) {
    try {
      root = db()->get<VisualItem>(fennik::server::UuidFromS(window->getRootVisualItemId()));
    } catch (const std::invalid_argument&) {
    }
  }
  t->add(root ? root : t->root(), item);
  // Selectable in design and in device mode, as every device on the canvas.
  t->setTag(item, VisualItemSelectionMode::DESIGN, true);
  t->setTag(item, VisualItemSelectionMode::DEVICE, true);
  if (window && window->getSelectedLayer()) layers()->setVisible(window->getSelectedLayer(), item, true);
}

Device* LivesoundService::deviceAdd(DeviceType* type, int x, int y, bool autoPlace) {
  LIVESOUND_TRACE("deviceAdd");
  auto t = tree();
  t->selectAll(false);
  if (!type) return nullptr;
  if (!isKnown(type->getImplementation())) {
    livesound::log()->error(UNKNOWN_IMPLEMENTATION);
    flagDiscoveredDevicesDirty();
    return nullptr;
  }
  t->startPostponeIndexReparation();
  Device* device = createOfType(type);
  if (device) placeInTree(device->getVisualItem());
  t->endPostponeIndexReparation();
  if (!device) return nullptr;
  device->setType(type);
  if (VisualItem* item = device->getVisualItem()) {
    t->selectSingle(item, true);
    t->moveSelected(x, y);
    if (autoPlace) t->autoPlace(item, 0);
  }
  flagDiscoveredDevicesDirty();
  return device;
}

std::vector<Device*> LivesoundService::deviceAdd(const std::string& kind, const std::string& id, int count, int x,
                                                 int y, bool autoPlace) {
  LIVESOUND_TRACE("deviceAdd");
  std::optional<Uuid> typeId;
  if (kind == "SpeakerMode" || kind == "SpeakerModeBand") {
    // Throws the JSON library's error for text that is no JSON, an id that
    // is not an object, or a product id that is not a string.
    const nlohmann::json mode = nlohmann::json::parse(id);
    const std::string productId = mode.at("product.id").get<std::string>();
    auto speakers = services()->get<ISpeakerDevices>();
    if (!speakers) {
      livesound::log()->error("Speaker product '{}' cannot be added: no speaker service is available", productId);
      return {};
    }
    typeId = speakers->deviceTypeIdByProductId(productId);
  } else if (kind == "Panel") {
    auto panels = services()->get<PanelService>();
    if (!panels) {
      livesound::log()->error("Panel template '{}' cannot be added: no panel service is available", id);
      return {};
    }
    typeId = panels->deviceTypeIdForTemplate(id);
  } else {
    try {
      typeId = fennik::server::UuidFromS(id);
    } catch (const std::invalid_argument&) {
      livesound::log()->error("Device type '{}' is not a device type id", id);
      return {};
    }
  }
  DeviceType* type = typeId ? db()->get<DeviceType>(*typeId) : nullptr;
  if (!type) {
    livesound::log()->error("No device type {} in the project", id);
    return {};
  }

  auto t = tree();
  t->selectAll(false);
  t->startPostponeIndexReparation();
  std::vector<Device*> added;
  for (int i = 0; i < count; ++i) {
    Device* device = deviceAdd(type, x, y, autoPlace);
    if (!device) continue;
    added.push_back(device);
    if (type->getImplementation() == DeviceTypeImplementation::SPEAKER &&
        (kind == "SpeakerMode" || kind == "SpeakerModeBand")) {
      if (auto speakers = services()->get<ISpeakerDevices>()) speakers->applySpeakerMode(device, id);
    }
    if (type->getImplementation() == DeviceTypeImplementation::PANEL && kind == "Panel")
      panelSetTemplate(device->getPanel(), id);
  }
  t->endPostponeIndexReparation();
  for (Device* device : added) {
    if (VisualItem* item = device->getVisualItem()) t->selectSingle(item, true);
  }
  return added;
}

void LivesoundService::setDefaultDeviceName(FtDeviceInfo* info, DeviceTypeImplementation implementation) {
  LivesoundProject* p = project();
  if (!p || !info) return;
  auto infos = services()->get<FtDeviceInfoService>();
  const NameCounter* counter = nameCounterFor(implementation);
  if (!counter) {
    livesound::log()->error(UNKNOWN_IMPLEMENTATION);
    infos->setName(info, "Device", false);
    return;
  }
  const std::int32_t number = (p->*counter->get)();
  infos->setDeviceIntId(info, number, false);
  (p->*counter->set)(number + 1, false);
  infos->setName(info, counter->prefix + std::to_string(number), false);
}

void LivesoundService::setDefaultDeviceNameForGroup(FtDeviceInfo* info) {
  LivesoundProject* p = project();
  if (!p || !info) return;
  const std::int32_t number = p->getDeviceTypeGroupNextId();
  p->setDeviceTypeGroupNextId(number + 1, false);
  // On the group's own info: a group write would rename its members too.
  info->setName("Group" + std::to_string(number), false);
}

void LivesoundService::setDefaultPowerOnDelay(Device* device) {
  if (!device || device->getImplementation() != DeviceTypeImplementation::AMPLIFIER) return;
  FtDeviceInfo* info = device->getDeviceInfo();
  FtPower* power = device->getPower();
  if (!info || !power || !power->getDelayInSecSupported()) return;
  // Amplifiers switch on one after the other, a tenth of a second apart,
  // so that a hundred of them never draw their inrush current together.
  const double delay = (info->getDeviceIntId() % 100) * 0.1;
  services()->get<FtPowerService>()->setDelayInSec(power, delay, false);
}

void LivesoundService::connectToProjectFeatures(Device* device, bool connect) {
  LivesoundProject* p = project();
  if (!p || !device) return;
  auto join = [connect](auto service, auto* group, auto* member) {
    if (!service || !group || !member) return;
    if (connect)
      service->addChild(group, member, false);
    else
      service->removeChild(group, member);
  };
  join(services()->get<FtPowerService>(), p->getPower(), device->getPower());
  join(services()->get<FtOnlineService>(), p->getOnline(), device->getOnline());
  join(services()->get<FtAudioService>(), p->getAudio(), device->getAudio());
}

void LivesoundService::disconnectAllConnectors(Device* device) {
  FtConnector* own = device ? device->getConnector() : nullptr;
  if (!own) return;
  // The dialogue on each wired channel connector releases its wires, so
  // that the features they joined part as well (an unwired one has nothing
  // to release); the connector service drops any other wire when the
  // connectors themselves go.
  auto connectors = services()->get<FtConnectorService>();
  const std::vector<FtConnector*> channels = own->childrens();
  for (FtConnector* channel : channels) {
    if (!connectors || !connectors->isWired(channel)) continue;
    connectorStart(channel);
    connectorSelect(channel);
    connectorFinish();
  }
}

void LivesoundService::removeVisualItem(Device* device) {
  VisualItem* item = device->getVisualItem();
  if (!item) return;
  device->setVisualItem(nullptr);
  visualItemDestroy(item->childrens());
  tree()->destroy(item);
}

Device* LivesoundService::deviceOf(const VisualItem* item) const {
  if (!item) return nullptr;
  for (Device* device : db()->all<Device>()) {
    if (device->getVisualItem() == item) return device;
  }
  return nullptr;
}

void LivesoundService::deviceDestroy(Device* device) {
  LIVESOUND_TRACE("deviceDestroy");
  if (!device) return;
  auto devices = services()->get<DeviceService>();
  DeviceType* type = device->getType();
  // A group carries its first member's type but has no driver of its own:
  // it goes as a group whatever its type, its members stay.
  if (device->getIsGroup()) {
    disconnectAllConnectors(device);
    removeVisualItem(device);
    devices->destroyGroup(device);
    return;
  }
  if (!type) {
    livesound::log()->error("Couldn't delete device");
    return;
  }
  const DeviceTypeImplementation implementation = type->getImplementation();
  if (!isKnown(implementation)) {
    livesound::log()->error(UNKNOWN_IMPLEMENTATION);
    return;
  }
  const Uuid id = device->id();
  // The groups holding the device are rebuilt without it afterwards.
  const std::vector<Device*> groups = device->parents();
  if (implementation == DeviceTypeImplementation::AMPLIFIER || implementation == DeviceTypeImplementation::MATRIX ||
      implementation == DeviceTypeImplementation::PANEL)
    connectToProjectFeatures(device, false);
  disconnectAllConnectors(device);
  removeVisualItem(device);
  devices->unhook(device);
  switch (implementation) {
    case DeviceTypeImplementation::AMPLIFIER:
    case DeviceTypeImplementation::MATRIX:
      if (auto plant = services()->get<DevicePlant>()) plant->destroy(device);
      break;
    case DeviceTypeImplementation::SPEAKER:
      if (auto speakers = services()->get<ISpeakerDevices>()) speakers->destroySpeaker(device);
      break;
    case DeviceTypeImplementation::PANEL:
      if (auto panels = services()->get<PanelService>()) panels->destroy(device);
      break;
    default:
      break;
  }
  // A device whose type has no factory (or service) left is taken apart here.
  if (Device* left = db()->get<Device>(id)) devices->destroy(left);
  for (Device* group : groups) {
    if (group && db()->get<Device>(group->id()) && group->getIsGroup()) devices->revalidateGroup(group);
  }
}

Device* LivesoundService::deviceDuplicate(Device* device) {
  tree()->selectAll(false);
  if (!device || device->getIsGroup() || !device->getType()) return nullptr;
  DeviceType* type = device->getType();
  Device* copy = nullptr;
  switch (type->getImplementation()) {
    case DeviceTypeImplementation::AMPLIFIER:
      if (auto plant = services()->get<DevicePlant>()) copy = plant->duplicate(device);
      if (!copy) return nullptr;
      setDefaultDeviceName(copy->getDeviceInfo(), DeviceTypeImplementation::AMPLIFIER);
      setDefaultPowerOnDelay(copy);
      connectToProjectFeatures(copy, true);
      break;
    case DeviceTypeImplementation::MATRIX:
      if (auto matrices = services()->get<MatrixService>()) copy = matrices->duplicate(device);
      if (!copy) return nullptr;
      setDefaultDeviceName(copy->getDeviceInfo(), DeviceTypeImplementation::MATRIX);
      break;
    case DeviceTypeImplementation::SPEAKER:
      if (auto speakers = services()->get<ISpeakerDevices>()) copy = speakers->duplicateSpeaker(device);
      if (!copy) return nullptr;
      setDefaultDeviceName(copy->getDeviceInfo(), DeviceTypeImplementation::SPEAKER);
      break;
    case DeviceTypeImplementation::PANEL:
      if (auto panels = services()->get<PanelService>()) copy = panels->duplicate(device);
      if (!copy) return nullptr;
      setDefaultDeviceName(copy->getDeviceInfo(), DeviceTypeImplementation::PANEL);
      connectToProjectFeatures(copy, true);
      break;
    default:
      livesound::log()->error("Couldn't find DeviceTypeImplementation");
      return nullptr;
  }
  copy->setType(type);
  return copy;
}

void LivesoundService::deviceRemove(Device* device) {
  LIVESOUND_TRACE("deviceRemove");
  if (!device || !device->getIsGroup()) return;
  deviceDestroy(device);
  flagDiscoveredDevicesDirty();
}

void LivesoundService::deviceGroupEmbed(Device* group, int x, int y) {
  LIVESOUND_TRACE("deviceGroupEmbed");
  if (!group || group->getVisualItem()) return;
  auto t = tree();
  VisualItem* item = t->create(x, y, 128, 80);
  if (!item) return;
  group->setVisualItem(item);
  t->setTag(item, VisualItemSelectionMode::DEVICE, true);
  t->setTag(item, VisualItemSelectionMode::DESIGN, true);
  setDefaultDeviceNameForGroup(group->getDeviceInfo());
  t->autoPlace(item, 0);
  t->selectAll(false);
  t->selectSingle(item, true);
}

void LivesoundService::deviceMappingClear(Device* device) {
  LIVESOUND_TRACE("deviceMappingClear");
  if (!device) return;
  FtDeviceInfo* info = device->getDeviceInfo();
  if (!info) return;
  auto infos = services()->get<FtDeviceInfoService>();
  if (const NameCounter* counter = nameCounterFor(device->getImplementation()))
    infos->setName(info, counter->prefix + std::to_string(info->getDeviceIntId()), false);
  else
    livesound::log()->error(UNKNOWN_IMPLEMENTATION);
  infos->setIpaddress(info, "", false);
  infos->setFirmware(info, "", false);
  services()->get<DeviceService>()->setDeviceId(device, "", false);
  flagDiscoveredDevicesDirty();
}

void LivesoundService::deviceMappingLoadAutomaticByDeviceId(Device*) {
  LIVESOUND_TRACE("deviceMappingLoadAutomaticByDeviceId");
}

void LivesoundService::testcaseBarrier(const std::string& key) {
  LIVESOUND_TRACE("testcaseBarrier");
  for (LivesoundProject* p : db()->all<LivesoundProject>()) p->setTestCaseBarrierKey(key, false);
}

}  // namespace qor::server
