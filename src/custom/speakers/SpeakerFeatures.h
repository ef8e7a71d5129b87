#pragma once
// The features that describe a loudspeaker in one speaker mode: a channel
// label, a speaker setting and a speaker input (connector) per band of the
// mode's electro-acoustic variant, under the speaker's device-level setting
// and connector, and the speaker's input source. A new mode replaces them
// all; the device's label, device info and speaker mode stay.

#include "custom/speakers/SpeakerModeId.h"

namespace fennik::server {
class ServiceResolver;
}

namespace qor::server {

class Device;

void buildSpeakerFeatures(const fennik::server::ServiceResolver& services, Device* speaker,
                          const ResolvedSpeakerMode& mode);
void removeSpeakerFeatures(const fennik::server::ServiceResolver& services, Device* speaker);

}  // namespace qor::server
