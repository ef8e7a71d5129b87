#pragma once
// Audio: relative level and trim changes of a group.

#include "qor/server/services/FtAudioServiceBase.h"

namespace qor::server {

class FtAudioService : public FtAudioServiceBase {
 public:
  using FtAudioServiceBase::FtAudioServiceBase;

  // Adds delta to the level (and to the channel minimum and maximum shown
  // with it) of every target; unclamped. A device never reports a relative
  // change, so external writes do nothing.
  void setLevelInDbRelative(FtAudio* audio, double delta, bool external);
  void setTrimInDbRelative(FtAudio* audio, double delta, bool external);
};

}  // namespace qor::server
