// PanelService: panel devices, their features and drivers, and their place
// in the project file. The feature wiring is in PanelBinding.cpp.
#include "custom/panels/PanelService.h"

#include "custom/VisualTreeService.h"
#include "custom/basedevice/FeatureShapes.h"
#include "custom/driverstore/DriverStore.h"
#include "service/DeviceService.h"
#include "service/FtPanelService.h"

#include "qor/server/entities/Device.h"
#include "qor/server/entities/DeviceType.h"
#include "qor/server/entities/FtDeviceInfo.h"
#include "qor/server/entities/FtDeviceState.h"
#include "qor/server/entities/FtLabel.h"
#include "qor/server/entities/FtNetwork.h"
#include "qor/server/entities/FtOnline.h"
#include "qor/server/entities/FtPanel.h"
#include "qor/server/entities/VisualItem.h"
#include "qor/server/services/FtDeviceInfoService.h"
#include "qor/server/services/FtDeviceStateService.h"
#include "qor/server/services/FtLabelService.h"
#include "qor/server/services/FtNetworkService.h"
#include "qor/server/services/FtOnlineService.h"
#include "qor/server/services/VisualItemService.h"

#include "fennik/devices/PanelDriverSerializer.h"
#include "fennik/devices/SimulatedNetwork.h"
#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/project/FileContainer.h"
#include "fennik/server/service/ServiceResolver.h"

