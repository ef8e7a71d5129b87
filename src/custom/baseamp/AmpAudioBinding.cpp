// FtAudio: mute, level, trim and polarity per channel, both ways.

#include "custom/baseamp/BaseAmplifier.h"

#include "qor/server/entities/FtAudio.h"
#include "qor/server/services/FtAudioService.h"

namespace qor::server {

void BaseAmplifier::createFtAudio(Device* device) {
  auto audios = service<FtAudioService>();
  Driver* d = device ? driver(device) : nullptr;
  if (!audios || !d) return;
  FtAudio* parent = createChannelShaped(*audios, device, d->getChannelCount(), [](int) { return true; });
  audios->setIsReactingOnRealAmpChannel(parent, true, false);
  device->setAudio(parent);
  connectFtAudio(device);
}

void BaseAmplifier::connectFtAudio(Device* device) { bindChannelAudio(device); }

void BaseAmplifier::destroyFtAudio(Device* device) {
  destroySlot<FtAudioService>(device, &Device::getAudio, &Device::setAudio);
}

}  // namespace qor::server
