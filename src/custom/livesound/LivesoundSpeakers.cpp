// LivesoundService: speakers and speaker databases.
#include "custom/livesound/LivesoundLog.h"
#include "custom/livesound/LivesoundService.h"
#include "service/SpeakerDatabaseService.h"

#include "fennik/server/loop/QueuedAccessor.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/NotificationService.h"
#include "fennik/server/service/ServiceResolver.h"

namespace qor::server {

void LivesoundService::speakerDatabaseInstallFile(const std::string& bytes) {
  LIVESOUND_TRACE("speakerDatabaseInstallFile");
  if (bytes.empty()) return;
  auto databases = services()->get<SpeakerDatabaseService>();
  const bool installed = databases && databases->install(bytes);
  loop()->work([&](const std::shared_ptr<fennik::server::EntityContext>& context) {
    if (context->notifications())
      context->notifications()->create(
          "Speaker Database",
          installed ? "The database was installed successfully." : "The database couldn't be installed.",
          fennik::server::NotificationType::Info);
  });
}

}  // namespace qor::server