namespace qor::server {

using fennik::devices::PanelDriver;
using fennik::devices::PanelDriverSerializer;
using fennik::server::getLogger;
using fennik::server::MODULE_LOGGER;
using fennik::server::Uuid;

const Uuid PanelService::PANEL_TYPE_ID = fennik::server::UuidFromS("7c1d9a52-3e4b-4f86-b0a7-5d2e91c4f3a8");
const Uuid PanelService::PANEL_VARIANT_TYPE_ID = fennik::server::UuidFromS("e4a8b0c6-1f27-4d59-8c3e-6b90d2a7f154");

namespace {

struct PanelKind {
  const char* label;
  const char* model;
  const char* family;
  const char* schema;
  const char* networkModel;
  int width;
  int height;
};

const PanelKind& panelKind(const Uuid& typeId) {
  static const PanelKind panel{"Panel",
                               "Panel",
                               "MZD",
                               "mzd",
                               fennik::devices::MZD_PANEL_MODEL,
                               PanelService::PANEL_WIDTH,
                               PanelService::PANEL_HEIGHT};
  static const PanelKind variant{"Panel RLX",
                                 "Panel RLX",
                                 "RLX",
                                 "rlx",
                                 fennik::devices::RLX_PANEL_MODEL,
                                 PanelService::PANEL_HEIGHT,
                                 PanelService::PANEL_WIDTH};
  return typeId == PanelService::PANEL_VARIANT_TYPE_ID ? variant : panel;
}

template <class S>
std::shared_ptr<S> lookup(const fennik::server::Service& owner) {
  auto resolver = owner.services();
  return resolver ? resolver->get<S>() : nullptr;
}

}  // namespace

PanelService::PanelService(std::shared_ptr<fennik::server::Database> db,
                           std::shared_ptr<fennik::server::EntityLoop> loop,
                           std::shared_ptr<fennik::server::ServiceResolver> services)
    : Service(std::move(db), std::move(loop), std::move(services)) {}

PanelService::~PanelService() {
  // Jobs still queued for this service find it gone.
  alive_.reset();
}

void PanelService::attachNetwork(std::shared_ptr<fennik::devices::SimulatedNetwork> network) {
  network_ = std::move(network);
  if (!network_) return;
  for (const auto& model : fennik::devices::simulatedPanelModels()) network_->registerModel(model);
}

bool PanelService::isPanelType(const Uuid& typeId) {
  return typeId == PANEL_TYPE_ID || typeId == PANEL_VARIANT_TYPE_ID;
}

std::string PanelService::familyOf(const Uuid& typeId) { return panelKind(typeId).family; }

std::shared_ptr<PanelService::Driver> PanelService::newDriver(const Uuid& typeId) const {
  if (!network_) return nullptr;
  return std::make_shared<PanelDriver>(network_, panelKind(typeId).networkModel);
}

PanelService::Driver* PanelService::driver(const Uuid& deviceId) const {
  auto it = panels_.find(deviceId);
  return it == panels_.end() ? nullptr : it->second.driver.get();
}

void PanelService::ensureDeviceTypes() {
  for (const Uuid& id : {PANEL_TYPE_ID, PANEL_VARIANT_TYPE_ID}) {
    if (db()->get<DeviceType>(id)) continue;
    if (db()->find(id)) {
      getLogger(MODULE_LOGGER)
          ->error("Panel device type {} is not added: its id is taken by another entity", fennik::server::UuidToS(id));
      continue;
    }
    const PanelKind& kind = panelKind(id);
    auto type = DeviceType::createDefaultInitialized(id);
    type->setLabel(kind.label, false);
    type->setModel(kind.model, false);
    type->setVendor("Panel", false);
    type->setImplementation(DeviceTypeImplementation::PANEL, false);
    db()->add(std::move(type));
  }
}

Device* PanelService::create(DeviceType* type, int x, int y) {
  if (!type || !isPanelType(type->id())) return nullptr;
  auto devices = lookup<DeviceService>(*this);
  auto items = lookup<VisualItemService>(*this);
  if (!devices || !items) return nullptr;
  const PanelKind& kind = panelKind(type->id());
  Device* device = devices->create(fennik::server::random_uuid());
  if (!device) return nullptr;
  device->setType(type);
  device->setImplementation(DeviceTypeImplementation::PANEL, false);
  VisualItem* item = items->create();
  item->setX(x, false);
  item->setY(y, false);
  item->setWidth(kind.width, false);
  item->setHeight(kind.height, false);
  device->setVisualItem(item);
  panels_[device->id()].driver = newDriver(type->id());
  if (!panels_[device->id()].driver)
    getLogger(MODULE_LOGGER)
        ->warn("Panel {} is designed offline: the server has no device network for its driver", device->strId());
  createFeatures(device, type);
  connect(device);
  return device;
}

void PanelService::createFeatures(Device* device, DeviceType* type) {
  auto labels = lookup<FtLabelService>(*this);
  auto infos = lookup<FtDeviceInfoService>(*this);
  auto onlines = lookup<FtOnlineService>(*this);
  auto panelFeatures = lookup<FtPanelService>(*this);
  auto networks = lookup<FtNetworkService>(*this);
  auto states = lookup<FtDeviceStateService>(*this);
  if (!labels || !infos || !onlines || !panelFeatures || !networks || !states) return;
  const PanelKind& kind = panelKind(type->id());

  // What the project file keeps; the rest is described on connecting.
  FtDeviceInfo* info = createLabelAndDeviceInfo(*labels, *infos, device, *type);
  FtLabel* label = device->getLabel();
  infos->setDeviceIdRule(info, StringValidatorRule::DeviceId, false);
  infos->setNameRule(info, StringValidatorRule::CapDnsName, false);

  FtOnline* online = onlines->create();
  onlines->setSource(online, FtSource::DEVICE, false);
  online->setLabel(label);
  onlines->setIsIpAddressSupported(online, true, false);
  onlines->setIsMacAddressSupported(online, false, false);
  device->setOnline(online);

  FtPanel* panel = panelFeatures->create();
  panelFeatures->setLocked(panel, true, false);
  // The default document names the panel's schema and nothing else; the
  // stored text is taken as it is (no keywords to resolve).
  panelFeatures->FtPanelServiceBase::setJson(panel, nlohmann::json{{"schema", kind.schema}}.dump(), false);
  device->setPanel(panel);

  FtNetwork* network = networks->create();
  networks->setSource(network, FtSource::DEVICE, false);
  network->setLabel(label);
  device->setNetwork(network);

  FtDeviceState* state = states->create();
  states->setSource(state, FtSource::DEVICE, false);
  state->setLabel(label);
  states->setIsReactingOnRealAmpChannel(state, true, false);
  device->setDeviceState(state);
}

void PanelService::describeFeatures(Device* device) {
  auto labels = lookup<FtLabelService>(*this);
  auto infos = lookup<FtDeviceInfoService>(*this);
  auto onlines = lookup<FtOnlineService>(*this);
  auto networks = lookup<FtNetworkService>(*this);
  auto states = lookup<FtDeviceStateService>(*this);
  if (!device || !labels || !infos || !onlines || !networks || !states) return;
  // What a panel can do, as the features show it (not kept in the project
  // file, so told again whenever a panel is connected). External writes:
  // they describe the panel and go to no driver.
  if (FtLabel* label = device->getLabel()) labels->setCustomNameRule(label, StringValidatorRule::Unicode20Bytes, true);
  if (FtDeviceInfo* info = device->getDeviceInfo()) infos->setIsFirmwareSupported(info, true, true);
  if (FtOnline* online = device->getOnline()) {
    onlines->setFrontPanelLockSupported(online, true, true);
    onlines->setFrontPanelLockPinSupported(online, false, true);
  }
  if (FtNetwork* network = device->getNetwork()) {
    networks->setIsControlSupported(network, true, true);
    networks->setIsAudiodevice(network, true, true);
  }
  if (FtDeviceState* state = device->getDeviceState()) {
    std::vector<std::string> names;
    for (int f = 0; f < static_cast<int>(fennik::devices::PanelFlag::Count); ++f)
      names.emplace_back(fennik::devices::panelFlagName(static_cast<fennik::devices::PanelFlag>(f)));
    const std::size_t n = names.size();
    states->setFlagNames(state, names, true);
    if (state->getFlagStates().size() != n) states->setFlagStates(state, std::vector<bool>(n, false), true);
    if (state->getFlagCollectStates().size() != n)
      states->setFlagCollectStates(state, std::vector<bool>(n, false), true);
    states->setFlagStatesConsistent(state, std::vector<bool>(n, true), true);
    states->setFlagCollectStatesConsistent(state, std::vector<bool>(n, true), true);
    states->setFlagCollectSupported(state, std::vector<bool>(n, true), true);
    states->setIsCollectedErrorHoldSupported(state, true, true);
    states->setErrorSupported(state, true, true);
  }
}

void PanelService::destroy(Device* device) {
  if (!device) return;
  const Uuid id = device->id();
  disconnect(id);
  if (auto it = panels_.find(id); it != panels_.end()) {
    if (it->second.driver) it->second.driver->goOffline();
    panels_.erase(it);
  }
  if (VisualItem* item = device->getVisualItem()) {
    device->setVisualItem(nullptr);
    if (auto tree = lookup<VisualTreeService>(*this)) tree->destroy(item);
  }
  if (FtPanel* panel = device->getPanel()) {
    device->setPanel(nullptr);
    if (auto panels = lookup<FtPanelService>(*this)) panels->destroy(panel);
  }
  // The other features are detached and destroyed with the device.
  if (auto devices = lookup<DeviceService>(*this)) devices->destroy(device);
}

Device* PanelService::duplicate(Device* source) {
  if (!source || !source->getType() || !source->getVisualItem()) return nullptr;
  VisualItem* from = source->getVisualItem();
  Device* copy = create(source->getType(), from->getX(), from->getY());
  if (!copy) return nullptr;
  if (source->getPanel() && copy->getPanel()) {
    if (auto panels = lookup<FtPanelService>(*this))
      panels->setJson(copy->getPanel(), source->getPanel()->getJson(), false);
  }
  if (VisualItem* parent = from->getParent()) {
    if (auto tree = lookup<VisualTreeService>(*this)) tree->add(parent, copy->getVisualItem());
  }
  return copy;
}

bool PanelService::find(const std::string& model, const std::string& physicalId, bool active) {
  if (!active) {
    auto it = finders_.find(physicalId);
    if (it == finders_.end()) return false;
    it->second.connections.clear();
    it->second.driver->setIdentifyActive(false);
    it->second.driver->goOffline();
    finders_.erase(it);
    return true;
  }
  if (!network_ || !network_->model(model) || physicalId.empty()) return false;
  if (finders_.count(physicalId)) return true;
  Panel& finder = finders_[physicalId];
  finder.driver = std::make_shared<PanelDriver>(network_, model);
  // The session reads the panel (so nothing of it is overwritten); once it
  // stands, the loop asks the panel to identify.
  std::weak_ptr<bool> alive = alive_;
  finder.connections.emplace_back(
      finder.driver->onConnectionProgress([this, alive, physicalId, loop = loop()](int phase, float) {
        if (phase != fennik::devices::phase::ONLINE) return;
        loop->post("PanelService.cpp : find", [this, alive, physicalId](const auto&) {
          if (alive.expired()) return;
          if (auto it = finders_.find(physicalId); it != finders_.end()) it->second.driver->setIdentifyActive(true);
        });
      }));
  finder.driver->setPhysicalDeviceId(physicalId);
  finder.driver->goOnline(true);
  return true;
}

// --- templates ---

std::vector<const PanelTemplate*> PanelService::templates(const std::string& family) const {
  std::vector<const PanelTemplate*> result;
  for (const auto& t : builtInPanelTemplates()) {
    if (t.family == family) result.push_back(&t);
  }
  return result;
}

const PanelTemplate* PanelService::findTemplate(const std::string& id) const {
  for (const auto& t : builtInPanelTemplates()) {
    if (t.id == id) return &t;
  }
  return nullptr;
}

std::optional<Uuid> PanelService::deviceTypeIdForTemplate(const std::string& id) const {
  const PanelTemplate* t = findTemplate(id);
  if (!t) return std::nullopt;
  for (const Uuid& type : {PANEL_TYPE_ID, PANEL_VARIANT_TYPE_ID}) {
    if (t->schema == panelKind(type).schema) return type;
  }
  return std::nullopt;
}

std::optional<Uuid> PanelService::deviceTypeIdForModel(const std::string& networkModel) {
  if (networkModel == fennik::devices::MZD_PANEL_MODEL) return PANEL_TYPE_ID;
  if (networkModel.rfind("RLX", 0) == 0) return PANEL_VARIANT_TYPE_ID;
  return std::nullopt;
}

bool PanelService::applyTemplate(FtPanel* panel, const std::string& id) {
  const PanelTemplate* t = findTemplate(id);
  auto panels = lookup<FtPanelService>(*this);
  if (!panel || !t || !panels) return false;
  panels->setJson(panel, t->panelJson.dump(), false);
  return true;
}

// --- the project ---

void PanelService::load(fennik::server::FileContainer& container) {
  restored_.clear();
  container_ = std::make_shared<fennik::server::FileContainer>(container);
  ensureDeviceTypes();
  // Device types are not kept in the project file: panel devices get theirs back.
  for (Device* device : db()->all<Device>()) {
    if (!device->getType() && isPanelType(device->typeId())) device->setType(db()->get<DeviceType>(device->typeId()));
  }
  // Read aside and checked as a whole: a damaged entry throws before the
  // service keeps anything of it.
  std::map<Uuid, std::shared_ptr<Driver>> restored;
  DriverStore(DRIVER_FOLDER).load(container, [&](const Uuid& id, const DriverStore::Json& doc) {
    const Device* device = db()->get<Device>(id);
    if (!device || !isPanelType(device->typeId())) throw std::runtime_error("it names no panel of the project");
    if (!network_) throw std::runtime_error("there is no device network to restore the panel's driver on");
    std::shared_ptr<Driver> driver = PanelDriverSerializer::deserialize(network_, doc.dump());
    if (driver->getModel() != panelKind(device->typeId()).networkModel)
      throw std::runtime_error("the driver's model '" + driver->getModel() + "' is not that of the panel's type");
    restored[id] = std::move(driver);
  });
  restored_ = std::move(restored);
}

void PanelService::loaded() {
  for (Device* device : db()->all<Device>()) {
    if (!isPanelType(device->typeId())) continue;
    auto& panel = panels_[device->id()];
    if (auto it = restored_.find(device->id()); it != restored_.end()) {
      panel.driver = it->second;
    } else if (!panel.driver) {
      panel.driver = newDriver(device->typeId());
    }
    connect(device);
  }
  restored_.clear();
}

void PanelService::save(fennik::server::FileContainer& container) {
  std::vector<DriverStore::Entry> entries;
  for (Device* device : db()->all<Device>()) {
    Driver* d = driver(device->id());
    if (d) entries.emplace_back(device->id(), DriverStore::Json::parse(PanelDriverSerializer::serialize(*d)));
  }
  DriverStore(DRIVER_FOLDER).save(container, entries);
}

void PanelService::unload() {
  // Kept in the working folder once more before the drivers go: should the
  // project be put back (an open of another file that failed), its panels
  // get the drivers they had, not those of the last save.
  if (container_ && std::filesystem::is_directory(container_->path())) {
    try {
      save(*container_);
    } catch (const std::exception& e) {
      getLogger(MODULE_LOGGER)->warn("The panel drivers could not be kept on closing: {}", e.what());
    }
  }
  for (auto& [id, panel] : panels_) {
    panel.connections.clear();
    if (panel.driver) panel.driver->goOffline();
  }
}

void PanelService::unloaded() {
  panels_.clear();
  restored_.clear();
  container_.reset();
}

}  // namespace qor::server
