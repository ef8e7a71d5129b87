// The checks for values that must be the same on every device on the audio
// network: network mode, sample rate, and being online (some devices online
// and others not means the system is only partly there; all offline is a
// design being prepared).

#include "custom/checks/CheckRules.h"
#include "custom/checks/ProjectCheckService.h"

#include "qor/server/entities/FtNetwork.h"
#include "qor/server/entities/FtOnline.h"

#include "fennik/server/entity/Database.h"

namespace qor::server {

void ProjectCheckService::checkDifferentNetwork() {
  const bool found =
      checks::moreThanOneValue<NetworkMode>(db()->all<Device>(), checks::isSingleNetworkDevice, [](const Device& d) {
        const FtNetwork* network = d.getNetwork();
        return network && network->getIsNetworkModeSupported() ? std::optional(network->getNetworkMode())
                                                               : std::nullopt;
      });
  report(ProjectCheckKey::DEVICES_DIFFERENT_NETWORK, "Devices should have the same Network configuration", found);
}

void ProjectCheckService::checkDifferentSamplerate() {
  const bool found =
      checks::moreThanOneValue<SampleRate>(db()->all<Device>(), checks::isSingleNetworkDevice, [](const Device& d) {
        const FtNetwork* network = d.getNetwork();
        return network && network->getIsSampleRateSupported() ? std::optional(network->getSampleRate()) : std::nullopt;
      });
  report(ProjectCheckKey::DEVICES_DIFFERENT_SAMPLERATE, "Devices should have the same Samplerate configuration", found);
}

void ProjectCheckService::checkPartialOnline() {
  const bool found =
      checks::moreThanOneValue<bool>(db()->all<Device>(), checks::isSingleNetworkDevice, [](const Device& d) {
        const FtOnline* online = d.getOnline();
        return online ? std::optional(online->getIsOnline()) : std::nullopt;
      });
  report(ProjectCheckKey::DEVICES_PARTIAL_ONLINE, "All devices should be online", found);
}

}  // namespace qor::server
