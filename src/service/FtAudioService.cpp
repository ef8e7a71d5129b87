#include "service/FtAudioService.h"

#include "service/GroupWalk.h"

#include <limits>

namespace qor::server {

namespace {
constexpr auto UNBOUNDED_LOW = [](const FtAudio*) { return -std::numeric_limits<double>::infinity(); };
constexpr auto UNBOUNDED_HIGH = [](const FtAudio*) { return std::numeric_limits<double>::infinity(); };
}  // namespace

void FtAudioService::setLevelInDbRelative(FtAudio* audio, double delta, bool external) {
  if (external) return;
  groupwalk::moveRelative(
      *this, audio, delta, [](const FtAudio* a) { return a->getLevelInDb(); }, UNBOUNDED_LOW, UNBOUNDED_HIGH,
      [](FtAudio* a, double v) {
        a->setLevelInDb(v, false);
        a->setLevelInDbChannelMax(v, false);
        a->setLevelInDbChannelMin(v, false);
      },
      groupwalk::ACCEPT_ALL);
}

void FtAudioService::setTrimInDbRelative(FtAudio* audio, double delta, bool external) {
  if (external) return;
  groupwalk::moveRelative(
      *this, audio, delta, [](const FtAudio* a) { return a->getTrimInDb(); }, UNBOUNDED_LOW, UNBOUNDED_HIGH,
      [](FtAudio* a, double v) {
        a->setTrimInDb(v, false);
        a->setTrimInDbChannelMax(v, false);
        a->setTrimInDbChannelMin(v, false);
      },
      groupwalk::ACCEPT_ALL);
}

}  // namespace qor::server
