#include "custom/LivesoundService.h"

#include "custom/HighlightService.h"
#include "custom/VisualTreeService.h"
#include "service/LayerService.h"
#include "service/SessionService.h"
#include "service/SessionWindowService.h"

#include "qor/server/entities/Session.h"
#include "qor/server/services/DeviceService.h"
#include "qor/server/services/FtAudioService.h"
#include "qor/server/services/FtOnlineService.h"
#include "qor/server/services/FtPowerService.h"
#include "qor/server/services/LivesoundProjectService.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/service/ServiceResolver.h"

#include <stdexcept>

namespace qor::server {

using fennik::server::Uuid;
using fennik::server::UuidFromS;

namespace {

auto livesoundLog() { return fennik::server::getLogger(fennik::server::MODULE_LOGGER); }

constexpr const char* CLIPBOARD_WORKSPACE_ID = "60D538C9-71E2-47C2-833D-741C18B2FF80";

#define LIVESOUND_TRACE(name) livesoundLog()->trace("qor::server::LivesoundService::" name)

}  // namespace

std::shared_ptr<SessionService> LivesoundService::sessions() const { return services()->get<SessionService>(); }
std::shared_ptr<SessionWindowService> LivesoundService::windows() const {
  return services()->get<SessionWindowService>();
}
std::shared_ptr<LayerService> LivesoundService::layers() const { return services()->get<LayerService>(); }
std::shared_ptr<VisualTreeService> LivesoundService::tree() const { return services()->get<VisualTreeService>(); }

void LivesoundService::checkLoad(const fennik::server::Database& incoming) const {
  struct Fixed {
    const char* id;
    std::string_view className;
    const char* role;
  };
  const Fixed fixed[] = {
      {SessionService::MASTER_SESSION_ID, Session::CLASS_NAME, "the master session"},
      {VisualTreeService::WORKSPACE_ROOT_ID, VisualItem::CLASS_NAME, "the workspace root"},
      {LayerService::MASTER_LAYER_ID, Layer::CLASS_NAME, "the master layer"},
  };
  for (const auto& f : fixed) {
    const auto* entity = incoming.find(UuidFromS(f.id));
    if (entity && entity->className() != f.className) {
      throw std::runtime_error("the id " + std::string(f.id) + " is " + f.role + " (" + std::string(f.className) +
                               "), but the file has it as a " + std::string(entity->className()));
    }
  }
}

void LivesoundService::loaded() {
  auto s = sessions();
  auto w = windows();
  if (!s || !w) return;
  const Uuid masterRoot = UuidFromS(SessionService::MASTER_ROOT_ID);
  if (!db()->all<LivesoundProject>().empty()) {
    // An opened project: its master session and window may be missing when
    // the file was written by hand or damaged; they are made again.
    if (!s->find(UuidFromS(SessionService::MASTER_SESSION_ID))) {
      s->createMaster();
    } else {
      s->setCurrentSession(UuidFromS(SessionService::MASTER_SESSION_ID));
    }
    if (!s->getSessionWindow(masterRoot)) {
      SessionWindow* window = w->create(masterRoot);
      s->currentSession()->addSessionWindows(window);
    }
    s->setCurrentSessionWindow(masterRoot);
    livesoundLog()->info("Project opened: master session and window are current");
    return;
  }
  auto project = LivesoundProject::createDefaultInitialized(fennik::server::random_uuid());
  if (auto power = services()->get<FtPowerService>()) project->setPower(power->create());
  if (auto audio = services()->get<FtAudioService>()) project->setAudio(audio->create());
  if (auto online = services()->get<FtOnlineService>()) project->setOnline(online->create());
  db()->add(std::move(project));
  s->createMaster();
  s->unsetCurrentSession();
  s->setCurrentSessionWindow(masterRoot);
  w->setSelectionMode(VisualItemSelectionMode::DESIGN);
  if (SessionWindow* window = w->currentSessionWindow()) window->setSelectedLayer(layers()->masterLayer());
  livesoundLog()->info("New project: master session and window are current");
}

Layer* LivesoundService::layerAdd() {
  LIVESOUND_TRACE("layerAdd");
  Layer* layer = layers()->create();
  layerSelect(layer);
  return layer;
}

void LivesoundService::layerSelect(Layer* layer) {
  LIVESOUND_TRACE("layerSelect");
  tree()->selectAll(false);
  SessionWindow* window = windows()->currentSessionWindow();
  if (window && window->getSelectedLayer() != layer) window->setSelectedLayer(layer);
}

void LivesoundService::layerDestroy(Layer* layer) {
  LIVESOUND_TRACE("layerDestroy");
  auto l = layers();
  if (!layer || l->isMaster(layer)) return;
  SessionWindow* window = windows()->currentSessionWindow();
  Layer* remembered = window ? window->getSelectedLayer() : nullptr;
  if (remembered == layer) remembered = l->masterLayer();
  auto t = tree();
  t->selectAll(false);
  // Selecting is refused outside the selected layer: show this one meanwhile.
  if (window) window->setSelectedLayer(layer);
  for (VisualItem* item : t->getTopLevelItemsOnlyVisibleOnLayer(layer)) t->selectSingle(item, true);
  visualItemDestroySelected();
  l->destroy(layer);
  if (window && window->getSelectedLayer() != remembered) window->setSelectedLayer(remembered);
}

void LivesoundService::visualHighlight(const Uuid& device, const Uuid& feature, LivesoundVisualHighlightScope scope) {
  LIVESOUND_TRACE("visualHighlight");
  if (auto highlights = services()->get<HighlightService>()) highlights->visualHighlight(device, feature, scope);
}

void LivesoundService::visualItemDestroySelected() {
  LIVESOUND_TRACE("visualItemDestroySelected");
  const std::vector<VisualItem*> selected = windows()->selectedItems();
  visualItemDestroy(selected);
}

void LivesoundService::visualItemDestroy(const std::vector<VisualItem*>& items) {
  const Uuid clipboard = UuidFromS(CLIPBOARD_WORKSPACE_ID);
  auto t = tree();
  const std::vector<VisualItem*> copy = items;
  for (VisualItem* item : copy) {
    // An item destroyed earlier in this walk (as a member of a group) is gone.
    if (!item || !db()->find(item->id())) continue;
    if (t->findRoot(item)->id() == clipboard) continue;
    if (Device* device = deviceOf(item)) {
      deviceDestroy(device);
      continue;
    }
    visualItemDestroy(item->childrens());
    t->destroy(item);
  }
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
  VisualItem* item = device->getVisualItem();
  device->setVisualItem(nullptr);
  if (item) {
    visualItemDestroy(item->childrens());
    tree()->destroy(item);
  }
  if (auto devices = services()->get<DeviceService>()) devices->destroy(device);
}

}  // namespace qor::server
