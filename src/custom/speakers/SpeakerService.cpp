// SpeakerService: making, copying, destroying speakers and their modes.
#include "custom/speakers/SpeakerService.h"

#include "custom/basedevice/FeatureShapes.h"
#include "custom/canvas/CanvasGeometry.h"
#include "custom/speakers/SpeakerFeatures.h"
#include "custom/speakers/SpeakerSize.h"
#include "service/FeatureServices.h"
#include "service/SpeakerDatabaseService.h"

#include "qor/server/entities/Device.h"
#include "qor/server/entities/DeviceType.h"
#include "qor/server/entities/FtDeviceInfo.h"
#include "qor/server/entities/FtLabel.h"
#include "qor/server/entities/FtSpeakerMode.h"
#include "qor/server/entities/FtSpeakerSetting.h"
#include "qor/server/entities/VisualItem.h"
#include "qor/server/services/DeviceService.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/service/ServiceResolver.h"

#include <nlohmann/json.hpp>

namespace qor::server {

using fennik::server::Uuid;

namespace {

auto logger() { return fennik::server::getLogger(fennik::server::MODULE_LOGGER); }

bool isSpeaker(const Device* device) {
  return device && device->getType() && device->getType()->getImplementation() == DeviceTypeImplementation::SPEAKER;
}

}  // namespace

std::shared_ptr<SpeakerDatabaseService> SpeakerService::databases() const {
  return services()->get<SpeakerDatabaseService>();
}

std::optional<Uuid> SpeakerService::deviceTypeIdByProductId(const std::string& productId) {
  try {
    return SpeakerDatabaseService::getDeviceTypeIdByProductId(productId);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::optional<ResolvedSpeakerMode> SpeakerService::firstModeOf(const DeviceType& type) const {
  auto dbs = databases();
  auto database = dbs ? dbs->getDatabaseFor(&type) : nullptr;
  const auto* product = database ? database->findProduct(type.id()) : nullptr;
  if (!product) return std::nullopt;
  for (const auto& mode : database->modesOf(*product)) {
    SpeakerModeKey key{fennik::server::UuidToS(database->id()), fennik::server::UuidToS(product->id),
                       fennik::server::UuidToS(mode.preset->id), fennik::server::UuidToS(mode.variant->id)};
    if (auto resolved = resolveSpeakerMode(*dbs, key)) return resolved;
  }
  return std::nullopt;
}

std::string SpeakerService::availableModesOf(const DeviceType& type) const {
  nlohmann::json list = nlohmann::json::array();
  auto dbs = databases();
  auto database = dbs ? dbs->getDatabaseFor(&type) : nullptr;
  const auto* product = database ? database->findProduct(type.id()) : nullptr;
  if (!product) return list.dump();
  for (const auto& mode : database->modesOf(*product)) {
    list.push_back({{"key", makeSpeakerModeId(*database, *product, *mode.preset, *mode.variant)},
                    {"title", speakerModeTitle(*mode.preset, *mode.variant)}});
  }
  return list.dump();
}

Device* SpeakerService::createSpeaker(DeviceType* type) {
  return createSpeaker(type, 0, 0, fennik::server::random_uuid());
}

Device* SpeakerService::createSpeaker(DeviceType* type, int x, int y, const Uuid& itemId) {
  if (!type || type->getImplementation() != DeviceTypeImplementation::SPEAKER) return nullptr;
  const auto mode = firstModeOf(*type);
  if (!mode) {
    logger()->error("Speaker '{}' cannot be created: no speaker database in use offers it", type->getModel());
    return nullptr;
  }
  const auto& r = *services();
  auto devices = r.get<DeviceService>();
  auto labels = serviceOf<FtLabel>(r);
  auto infos = serviceOf<FtDeviceInfo>(r);
  auto modes = serviceOf<FtSpeakerMode>(r);
  if (!devices || !labels || !infos || !modes) return nullptr;

  // The item joins the canvas where the editor puts it (placed, tagged and
  // layered there), with the product's size.
  if (db()->find(itemId)) {
    logger()->error("Speaker '{}' cannot be created: the visual item id is taken", type->getModel());
    return nullptr;
  }
  auto owned = VisualItem::createDefaultInitialized(itemId);
  VisualItem* item = owned.get();
  db()->add(std::move(owned));
  const CanvasSize size = speakerCanvasSize(mode->product->size);
  canvas::setWidth(item, size.width);
  canvas::setHeight(item, size.height);
  canvas::setX(item, x);
  canvas::setY(item, y);

  Device* device = devices->create(fennik::server::random_uuid());
  if (!device) {
    db()->deleteEntity(item);
    return nullptr;
  }
  device->setType(type);
  devices->setImplementation(device, type->getImplementation(), false);
  device->setVisualItem(item);

  createLabelAndDeviceInfo(*labels, *infos, device, *type);
  FtLabel* label = device->getLabel();

  FtSpeakerMode* speakerMode = modes->create();
  modes->setSource(speakerMode, FtSource::DEVICE, false);
  speakerMode->setLabel(label);
  modes->setAvailableModes(speakerMode, availableModesOf(*type), false);
  modes->setMode(speakerMode, makeSpeakerModeId(*mode->database, *mode->product, *mode->preset, *mode->variant), false);
  device->setSpeakerMode(speakerMode);

  buildSpeakerFeatures(r, device, *mode);
  updateConnectorFilters(device);
  return device;
}

void SpeakerService::destroySpeaker(Device* device) {
  if (!device) return;
  const auto& r = *services();
  removeSpeakerFeatures(r, device);
  if (FtDeviceInfo* info = device->getDeviceInfo()) {
    device->setDeviceInfo(nullptr);
    serviceOf<FtDeviceInfo>(r)->destroy(info);
  }
  // The device service takes the rest: label, mode, visual item.
  if (auto devices = r.get<DeviceService>()) devices->destroy(device);
}

Device* SpeakerService::duplicateSpeaker(Device* source) {
  if (!isSpeaker(source)) return nullptr;
  const VisualItem* from = source->getVisualItem();
  Device* copy =
      createSpeaker(source->getType(), from ? from->getX() : 0, from ? from->getY() : 0, fennik::server::random_uuid());
  if (!copy) return nullptr;
  if (source->getSpeakerMode()) applySpeakerMode(copy, source->getSpeakerMode()->getMode());
  // Channels that run an SPS file run the same file in the copy.
  const FtSpeakerSetting* from_ = source->getSpeakerSetting();
  FtSpeakerSetting* to = copy->getSpeakerSetting();
  if (!from_ || !to) return copy;
  for (FtSpeakerSetting* channel : to->childrens()) {
    for (const FtSpeakerSetting* original : from_->childrens()) {
      if (original->getIndex() == channel->getIndex() && original->getIsGeneric() &&
          !original->getSupposedSpsFilePath().empty())
        loadSpsIntoSpeakerSetting(channel, original->getSupposedSpsFilePath());
    }
  }
  return copy;
}

void SpeakerService::applySpeakerMode(Device* device, const std::string& modeId) {
  if (!device || !device->getType() || !device->getSpeakerMode()) return;
  if (device->getIsGroup()) {
    const std::vector<Device*> members = device->childrenShareds();
    for (Device* member : members) applySpeakerMode(member, modeId);
    return;
  }
  const auto& r = *services();
  auto modes = serviceOf<FtSpeakerMode>(r);
  FtSpeakerMode* feature = device->getSpeakerMode();
  const auto key = parseSpeakerModeId(modeId);
  // Any spelling of a mode is stored in its one canonical form.
  const std::string canonical = key ? makeSpeakerModeId(*key) : modeId;
  const std::string before = feature->getMode();
  const bool consistentBefore = feature->getModeConsistent();
  modes->setMode(feature, canonical, false);
  if (feature->getMode() == before && feature->getModeConsistent() == consistentBefore) return;

  auto dbs = databases();
  auto database = dbs ? dbs->getDatabaseFor(device->getType()) : nullptr;
  if (!database || !database->findProduct(device->getType()->id())) {
    logger()->error("Product not found by device type");
    return;
  }
  const auto mode = key ? resolveSpeakerMode(*dbs, *key) : std::nullopt;
  if (!mode || mode->product->id != device->getType()->id()) {
    logger()->error("Couldn't create DeviceMode");
    return;
  }
  removeSpeakerFeatures(r, device);
  buildSpeakerFeatures(r, device, *mode);
  updateConnectorFilters(device);
  if (device->getDeviceInfo()) device->getDeviceInfo()->setLabel(device->getLabel());
}

void SpeakerService::refreshSpeakers() {
  auto modes = serviceOf<FtSpeakerMode>(*services());
  if (!modes) return;
  for (Device* device : db()->all<Device>()) {
    if (device->getIsGroup() || !isSpeaker(device) || !device->getSpeakerMode()) continue;
    const std::string available = availableModesOf(*device->getType());
    if (device->getSpeakerMode()->getAvailableModes() != available)
      modes->setAvailableModes(device->getSpeakerMode(), available, false);
  }
}

void SpeakerService::loaded() { refreshSpeakers(); }

}  // namespace qor::server
