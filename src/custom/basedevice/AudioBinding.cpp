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
  onChangesOf<FtAudio>(device, parent->childrens(), [this, deviceId](FtAudio& e, std::string_view key, bool external) {
    if (external) return;
    const int ch = e.getIndex();
    if (key == FtAudio::FIELD_ISMUTED) {
      const bool muted = e.getIsMuted();
      toDriver(deviceId, "setMute", [&](Driver& drv) { drv.setMute(ch, muted); });
    } else if (key == FtAudio::FIELD_LEVELINDB) {
      const double db = e.getLevelInDb();
      toDriver(deviceId, "setLevel", [&](Driver& drv) { drv.setLevel(ch, db); });
    } else if (key == FtAudio::FIELD_TRIMINDB) {
      const double db = e.getTrimInDb();
      toDriver(deviceId, "setTrim", [&](Driver& drv) { drv.setTrim(ch, db); });
    } else if (key == FtAudio::FIELD_POLARITYINVERTED) {
      const bool inverted = e.getPolarityInverted();
      toDriver(deviceId, "setPolarity", [&](Driver& drv) { drv.setPolarity(ch, inverted); });
    }
  });
  reportInto<FtAudio>(device, parent, DriverSignal::Audio, refresh);
}

}  // namespace qor::server
