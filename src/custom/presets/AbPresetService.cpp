#include "custom/presets/AbPresetService.h"

#include "qor/server/entities/FtAudio.h"
#include "qor/server/entities/FtDelay.h"
#include "qor/server/entities/FtEqFilterBank.h"
#include "qor/server/serializers/FtAudioJsonSerializer.h"
#include "qor/server/serializers/FtDelayJsonSerializer.h"
#include "qor/server/serializers/FtEqFilterBankJsonSerializer.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Aggregator.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/entity/EntityService.h"
#include "fennik/server/service/ServiceResolver.h"

#include <exception>
#include <set>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace qor::server {

namespace {

auto log() { return fennik::server::getLogger(fennik::server::MODULE_LOGGER); }

template <class E>
const JsonSerializerOf<E>& serializerOf() {
  static const JsonSerializerOf<E> serializer;
  return serializer;
}

// The feature and the leaves below it through its shared children, depth
// first, each once.
template <class E>
std::vector<E*> covered(E* feature) {
  std::vector<E*> out{feature};
  std::unordered_set<E*> seen{feature};
  std::vector<E*> stack;
  const auto pushChildren = [&](E* e) {
    const auto& children = e->childrenShareds();
    for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back(*it);
  };
  pushChildren(feature);
  while (!stack.empty()) {
    E* e = stack.back();
    stack.pop_back();
    if (!e || !seen.insert(e).second) continue;
    if (e->childrenShareds().empty()) {
      out.push_back(e);
    } else {
      pushChildren(e);
    }
  }
  return out;
}

// The slot object of a preset field. An empty text holds no slots yet.
Json parseSlots(const std::string& text) {
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) return Json::object();
  Json slots = Json::parse(text);
  if (!slots.is_object()) throw std::runtime_error("the stored presets are no JSON object");
  return slots;
}

// What a slot restores: the settings a user changes (fields clients may
// write). Ranges, capabilities, consistency and the entity's place in its
// device stay what the device and the project say now, and the slots
// themselves are never part of a slot.
template <class E>
bool isSetting(std::string_view key) {
  static const std::set<std::string, std::less<>> settings = [] {
    std::set<std::string, std::less<>> names;
    for (const auto& f : E::fieldDescriptors()) {
      if (f.has(fennik::server::FieldFlag::Interface) && !f.has(fennik::server::FieldFlag::ReadOnlyIf) &&
          f.name != E::FIELD_ABPRESETSASJSON && f.name != E::FIELD_ABPRESETSTATESASJSON)
        names.insert(f.name);
    }
    return names;
  }();
  return settings.count(key) > 0;
}

template <class E>
void storeSlot(fennik::server::Database& db, E* feature, std::uint32_t slot) {
  const std::string key = std::to_string(slot);
  try {
    log()->debug("Serialize entities");
    Json entities = Json::array();
    for (E* e : covered(feature)) {
      const E* stored = db.get<E>(e->id());
      if (!stored) continue;  // not (or no longer) in the project
      Json object = Json::object();
      serializerOf<E>().serialize(stored, object, true);
      // A slot never holds the slots: they would nest, each store doubling the text.
      object.erase(E::FIELD_ABPRESETSASJSON);
      object.erase(E::FIELD_ABPRESETSTATESASJSON);
      entities.push_back(std::move(object));
    }
    log()->debug("Serialize entities done");

    Json presets = parseSlots(feature->getAbPresetsAsJson());
    presets[key] = std::move(entities);
    feature->setAbPresetsAsJson(presets.dump(), false);

    try {
      Json states = parseSlots(feature->getAbPresetStatesAsJson());
      states[key]["state"] = "stored";
      feature->setAbPresetStatesAsJson(states.dump(), false);
    } catch (...) {
      log()->error("Couldn't store state of entity {} @ {} ab preset index {}", E::CLASS_NAME, feature->strId(), slot);
    }
  } catch (const std::exception& e) {
    log()->error("Issues when storing preset {}: {}", slot, e.what());
  } catch (...) {
    log()->error("Issues when storing preset {}: {}", slot, "Unknown exception");
  }
}

