// LivesoundService: the services it reaches and the preparation of an
// opened or new project.
#include "custom/livesound/LivesoundService.h"

#include "custom/VisualTreeService.h"
#include "custom/livesound/LivesoundLog.h"
#include "service/LayerService.h"
#include "service/SessionService.h"
#include "service/SessionWindowService.h"

#include "qor/server/entities/LivesoundProject.h"
#include "qor/server/entities/SessionWindow.h"
#include "qor/server/services/FtAudioService.h"
#include "qor/server/services/FtOnlineService.h"
#include "qor/server/services/FtPowerService.h"

#include "fennik/server/entity/Database.h"
#include "fennik/server/service/ServiceResolver.h"

namespace qor::server {

using fennik::server::Uuid;
using fennik::server::UuidFromS;

std::shared_ptr<SessionService> LivesoundService::sessions() const { return services()->get<SessionService>(); }
std::shared_ptr<SessionWindowService> LivesoundService::windows() const {
  return services()->get<SessionWindowService>();
}
std::shared_ptr<LayerService> LivesoundService::layers() const { return services()->get<LayerService>(); }
std::shared_ptr<VisualTreeService> LivesoundService::tree() const { return services()->get<VisualTreeService>(); }

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
    livesound::log()->info("Project opened: master session and window are current");
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
}

}  // namespace qor::server
