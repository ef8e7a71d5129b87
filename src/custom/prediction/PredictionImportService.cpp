#include "custom/prediction/PredictionImportService.h"

#include "custom/livesound/LivesoundService.h"
#include "custom/prediction/PredictionFile.h"
#include "custom/speakers/SpeakerModeId.h"
#include "qor/server/entities/Device.h"
#include "qor/server/entities/DeviceType.h"
#include "qor/server/entities/FtSpeakerMode.h"
#include "qor/server/entities/PredictionDspSetting.h"
#include "qor/server/entities/VisualItem.h"
#include "qor/server/services/PredictionDspSettingService.h"
#include "service/SpeakerDatabaseService.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/loop/QueuedAccessor.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/NotificationService.h"
#include "fennik/server/service/ServiceResolver.h"

#include <nlohmann/json.hpp>

#include <map>

// Every line of the import names this service and its line in the source.
#define PREDICTION_LOG(lvl, ...)                                                                           \
  ::fennik::server::getLogger(::fennik::server::MODULE_LOGGER)                                             \
      ->log(::spdlog::source_loc{"PredictionImportService", __LINE__, static_cast<const char*>(__func__)}, \
            ::spdlog::level::lvl, __VA_ARGS__)

namespace qor::server {

namespace {

constexpr const char* PREVIEW_TITLE = "PREVIEW import";
constexpr const char* IMPORT_TITLE = "import";
constexpr const char* NOT_JSON = "The given prediction file cannot be parsed as json file.";
constexpr const char* INVALID = "The given prediction file is not valid (according to the schema).";
constexpr const char* UNSUPPORTED_DATABASE = "The speaker database referenced in the prediction file is not supported.";
constexpr const char* NO_IMPORTER_LOG = "Couldn't find a importer for this schema version.";
constexpr const char* NO_IMPORTER = "Couldn't find an importer for this schema version.";
constexpr const char* UNKNOWN_SPEAKER = "Import from prediction file contains a speaker which we don't know.";
constexpr const char* NOT_CREATED = "The device couldn't be created.";

}  // namespace

bool PredictionImportService::predictionImport(const std::string& file) { return importFile(file).imported; }

PredictionImportResult PredictionImportService::importFile(const std::string& file) {
  PREDICTION_LOG(trace, "qor::server::PredictionImportService::predictionImport");
  const prediction::ReadResult read = prediction::readPredictionFile(file);
  if (read.failure == prediction::ReadFailure::NotJson) return refuse(PREVIEW_TITLE, NOT_JSON, read.problem);
  if (!read.file) return refuse(IMPORT_TITLE, INVALID, read.problem);
  if (std::string problem = unsupportedDatabase(*read.file); !problem.empty())
    return refuse(IMPORT_TITLE, UNSUPPORTED_DATABASE, problem);
  // A version the reader accepts without an importer here is a gap in this
  // server, not in the file.
  if (read.file->schemaVersion != prediction::VERSION_0_1_0) {
    PREDICTION_LOG(warn, NO_IMPORTER_LOG);
    return refuse(IMPORT_TITLE, NO_IMPORTER, "no importer for version " + read.file->schemaVersion, false);
  }
  PredictionImportResult result;
  import010(*read.file, result);
  result.imported = true;
  return result;
}

PredictionImportResult PredictionImportService::refuse(const std::string& title, const std::string& message,
                                                       std::string problem, bool logMessage) {
  if (logMessage) PREDICTION_LOG(warn, message);
  PREDICTION_LOG(warn, "What is wrong: {}", problem);
  loop()->work([&](const std::shared_ptr<fennik::server::EntityContext>& context) {
    if (context->notifications())
      context->notifications()->create(title, message, fennik::server::NotificationType::Error);
  });
  PredictionImportResult result;
  result.problem = std::move(problem);
  return result;
}

std::string PredictionImportService::unsupportedDatabase(const prediction::PredictionFile& file) const {
  auto databases = services()->get<SpeakerDatabaseService>();
  for (const auto& group : file.speakerGroups) {
    for (const auto& speaker : group) {
      if (!databases || !databases->getDatabaseForProduct(speaker.product))
        return "speaker \"" + speaker.id + "\": product " + fennik::server::UuidToS(speaker.product) +
               " is in no installed speaker database";
    }
  }
  return {};
}

void PredictionImportService::import010(const prediction::PredictionFile& file, PredictionImportResult& result) {
  auto livesound = services()->get<LivesoundService>();
  auto databases = services()->get<SpeakerDatabaseService>();
  if (!livesound || !databases) return;
  // The speaker's id in the file -> the id of the device made for it.
  std::map<std::string, std::string> devices;
  for (const auto& group : file.speakerGroups) {
    for (const auto& speaker : group) {
      const auto database = databases->getDatabaseForProduct(speaker.product);
      auto* type = database ? db()->get<DeviceType>(speaker.product) : nullptr;
      const std::string modeId =
          database
              ? makeSpeakerModeId(fennik::server::UuidToS(speaker.preset), fennik::server::UuidToS(speaker.product),
                                  fennik::server::UuidToS(speaker.variant), fennik::server::UuidToS(database->id()))
              : std::string();
      // A product the file names with a preset or variant it does not offer
      // is as unknown as a product without device type.
      const auto key = parseSpeakerModeId(modeId);
      const auto mode = key ? resolveSpeakerMode(*databases, *key) : std::nullopt;
      if (!type || !mode || !mode->product || !mode->preset || !mode->variant) {
        PREDICTION_LOG(warn, UNKNOWN_SPEAKER);
        continue;
      }
      Device* device = livesound->deviceAdd(type, 0, 0, false);
      if (!device) {
        PREDICTION_LOG(warn, NOT_CREATED);
        continue;
      }
      devices[speaker.id] = device->strId();
      result.devices.push_back(device);
      if (FtSpeakerMode* speakerMode = device->getSpeakerMode()) livesound->speakerModeSetMode(speakerMode, modeId);
      VisualItem* item = device->getVisualItem();
      if (!item) continue;
      livesound->visualItemDeselectAll();
      livesound->visualItemSelect({item});
      if (speaker.orientation == "VERTICAL") livesound->visualItemRotateSelected(90);
      livesound->visualItemMoveSelected(speaker.x - item->getX(), speaker.y - item->getY());
    }
  }
  auto settings = services()->get<PredictionDspSettingService>();
  if (!settings) return;
  for (const auto& entry : file.dspSettings) {
    nlohmann::json ids = nlohmann::json::array();
    for (const auto& id : entry.speakerIds) {
      if (auto it = devices.find(id); it != devices.end()) ids.push_back(it->second);
    }
    PredictionDspSetting* setting = settings->create();
    settings->setDelayInMs(setting, entry.delayInMs, false);
    settings->setDelayEnabled(setting, entry.delayEnabled, false);
    settings->setGainInDb(setting, entry.gainInDb, false);
    settings->setGainEnabled(setting, entry.gainEnabled, false);
    settings->setSpeakerIds(setting, ids.dump(), false);
    result.dspSettings.push_back(setting);
  }
}

}  // namespace qor::server
