// FtAudio channels: mute, level, trim and polarity, both ways. Amplifiers
// and matrices create their audio features differently but bind them alike.

#include "custom/basedevice/BaseDevice.h"

#include "qor/server/entities/FtAudio.h"
#include "qor/server/services/FtAudioService.h"

namespace qor::server {

using fennik::devices::DriverSignal;
using fennik::server::Uuid;

void BaseDevice::bindChannelAudio(Device* device) {
  Driver* d = device ? driver(device) : nullptr;
  FtAudio* parent = device ? device->getAudio() : nullptr;
  if (!d || !parent) return;
  auto audios = service<FtAudioService>();
  const Uuid deviceId = device->id();
  Refresh<FtAudio> refresh = [audios](FtAudio& e, Driver& drv) {
    for (FtAudio* child : e.childrens()) {
      if (!child) continue;
      const int ch = child->getIndex();
      audios->setTrimInDbSupported(child, drv.isTrimSupported(), true);
      audios->setPolarityInvertedSupported(child, drv.isPolaritySupported(), true);
      audios->setIsMuted(child, drv.getMute(ch), true);
      audios->setLevelInDb(child, drv.getLevel(ch), true);
      audios->setTrimInDb(child, drv.getTrim(ch), true);
      audios->setPolarityInverted(child, drv.getPolarity(ch), true);
    }
  };
  refresh(*parent, *d);
  for (FtAudio* child : parent->childrens()) {
    if (!child) continue;
    const int ch = child->getIndex();
    keep(device, child->onIsMutedChanged([this, deviceId, ch](const bool& muted, bool external) {
      if (external) return;
      toDriver(deviceId, "setMute", [&](Driver& drv) { drv.setMute(ch, muted); });
    }));
    keep(device, child->onLevelInDbChanged([this, deviceId, ch](const double& db, bool external) {
      if (external) return;
      toDriver(deviceId, "setLevel", [&](Driver& drv) { drv.setLevel(ch, db); });
    }));
    keep(device, child->onTrimInDbChanged([this, deviceId, ch](const double& db, bool external) {
      if (external) return;
      toDriver(deviceId, "setTrim", [&](Driver& drv) { drv.setTrim(ch, db); });
    }));
    keep(device, child->onPolarityInvertedChanged([this, deviceId, ch](const bool& inverted, bool external) {
      if (external) return;
      toDriver(deviceId, "setPolarity", [&](Driver& drv) { drv.setPolarity(ch, inverted); });
    }));
  }
  reportInto<FtAudio>(device, parent, DriverSignal::Audio, refresh);
}

}  // namespace qor::server
