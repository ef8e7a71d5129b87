// The loudspeaker checks: every input of a loudspeaker is wired to an
// amplifier output, and no amplifier channel runs a speaker setting that
// does not match the loudspeaker it drives.

#include "custom/checks/CheckRules.h"
#include "custom/checks/ProjectCheckService.h"

#include "qor/server/entities/FtConnector.h"
#include "qor/server/entities/FtSpeakerSetting.h"

#include "fennik/server/entity/Database.h"

namespace qor::server {

void ProjectCheckService::checkSpeakerUnconnected() {
  const bool found = checks::anyChildOf(
      db()->all<Device>(), checks::isSingleSpeaker, [](const Device& d) { return d.getConnector(); },
      [](const FtConnector* input) { return !input->getSignalSource(); });
  report(ProjectCheckKey::SPEAKER_UNCONNECTED, "Speakers should be fully connected", found);
}

void ProjectCheckService::checkSpeakerSettingDifferent() {
  const bool found = checks::anyChildOf(
      db()->all<Device>(), checks::isSingleNetworkDevice, [](const Device& d) { return d.getSpeakerSetting(); },
      [](const FtSpeakerSetting* channel) { return channel->getIsIncorrect(); });
  report(ProjectCheckKey::SPEAKER_SETTING_DIFFERENT, "Different Speakers Settings", found);
}

}  // namespace qor::server
