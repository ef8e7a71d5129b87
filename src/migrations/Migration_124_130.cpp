// 1.2.4 kept session windows apart from their sessions (a window named its
// session and its root item by reference), had no layers, stored matrix DSP
// entities in the project, and had no load features.

#include "migrations/MigrationSupport.h"
#include "migrations/Migrations.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/core/Uuid.h"

#include <algorithm>

namespace qor::server {

using namespace migration;

namespace {

const char* const WORKSPACE_ROOT = "c3bca550-a3df-4d37-a8e4-bd545d12b0cb";

const char* const MATRIX_CLASSES[] = {"DSPBlock",         "DSPNode",
                                      "MxDspAudio",       "MxDspCompressor",
                                      "MxDspDelay",       "MxDspDucker",
                                      "MxDspEqFilter",    "MxDspEqFilterBank",
                                      "MxDspFirFilter",   "MxDspInput",
                                      "MxDspNoiseGate",   "MxDspOutput",
                                      "MxDspPALimiter",   "MxDspPilotDetection",
                                      "MxDspRouter",      "MxDspSpeakerProcessing",
                                      "MxDspTempLimiter", "MxDspVUMeter",
                                      "MxDspZoneMixer",   "MxInputGain",
                                      "MxInputPhantom",   "MxWaveGenerator",
                                      "MxZone",           "MxZoneBus",
                                      "MxLabel"};

// A layer named "Layer" that every visual item is on, so nothing disappears.
std::string addDefaultLayer(Json& doc) {
  Json& layers = membersFor(doc, cls("Layer"));
  int next = 0;
  for (const auto& l : layers) next = std::max(next, l.value("index", 0) + 1);
  std::vector<std::string> items;
  for (const auto& v : members(doc, cls("VisualItem"))) items.push_back(v.at("id").get<std::string>());
  Json layer = Json::object();
  layer["id"] = newId();
  layer["index"] = next;
  layer["name"] = "Layer";
  layer["isDeletable"] = true;
  layer["visualItem"] = items;
  const std::string layerId = layer["id"];
  layers.push_back(std::move(layer));
  return layerId;
}

Json newWindow(const std::string& root, const std::string& client, const std::string& layerId) {
  Json w = Json::object();
  w["id"] = newId();
  w["rootVisualItemId"] = root;
  w["client"] = client;
  w["selectionMode"] = "DESIGN";
  w["selectedLayer"] = layerId;
  return w;
}

// Step 1: each session lists its windows; each window gets the root it shows
// (the workspace root when it named none), its session's client, the design
// selection mode and the default layer.
void rebuildSessions(Json& doc, const std::string& layerId) {
  Json& sessions = doc[cls("Session")];
  Json& windows = doc[cls("SessionWindow")];
  auto sessionById = byId(sessions);
  for (auto& s : sessions) s["sessionWindows"] = Json::array();
  for (auto& w : windows) {
    const std::string root = id(w, "visualItem");
    w["rootVisualItemId"] = root == fennik::server::NIL_UUID_TEXT ? WORKSPACE_ROOT : root;
    w["selectionMode"] = "DESIGN";
    w["selectedLayer"] = layerId;
    auto s = sessionById.find(id(w, "session"));
    w["client"] = s == sessionById.end() ? "" : s->second->value("client", "");
    if (s != sessionById.end()) s->second->at("sessionWindows").push_back(w["id"]);
    w.erase("session");
  }
  // A session without a window on the workspace root gets one.
  std::vector<Json> added;
  for (auto& s : sessions) {
    bool hasRoot = false;
    for (const auto& w : windows) {
      const auto& list = s["sessionWindows"];
      if (std::find(list.begin(), list.end(), w["id"]) != list.end() && w["rootVisualItemId"] == WORKSPACE_ROOT) {
        hasRoot = true;
      }
    }
    if (!hasRoot) {
      added.push_back(newWindow(WORKSPACE_ROOT, s.value("client", ""), layerId));
      s["sessionWindows"].push_back(added.back()["id"]);
    }
  }
  for (auto& w : added) windows.push_back(std::move(w));
}

// Step 2: a matrix's own workspace gets a window in every session; the
// matrix DSP classes are emptied (their member stays).
void clearMatrixData(Json& doc, const std::string& layerId) {
  if (doc.contains(cls("DeviceCorvent"))) {
    Json& windows = doc[cls("SessionWindow")];
    auto windowById = byId(windows);
    std::vector<Json> added;
    for (const auto& matrix : doc[cls("DeviceCorvent")]) {
      const std::string root = id(matrix, "workspaceRoot");
      if (root == fennik::server::NIL_UUID_TEXT) continue;
      for (auto& s : doc[cls("Session")]) {
        bool present = false;
        for (const auto& wid : s["sessionWindows"]) {
          auto w = windowById.find(wid.get<std::string>());
          present = present || (w != windowById.end() && w->second->value("rootVisualItemId", "") == root);
        }
        if (present) continue;
        added.push_back(newWindow(root, s.value("client", ""), layerId));
        s["sessionWindows"].push_back(added.back()["id"]);
      }
    }
    for (auto& w : added) windows.push_back(std::move(w));
  }
  for (const char* type : MATRIX_CLASSES) {
    auto it = doc.find(cls(type));
    if (it != doc.end()) *it = Json::array();
  }
}

Json loadFrom(const Json& audio) {
  Json load = Json::object();
  load["id"] = newId();
  for (const char* key : {"source", "bridgeMode", "bridgeModeConsistent"}) {
    if (audio.contains(key)) load[key] = audio[key];
  }
  load["isEOLSupported"] = false;
  load["isOutputPilotSupported"] = false;
  load["impedanceValid"] = false;
  load["outputPilotLevelDecimals"] = 1;
  load["thresholdMinDecimals"] = 1;
  load["thresholdMaxDecimals"] = 1;
  load["thresholdMinEOLDecimals"] = 1;
  load["thresholdMaxEOLDecimals"] = 1;
  for (const char* key : {"index", "isLinked", "isReactingOnRealAmpChannel", "isGroup", "label"}) {
    if (audio.contains(key)) load[key] = audio[key];
  }
  return load;
}

// Step 3: every amplifier gets one load per audio feature it has (the device's
// own and one per channel), shaped like that audio feature's tree.
void addAmplifierLoads(Json& doc) {
  if (!doc.contains(cls("Device")) || !doc.contains(cls("FtAudio"))) return;
  Json& devices = doc[cls("Device")];
  auto audioById = byId(doc[cls("FtAudio")]);
  auto infoById = doc.contains(cls("FtDeviceInfo")) ? byId(doc[cls("FtDeviceInfo")]) : decltype(audioById){};
  std::unordered_map<std::string, std::string> loadOfAudio;
  std::vector<std::string> order;
  auto addAudio = [&](const std::string& audioId) {
    if (!audioById.contains(audioId) || loadOfAudio.contains(audioId)) return;
    loadOfAudio.emplace(audioId, std::string());
    order.push_back(audioId);
  };
  auto log = fennik::server::getLogger(fennik::server::MODULE_LOGGER);
  for (auto& device : devices) {
    if (device.value("implementation", "") != "AMPLIFIER") continue;
    const std::string audioId = id(device, "audio");
    if (!audioById.contains(audioId)) continue;
    const std::size_t before = order.size();
    addAudio(audioId);
    for (const auto& channel : ids(*audioById.at(audioId), "children")) addAudio(channel);
    auto info = infoById.find(id(device, "deviceInfo"));
    log->info("Amplifier {} ({}): {} load features added", device.value("id", ""),
              info == infoById.end() ? "no model" : info->second->value("model", ""), order.size() - before);
  }
  if (order.empty()) return;
  std::vector<Json> created;
  for (const auto& audioId : order) {
    created.push_back(loadFrom(*audioById.at(audioId)));
    loadOfAudio[audioId] = created.back()["id"];
  }
  auto mapped = [&](const Json& audio, const char* key) {
    std::vector<std::string> out;
    for (const auto& x : ids(audio, key)) {
      auto it = loadOfAudio.find(x);
      if (it != loadOfAudio.end()) out.push_back(it->second);
    }
    return out;
  };
  for (std::size_t i = 0; i < order.size(); ++i) {
    const Json& audio = *audioById.at(order[i]);
    Json& load = created[i];
    load["parent"] = mapped(audio, "parent");
    load["children"] = mapped(audio, "children");
    load["childrenShared"] = mapped(audio, "childrenShared");
    for (const char* key : {"levelInDbDecimals", "trimInDbDecimals", "linked"}) load.erase(key);
  }
  for (auto& device : devices) {
    auto it = loadOfAudio.find(id(device, "audio"));
    if (device.value("implementation", "") == "AMPLIFIER" && it != loadOfAudio.end()) device["load"] = it->second;
  }
  // Last: adding a member moves the others.
  Json& loads = membersFor(doc, cls("FtLoad"));
  for (auto& load : created) loads.push_back(std::move(load));
}

}  // namespace

void Migration_124_130::migrate(const std::shared_ptr<fennik::server::FileContainer>& container) {
  migrateEntities(container, __FILE__, __LINE__, [](Json& doc) {
    // The members this migration writes exist before any is held by reference.
    for (const char* type : {"Layer", "Session", "SessionWindow"}) membersFor(doc, cls(type));
    const std::string layerId = addDefaultLayer(doc);
    rebuildSessions(doc, layerId);
    clearMatrixData(doc, layerId);
    addAmplifierLoads(doc);
  });
}

}  // namespace qor::server
