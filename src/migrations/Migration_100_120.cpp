// 1.0.0 kept a device's per-channel states among its device states and gave
// the GPIO, device-info and label features no group structure.

#include "migrations/MigrationSupport.h"
#include "migrations/Migrations.h"

#include "fennik/server/core/Logging.h"

namespace qor::server {

using namespace migration;

namespace {

bool isChannelSource(const Json& state) {
  const std::string source = state.value("source", "");
  return source == "CHANNEL" || source == "GROUP_CHANNEL";
}

// Step 1: channel states move under their own class; both sides keep only
// the links of their own class, and a device state lists its channel states.
void splitChannelStates(Json& doc) {
  std::unordered_set<std::string> channelIds;
  for (const auto& s : members(doc, cls("FtDeviceState"))) {
    if (isChannelSource(s)) channelIds.insert(s.at("id").get<std::string>());
  }
  if (channelIds.empty()) return;

  // Create the new member first: adding a member moves the others.
  membersFor(doc, cls("FtChannelState"));
  Json& channels = doc[cls("FtChannelState")];
  Json& states = doc[cls("FtDeviceState")];
  Json kept = Json::array();
  for (auto& s : states) {
    if (isChannelSource(s)) {
      for (const char* key : {"parent", "children", "childrenShared", "linked"}) {
        if (s.contains(key)) s[key] = filterIds(ids(s, key), channelIds, true);
      }
      // Device-state-only keys have no place in a channel state.
      s.erase("channelState");
      s.erase("remoteDevice");
      channels.push_back(std::move(s));
    } else {
      const auto children = ids(s, "children");
      auto owned = filterIds(children, channelIds, true);
      for (const char* key : {"parent", "children", "childrenShared", "linked"}) {
        if (s.contains(key)) s[key] = filterIds(ids(s, key), channelIds, false);
      }
      if (!owned.empty()) {
        auto existing = ids(s, "channelState");
        existing.insert(existing.end(), owned.begin(), owned.end());
        s["channelState"] = existing;
      }
      kept.push_back(std::move(s));
    }
  }
  states = std::move(kept);
}

// Step 2: a device's GPIO, device-info and label features become group
// entries: a group device's feature is a group over its members' features,
// with the members' feature as child.
void restructureFeatures(Json& doc) {
  auto deviceIt = doc.find(cls("Device"));
  if (deviceIt == doc.end()) return;
  Json& devices = *deviceIt;
  auto deviceById = byId(devices);
  struct Slot {
    const char* key;
    const char* type;
  };
  for (const Slot slot : {Slot{"gpio", "FtGPIO"}, Slot{"deviceInfo", "FtDeviceInfo"}, Slot{"label", "FtLabel"}}) {
    auto listIt = doc.find(cls(slot.type));
    if (listIt == doc.end()) continue;
    auto features = byId(*listIt);
    auto featureOf = [&](const std::string& deviceId) -> std::string {
      auto d = deviceById.find(deviceId);
      return d == deviceById.end() ? std::string() : id(*d->second, slot.key);
    };
    for (auto& device : devices) {
      auto f = features.find(id(device, slot.key));
      if (f == features.end()) continue;
      Json& feature = *f->second;
      const bool isGroup = device.value("isGroup", false);
      std::vector<std::string> members, parents;
      for (const auto& m : ids(device, "childrenShared")) {
        if (auto x = featureOf(m); features.contains(x)) members.push_back(x);
      }
      for (const auto& p : ids(device, "parent")) {
        if (auto x = featureOf(p); features.contains(x)) parents.push_back(x);
      }
      std::vector<std::string> owned;
      for (const auto& c : ids(device, "children")) {
        if (auto x = featureOf(c); features.contains(x)) owned.push_back(x);
      }
      if (!feature.contains("isGroup")) feature["isGroup"] = isGroup;
      if (!feature.contains("index")) feature["index"] = 0;
      if (!feature.contains("source")) feature["source"] = isGroup ? "GROUP" : "DEVICE";
      feature["parent"] = parents;
      feature["children"] = owned;
      feature["childrenShared"] = members;
      if (slot.key == std::string("label") && !feature.contains("name") && feature.contains("text")) {
        feature["name"] = feature["text"];
        feature.erase("text");
      }
      // A group's model is its members' model when they agree.
      if (slot.key == std::string("deviceInfo") && isGroup && !members.empty()) {
        std::string model;
        bool same = true;
        for (const auto& m : members) {
          const std::string mm = features.at(m)->value("model", "");
          if (&m == &members.front()) model = mm;
          same = same && mm == model;
        }
        feature["model"] = same ? model : "";
        feature["modelConsistent"] = same;
      }
    }
  }
}

}  // namespace

void Migration_100_120::migrate(const std::shared_ptr<fennik::server::FileContainer>& container) {
  migrateEntities(container, __FILE__, __LINE__, [](Json& doc) {
    splitChannelStates(doc);
    restructureFeatures(doc);
  });
}

}  // namespace qor::server
