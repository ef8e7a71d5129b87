#include "service/FtSpeakerModeService.h"

#include "service/GroupRules.h"
#include "service/JsonLists.h"

#include "fennik/server/core/Logging.h"

namespace qor::server {

void FtSpeakerModeService::setMode(FtSpeakerMode* speakerMode, const std::string& mode, bool external) {
  if (!speakerMode) return;
  const std::string& available = speakerMode->getAvailableModes();
  if (!external && !mode.empty() && !jsonlists::empty(available) && !jsonlists::holds(available, "key", mode)) {
    fennik::server::getLogger(fennik::server::MODULE_LOGGER)
        ->warn("Speaker mode {} is not offered by {}", mode, fennik::server::UuidToS(speakerMode->id()));
    return;
  }
  FtSpeakerModeServiceBase::setMode(speakerMode, mode, external);
}

void FtSpeakerModeService::setAvailableModes(FtSpeakerMode* speakerMode, const std::string& availableModes,
                                             bool external) {
  if (!speakerMode) return;
  FtSpeakerModeServiceBase::setAvailableModes(speakerMode, availableModes, external);
  recalcParents(speakerMode);
}

void FtSpeakerModeService::doRecalc(FtSpeakerMode* group) {
  if (!group || group->childrenShareds().empty()) return;
  jsonlists::storeCommon(group, &FtSpeakerMode::AvailableModesGetter, &FtSpeakerMode::AvailableModesExternalSetter,
                         "key");
}

}  // namespace qor::server
