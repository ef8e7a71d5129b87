#pragma once
// A/B presets: a user stores the current settings of an audio, delay or
// equaliser-bank feature in numbered slots inside the project and switches
// back to any stored slot, to compare settings by ear. The slots live in
// the feature's own fields: `abPresetsAsJson` holds, per slot index (as
// decimal text), the covered entities in their JSON project form;
// `abPresetStatesAsJson` holds {"state": "stored"} per stored slot.
//
// The entities a slot covers are the feature itself and the leaves below it
// through its shared children (a device's channels, a group's member
// channels), depth first; an entity with shared children of its own is
// passed through. Loading writes the stored settings back onto those same
// entities with normal writes, so the device bindings send them on.
//
// Every failure is logged and changes nothing; the caller learns nothing
// of it (see docs/ab-presets.md).

#include "fennik/server/service/Service.h"

#include <cstdint>

namespace fennik::server {
class Entity;
}

namespace qor::server {

class AbPresetService : public fennik::server::Service {
 public:
  using Service::Service;

  // Stores the covered entities of an FtEqFilterBank, FtAudio or FtDelay in
  // the slot, replacing what the slot held; other slots stay. Any other
  // entity is logged and stores nothing; null does nothing.
  void store(fennik::server::Entity* entity, std::uint32_t slot);
  // Writes the slot's stored settings back onto the covered entities. A slot
  // never stored is logged; a slot that cannot be read as a whole (damaged
  // JSON, a value of the wrong type) is logged and nothing is written.
  void load(fennik::server::Entity* entity, std::uint32_t slot);
};

}  // namespace qor::server
