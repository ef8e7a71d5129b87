// 1.1.1 stored speaker modes by powering mode and speaker settings by their
// DSP chain ids only; 1.2.2 binds them to the speaker databases installed on
// the server: modes name the electro-acoustic variant, settings carry the
// chain's name. What cannot be bound stays as stored and is reported.

#include "custom/speakers/SpeakerModeId.h"
#include "migrations/MigrationSupport.h"
#include "migrations/Migrations.h"
#include "service/SpeakerDatabaseService.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/NotificationService.h"
#include "fennik/server/service/ServiceResolver.h"

#include <algorithm>
#include <cctype>

namespace qor::server {

using namespace migration;
using fennik::common::speakerdb::Version;

namespace {

auto logger() { return fennik::server::getLogger(fennik::server::MODULE_LOGGER); }

// Speaker databases older than this lack the ids that 1.2.2 binds to.
const Version& minimalVersion() {
  static const Version v = *Version::fromString("2.1");
  return v;
}

// "Bi-amped", "BI_AMPED" and "bi amped" are one name.
std::string normalized(std::string_view name) {
  std::string out;
  for (char c : name) out += std::isalnum(static_cast<unsigned char>(c)) ? static_cast<char>(std::toupper(c)) : '_';
  return out;
}

// Calls fn for each entity of a class, changed in place; an absent class stays absent.
template <class Fn>
void forEachOf(Json& doc, const char* type, Fn&& fn) {
  auto it = doc.find(cls(type));
  if (it == doc.end() || !it->is_array()) return;
  for (Json& entity : *it) fn(entity);
}

class Binder {
 public:
  Binder(const std::shared_ptr<fennik::server::EntityContext>& context, const SpeakerDatabaseService* databases)
      : context_(context), databases_(databases) {}

  // The databases the project was designed with, as 1.1.1 listed them.
  void checkDatabases(Json& doc) {
    forEachOf(doc, "SpeakerDatabase", [&](Json& entry) {
      const std::string name = entry.value("name", "");
      if (entry.contains("version")) {
        const auto version =
            entry["version"].is_string() ? Version::fromString(entry["version"].get<std::string>()) : std::nullopt;
        if (!version) {
          report("The database version couldn't be parsed.");
        } else if (!name.empty()) {
          auto used = databases_ ? databases_->getDatabase(name) : nullptr;
          if (!used || used->version() < minimalVersion())
            report("Please install the sepaker database " + name + ", Version 2.1 or higher");
        }
      }
      // The current schema keeps the database entity by its id alone.
      entry.erase("name");
      entry.erase("version");
    });
  }

  void bindModes(Json& doc) {
    forEachOf(doc, "FtSpeakerMode", [&](Json& feature) {
      if (!feature.contains("mode") || !feature["mode"].is_string()) return;
      const Json old = Json::parse(feature["mode"].get<std::string>(), nullptr, false);
      if (!old.is_object() || !old.contains("speakermode.poweringMode")) return;
      if (auto mode = bind(old)) feature["mode"] = *mode;
    });
  }

  void nameSettings(Json& doc) {
    forEachOf(doc, "FtSpeakerSetting", [&](Json& setting) {
      const std::string chainId = setting.value("supposedSpeakerDbDspChainId", "");
      if (chainId.empty()) return;
      const fennik::common::speakerdb::DspChain* chain = nullptr;
      try {
        chain = databases_ ? databases_->findDspChainById(fennik::server::UuidFromS(chainId)) : nullptr;
      } catch (const std::invalid_argument&) {
      }
      if (!chain) {
        logger()->warn("Couldn't find according dsp chain {}", chainId);
        return;
      }
      setting["name"] = chain->name;
      setting["aggregatedName"] = chain->name;
      setting["aggregatedNameConsistent"] = true;
      const auto database = databases_->getDatabaseForDspChain(chain->id);
      setting["description"] = database ? database->name() + " " + database->version().toString() : "";
      setting["descriptionConsistent"] = true;
    });
  }

 private:
  // The 1.2.2 mode id of a 1.1.1 mode: database, product, powering mode
  // (the variant's name; "EXT_" marks an externally powered one) and preset.
  std::optional<std::string> bind(const Json& old) {
    const std::string db = old.value("db.id", "");
    const std::string product = old.value("product.id", "");
    std::string powering = old.value("speakermode.poweringMode", "");
    const std::string preset = old.value("preset.id", "");
    std::shared_ptr<const fennik::common::speakerdb::ISpeakerDatabase> database;
    if (databases_) {
      for (const auto& [name, used] : databases_->getUsedDatabases()) {
        if (fennik::server::UuidToS(used->id()) == db) database = used;
      }
    }
    if (!database) {
      logger()->error("Project file contains product: {} which references a database that is not installed: {}",
                      product, db);
      report("Error finding a required speaker database");
      return std::nullopt;
    }
    const fennik::common::speakerdb::Product* p = nullptr;
    try {
      p = database->findProduct(fennik::server::UuidFromS(product));
    } catch (const std::invalid_argument&) {
    }
    if (powering.rfind("EXT_", 0) == 0) powering.erase(0, 4);
    const fennik::common::speakerdb::ElectroacousticVariant* variant = nullptr;
    if (p) {
      for (const auto& v : p->variants) {
        const auto* candidate = database->findVariant(v);
        if (candidate && normalized(candidate->name) == normalized(powering)) variant = candidate;
      }
    }
    std::optional<ResolvedSpeakerMode> resolved;
    if (variant) {
      resolved =
          resolveSpeakerMode(*databases_, SpeakerModeKey{db, product, preset, fennik::server::UuidToS(variant->id)});
    }
    if (!resolved) {
      logger()->error("Project file contains product: {} in the db: {}", product, database->name());
      report("Error finding a speaker in the databases");
      return std::nullopt;
    }
    return makeSpeakerModeId(preset, product, fennik::server::UuidToS(variant->id), db);
  }

  // Told to the user once per text, and logged.
  void report(const std::string& text) {
    if (std::find(reported_.begin(), reported_.end(), text) != reported_.end()) return;
    reported_.push_back(text);
    logger()->warn("Migration_120_122: {}", text);
    if (context_ && context_->notifications())
      context_->notifications()->create("Speaker Database", text, fennik::server::NotificationType::Info);
  }

  std::shared_ptr<fennik::server::EntityContext> context_;
  const SpeakerDatabaseService* databases_;
  std::vector<std::string> reported_;
};

}  // namespace

void Migration_120_122::migrate(const std::shared_ptr<fennik::server::FileContainer>& container) {
  auto context = context_.lock();
  std::shared_ptr<SpeakerDatabaseService> databases =
      context ? context->services()->get<SpeakerDatabaseService>() : nullptr;
  // A project opened as the server starts meets databases not loaded yet.
  if (databases) databases->ensureLoaded();
  migrateEntities(container, __FILE__, __LINE__, [&](Json& doc) {
    Binder binder(context, databases.get());
    binder.checkDatabases(doc);
    binder.bindModes(doc);
    binder.nameSettings(doc);
  });
}

}  // namespace qor::server
