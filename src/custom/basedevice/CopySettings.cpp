// Duplicating a device: what a user set on the original goes to the copy.

#include "custom/basedevice/BaseDevice.h"

#include "qor/server/entities/FtAudio.h"
#include "qor/server/entities/FtGPIO.h"
#include "qor/server/entities/FtLabel.h"
#include "qor/server/entities/FtPower.h"
#include "qor/server/services/FtAudioService.h"
#include "qor/server/services/FtGPIOService.h"
#include "qor/server/services/FtLabelService.h"
#include "qor/server/services/FtPowerService.h"

namespace qor::server {

void BaseDevice::copySettings(Device* from, Device* to) {
  if (!from || !to || from == to) return;
  if (auto labels = service<FtLabelService>()) {
    forMatchingChildren(from->getLabel(), to->getLabel(),
                        [&](FtLabel& a, FtLabel& b) { labels->setCustomName(&b, a.getCustomName(), false); });
  }
  if (auto audios = service<FtAudioService>()) {
    forMatchingChildren(from->getAudio(), to->getAudio(), [&](FtAudio& a, FtAudio& b) {
      audios->setIsMuted(&b, a.getIsMuted(), false);
      audios->setLevelInDb(&b, a.getLevelInDb(), false);
      audios->setTrimInDb(&b, a.getTrimInDb(), false);
      audios->setPolarityInverted(&b, a.getPolarityInverted(), false);
    });
  }
  if (auto gpios = service<FtGPIOService>()) {
    forMatchingChildren(from->getGpio(), to->getGpio(), [&](FtGPIO& a, FtGPIO& b) {
      gpios->setCurrentGpioMode(&b, a.getCurrentGpioMode(), false);
      gpios->setGpoDigital(&b, a.getGpoDigital(), false);
    });
  }
  auto powers = service<FtPowerService>();
  if (powers && from->getPower() && to->getPower()) {
    powers->setDelayInSec(to->getPower(), from->getPower()->getDelayInSec(), false);
    powers->setBreakerInAmperes(to->getPower(), from->getPower()->getBreakerInAmperes(), false);
  }
}

}  // namespace qor::server
