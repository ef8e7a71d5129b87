// 1.2.0 stored speaker modes and speaker settings by their names only; 1.2.2
// binds them to the speaker databases installed on the server.

#include "migrations/MigrationSupport.h"
#include "migrations/Migrations.h"

#include "fennik/server/core/Logging.h"

namespace qor::server {

using namespace migration;

void Migration_120_122::migrate(const std::shared_ptr<fennik::server::FileContainer>& container) {
  migrateEntities(container, __FILE__, __LINE__, [](Json& doc) {
    const auto& modes = members(doc, cls("FtSpeakerMode"));
    std::size_t settings = 0;
    for (const auto& s : members(doc, cls("FtSpeakerSetting"))) {
      if (!s.value("supposedSpeakerDbDspChainId", "").empty()) ++settings;
    }
    if (modes.empty() && settings == 0) return;
    // Resolving modes and DSP chains needs the speaker databases; without a
    // speaker-database service on this server the entities stay as stored.
    fennik::server::getLogger(fennik::server::MODULE_LOGGER)
        ->warn(
            "No speaker databases to bind against: {} speaker modes and {} speaker settings keep their stored "
            "values",
            modes.size(), settings);
  });
}

}  // namespace qor::server
