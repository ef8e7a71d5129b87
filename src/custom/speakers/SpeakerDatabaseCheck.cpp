// SpeakerService::load: an opened project names, in its speakers' modes, the
// speaker databases it was designed with. A database that is missing, or
// installed only in versions that lack a product, preset or variant the
// project uses, is reported to the user; the project opens all the same.
#include "custom/speakers/SpeakerService.h"

#include "service/SpeakerDatabaseService.h"

#include "qor/server/entities/FtSpeakerMode.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/NotificationService.h"
#include "fennik/server/service/ServiceResolver.h"

#include <set>
#include <tuple>

namespace qor::server {

namespace {

auto logger() { return fennik::server::getLogger(fennik::server::MODULE_LOGGER); }

// The name and newest installed version of the database with this id.
std::optional<std::pair<std::string, SpeakerDatabaseService::Version>> databaseWithId(
    const SpeakerDatabaseService& databases, const fennik::server::Uuid& id) {
  for (const auto& [name, versions] : databases.getAllDatabases()) {
    for (auto it = versions.rbegin(); it != versions.rend(); ++it) {
      if (it->second->id() == id) return std::pair{name, it->first};
    }
  }
  return std::nullopt;
}

}  // namespace

void SpeakerService::load(fennik::server::FileContainer&) {
  auto dbs = databases();
  if (!dbs) return;
  dbs->ensureLoaded();
  std::set<std::string> reported;
  auto report = [&](const std::string& text) {
    if (!reported.insert(text).second) return;
    logger()->warn("Speaker Database: {}", text);
    loop()->work([&](const std::shared_ptr<fennik::server::EntityContext>& context) {
      if (context->notifications())
        context->notifications()->create("Speaker Database", text, fennik::server::NotificationType::Info);
    });
  };
  for (const FtSpeakerMode* feature : db()->all<FtSpeakerMode>()) {
    if (feature->getIsGroup() || feature->getMode().empty()) continue;
    try {
      const auto key = parseSpeakerModeId(feature->getMode());
      if (!key) throw std::runtime_error("the speaker mode " + feature->strId() + " names no database");
      const auto database = databaseWithId(*dbs, fennik::server::UuidFromS(key->database));
      if (!database) {
        report("Please install version " + key->database + ", Version 1 or newer");
        continue;
      }
      const auto& [name, newest] = *database;
      const auto minimal = dbs->getMinimalRequiredDatabaseFor(name, fennik::server::UuidFromS(key->product),
                                                              fennik::server::UuidFromS(key->variant),
                                                              fennik::server::UuidFromS(key->preset));
      if (!minimal) {
        report("Please install version " + name + ", Version newer than " + newest.toString());
      } else if (!dbs->isCompatibleSpeakerDatabaseVersionInstalled(name, *minimal)) {
        report("Please install version " + name + ", Version " + minimal->toString());
      }
    } catch (const std::exception& e) {
      logger()->error("Error checking for speaker db version: {}", e.what());
    }
  }
}

}  // namespace qor::server
