// LivesoundService: the services it reaches and the preparation of an
// opened or new project.
#include "custom/livesound/LivesoundService.h"

#include "custom/VisualTreeService.h"
#include "custom/livesound/LivesoundLog.h"
#include "service/LayerService.h"
#include "service/SessionService.h"
#include "service/SessionWindowService.h"

#include "qor/server/entities/Device.h"
#include "qor/server/entities/Layer.h"
#include "qor/server/entities/LivesoundProject.h"
#include "qor/server/entities/Session.h"
#include "qor/server/entities/SessionWindow.h"
#include "qor/server/entities/VisualItem.h"
#include "qor/server/services/FtAudioService.h"
#include "qor/server/services/FtOnlineService.h"
#include "qor/server/services/FtPowerService.h"

#include "fennik/server/entity/Database.h"
#include "fennik/server/service/ServiceResolver.h"

#include <stdexcept>

namespace qor::server {

using fennik::server::Uuid;
using fennik::server::UuidFromS;

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

void LivesoundService::prepareProject() {
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
    livesound::log()->info("Project opened: master session and window are current");
    removeGroupsWithoutVisualItem();
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
  livesound::log()->info("New project: master session and window are current");
  removeGroupsWithoutVisualItem();
}

void LivesoundService::removeGroupsWithoutVisualItem() {
  // A group that is not on the canvas cannot be reached by the user.
  std::vector<Uuid> orphans;
  for (const Device* device : db()->all<Device>()) {
    if (device->getIsGroup() && !device->getVisualItem()) orphans.push_back(device->id());
  }
  // Destroying one group may rebuild or take another: look each up again.
  for (const Uuid& id : orphans) {
    if (Device* group = db()->get<Device>(id)) deviceDestroy(group);
  }
}

}  // namespace qor::server