template <class E>
void loadSlot(fennik::server::ServiceResolver& services, E* feature, std::uint32_t slot) {
  const std::string key = std::to_string(slot);
  try {
    const Json presets = parseSlots(feature->getAbPresetsAsJson());
    const auto found = presets.find(key);
    if (found == presets.end() || found->is_null() || ((found->is_object() || found->is_array()) && found->empty())) {
      log()->info("There is no preset to load for slot {} entity {} @ {}", slot, E::CLASS_NAME, feature->strId());
      return;
    }
    if (!found->is_array()) throw std::runtime_error("slot " + key + " holds no list of entities");

    // Every stored entity is read in full before anything is written, so a
    // damaged slot changes nothing.
    log()->debug("Deserialize entities from slot");
    std::unordered_map<fennik::server::Uuid, E*, fennik::server::UuidHash> targets;
    for (E* e : covered(feature)) targets.emplace(e->id(), e);
    std::vector<std::pair<E*, const Json*>> writes;
    for (const Json& object : *found) {
      if (!object.is_object()) throw std::runtime_error("slot " + key + " holds something that is no entity");
      const auto entity = serializerOf<E>().deserialize(object, false);
      // A real that is no number reads back as NaN; no device gets that.
      for (auto it = object.begin(); it != object.end(); ++it) {
        if (it.value().is_null() && isSetting<E>(it.key()))
          throw std::runtime_error("slot " + key + " has no value for " + it.key() + " of " + entity->strId());
      }
      const auto target = targets.find(entity->id());
      if (target == targets.end()) {
        log()->warn("Preset slot {} of {} @ {} names {}, which it no longer covers; skipped", slot, E::CLASS_NAME,
                    feature->strId(), entity->strId());
        continue;
      }
      writes.emplace_back(target->second, &object);
    }
    log()->debug("Deserialized entities from slot");

    std::vector<E*> written;
    for (const auto& [target, object] : writes) {
      serializerOf<E>().assign(*target, *object, isSetting<E>);
      written.push_back(target);
    }
    // The groups above show their members' values again.
    if (auto entityService = services.get<fennik::server::EntityService<E>>()) {
      fennik::server::detail::forEachAncestorLevel(written, [&](E* group) {
        entityService->aggregateFields(group);
        entityService->doRecalc(group);
      });
    }
  } catch (const std::exception& e) {
    log()->error("Issues when loading preset {}: {}", slot, e.what());
  } catch (...) {
    log()->error("Issues when loading preset {}: {}", slot, "Unknown exception");
  }
}

// Calls run with the entity as the preset-capable type it is; false for any other.
template <class Run>
bool withFeature(fennik::server::Entity* entity, Run&& run) {
  const auto className = entity->className();
  if (auto* bank = className == FtEqFilterBank::CLASS_NAME ? dynamic_cast<FtEqFilterBank*>(entity) : nullptr) {
    run(bank);
  } else if (auto* audio = className == FtAudio::CLASS_NAME ? dynamic_cast<FtAudio*>(entity) : nullptr) {
    run(audio);
  } else if (auto* delay = className == FtDelay::CLASS_NAME ? dynamic_cast<FtDelay*>(entity) : nullptr) {
    run(delay);
  } else {
    return false;
  }
  return true;
}

}  // namespace

void AbPresetService::store(fennik::server::Entity* entity, std::uint32_t slot) {
  if (!entity) return;
  if (!withFeature(entity, [&](auto* feature) { storeSlot(*db(), feature, slot); }))
    log()->info("There is no preset storage option for a {}", entity->className());
}

void AbPresetService::load(fennik::server::Entity* entity, std::uint32_t slot) {
  if (!entity) return;
  if (!withFeature(entity, [&](auto* feature) { loadSlot(*services(), feature, slot); }))
    log()->info("There is no preset storage option for a {}", entity->className());
}

}  // namespace qor::server
