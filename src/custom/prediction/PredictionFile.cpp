#include "custom/prediction/PredictionFile.h"

#include "custom/canvas/CanvasGeometry.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <set>
#include <stdexcept>

namespace qor::server::prediction {

namespace {

using Json = nlohmann::json;

// A refusal naming the place in the file and what is wrong there.
struct Invalid : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void refuse(const std::string& where, const std::string& what) {
  throw Invalid(where.empty() ? what : where + ": " + what);
}

const char* typeName(const Json& v) {
  switch (v.type()) {
    case Json::value_t::null:
      return "null";
    case Json::value_t::boolean:
      return "a boolean";
    case Json::value_t::string:
      return "a string";
    case Json::value_t::array:
      return "an array";
    case Json::value_t::object:
      return "an object";
    case Json::value_t::binary:
    case Json::value_t::discarded:
      return "no JSON value";
    default:
      return "a number";
  }
}

// The member `key` of the object at `where`, present and of the wanted kind.
const Json& member(const Json& object, const std::string& where, const char* key, Json::value_t kind,
                   const char* kindName) {
  const auto it = object.find(key);
  const std::string at = where.empty() ? std::string(key) : where + "." + key;
  if (it == object.end()) refuse(where, std::string("\"") + key + "\" is missing");
  const bool number = kind == Json::value_t::number_float;
  if (number ? !it->is_number() : it->type() != kind)
    refuse(at, std::string("expected ") + kindName + ", found " + typeName(*it));
  return *it;
}

const Json& objectAt(const Json& o, const std::string& w, const char* k) {
  return member(o, w, k, Json::value_t::object, "an object");
}
const Json& arrayAt(const Json& o, const std::string& w, const char* k) {
  return member(o, w, k, Json::value_t::array, "an array");
}
std::string stringAt(const Json& o, const std::string& w, const char* k) {
  return member(o, w, k, Json::value_t::string, "a string").get<std::string>();
}
bool boolAt(const Json& o, const std::string& w, const char* k) {
  return member(o, w, k, Json::value_t::boolean, "a boolean").get<bool>();
}
double numberAt(const Json& o, const std::string& w, const char* k) {
  const double v = member(o, w, k, Json::value_t::number_float, "a number").get<double>();
  if (!std::isfinite(v)) refuse(w + "." + k, "the number is out of range");
  return v;
}
fennik::server::Uuid uuidAt(const Json& o, const std::string& w, const char* k) {
  const std::string text = stringAt(o, w, k);
  try {
    return fennik::server::UuidFromS(text);
  } catch (const std::invalid_argument&) {
    refuse(w + "." + k, "\"" + text + "\" is no UUID");
  }
}

std::string index(const std::string& where, std::size_t i) { return where + "[" + std::to_string(i) + "]"; }

// A canvas coordinate: a number on the canvas, rounded to whole units.
int coordinateAt(const Json& position, const std::string& where, const char* key, int limit) {
  const double v = numberAt(position, where, key);
  if (v < 0.0 || v > limit)
    refuse(where + "." + key, "the position lies off the canvas (0 to " + std::to_string(limit) + ")");
  return static_cast<int>(std::lround(v));
}

Speaker readSpeaker(const Json& s, const std::string& where) {
  if (!s.is_object()) refuse(where, std::string("expected an object, found ") + typeName(s));
  Speaker speaker;
  speaker.id = stringAt(s, where, "speakerId");
  if (speaker.id.empty()) refuse(where + ".speakerId", "the id is empty");
  speaker.product = uuidAt(s, where, "speakerDbProductId");
  speaker.preset = uuidAt(s, where, "speakerDbPresetId");
  speaker.variant = uuidAt(s, where, "speakerDbElectroacousticVariantId");
  const Json& position = objectAt(s, where, "position");
  speaker.x = coordinateAt(position, where + ".position", "x", canvas::CANVAS_WIDTH);
  speaker.y = coordinateAt(position, where + ".position", "y", canvas::CANVAS_HEIGHT);
  speaker.orientation = stringAt(s, where, "orientation");
  return speaker;
}

DspSetting readDspSetting(const Json& d, const std::string& where) {
  if (!d.is_object()) refuse(where, std::string("expected an object, found ") + typeName(d));
  DspSetting setting;
  const Json& delay = objectAt(d, where, "delay");
  setting.delayInMs = numberAt(delay, where + ".delay", "valueInMs");
  if (setting.delayInMs < 0.0) refuse(where + ".delay.valueInMs", "a delay cannot be negative");
  setting.delayEnabled = boolAt(delay, where + ".delay", "enabled");
  const Json& gain = objectAt(d, where, "gain");
  setting.gainInDb = numberAt(gain, where + ".gain", "valueInDb");
  setting.gainEnabled = boolAt(gain, where + ".gain", "enabled");
  const Json& ids = arrayAt(d, where, "speakerIds");
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (!ids[i].is_string())
      refuse(index(where + ".speakerIds", i), std::string("expected a string, found ") + typeName(ids[i]));
    setting.speakerIds.push_back(ids[i].get<std::string>());
  }
  return setting;
}

PredictionFile read010(const Json& document) {
  PredictionFile file;
  file.schemaVersion = VERSION_0_1_0;
  std::set<std::string> ids;
  const Json& groups = arrayAt(document, "", "speakerGroups");
  for (std::size_t g = 0; g < groups.size(); ++g) {
    const std::string where = index("speakerGroups", g);
    if (!groups[g].is_object()) refuse(where, std::string("expected an object, found ") + typeName(groups[g]));
    const Json& entries = arrayAt(groups[g], where, "speaker");
    auto& group = file.speakerGroups.emplace_back();
    for (std::size_t s = 0; s < entries.size(); ++s) {
      Speaker speaker = readSpeaker(entries[s], index(where + ".speaker", s));
      // "speakerIds" name speakers by this id: it must name one speaker.
      if (!ids.insert(speaker.id).second)
        refuse(index(where + ".speaker", s) + ".speakerId", "the id \"" + speaker.id + "\" is used twice");
      group.push_back(std::move(speaker));
    }
  }
  const Json& settings = arrayAt(document, "", "dspSettings");
  for (std::size_t d = 0; d < settings.size(); ++d)
    file.dspSettings.push_back(readDspSetting(settings[d], index("dspSettings", d)));
  return file;
}

}  // namespace

const std::vector<std::string>& supportedVersions() {
  static const std::vector<std::string> versions{VERSION_0_1_0};
  return versions;
}

ReadResult readPredictionFile(std::string_view text) {
  ReadResult result;
  Json document;
  try {
    document = Json::parse(text);
  } catch (const Json::exception& e) {  // a syntax error, or a number beyond the range of a double
    result.failure = ReadFailure::NotJson;
    result.problem = e.what();
    return result;
  }
  try {
    if (!document.is_object()) refuse("", std::string("expected a JSON object, found ") + typeName(document));
    const auto version = document.find("schemaVersion");
    if (version == document.end() || !version->is_string())
      refuse("", "Couldn't read schema version from prediction file.");
    const std::string v = version->get<std::string>();
    const auto& supported = supportedVersions();
    if (std::find(supported.begin(), supported.end(), v) == supported.end())
      refuse("", "The prediction file version " + v + " is not supported by this application.");
    result.file = read010(document);
  } catch (const Invalid& e) {
    result.failure = ReadFailure::Invalid;
    result.problem = e.what();
  }
  return result;
}

}  // namespace qor::server::prediction
