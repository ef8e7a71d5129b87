// A driver's offline settings: read and written through the driver
// interface, and their JSON form with a reader that trusts nothing.

#include "fennik/devices/DriverSettings.h"

#include "fennik/server/core/JsonText.h"

#include <fmt/format.h>
#include <simdjson.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <set>

namespace fennik::devices {

namespace {

constexpr int DEVICE_FLAGS = static_cast<int>(DeviceFlag::Count);
constexpr int CHANNEL_FLAGS = static_cast<int>(ChannelFlag::Count);
constexpr std::size_t MAX_TEXT_BYTES = 1024;
// Values the driver interface gives no range for still have to be sane.
constexpr double MAX_DB = 200.0;
constexpr double MIN_HZ = 1.0;
constexpr double MAX_HZ = 100000.0;
constexpr double MIN_Q = 0.01;
constexpr double MAX_Q = 100.0;
constexpr double MAX_THRESHOLD = 1.0e6;

ChannelType channelType(int t) { return static_cast<ChannelType>(t); }
std::size_t at(int i) { return static_cast<std::size_t>(i); }

bool anyFailoverType(const FennikDevice& d) {
  for (int t = 0; t < 4; ++t) {
    if (d.isFailoverTypeSupported(t)) return true;
  }
  return false;
}

bool validEqType(int t) { return (t >= 0 && t <= 5) || (t >= 9 && t <= 12); }

// ---- reading a document: every access names its key path ----
//
// The reader is written once over a node of either form a document comes
// in: the JSON library's tree or simdjson's DOM (which the device plant
// reads a show's thousand entries from, without building trees).

// A key path ("channels[2].eq[0][1].type"), spelled out only for a message:
// a show's load reads a million values and refuses none.
class Path {
 public:
  Path() = default;
  Path(const char* key) : key_(key) {}  // NOLINT: a key at the top
  Path(const Path& parent, const char* key) : parent_(&parent), key_(key) {}
  Path(const Path& parent, std::size_t index) : parent_(&parent), key_(nullptr), index_(index) {}
  std::string str() const {
    std::string out = parent_ ? parent_->str() : std::string();
    if (!key_) return fmt::format("{}[{}]", out, index_);
    if (!*key_) return out;
    return out.empty() ? std::string(key_) : out + "." + key_;
  }

 private:
  const Path* parent_ = nullptr;
  const char* key_ = "";
  std::size_t index_ = 0;
};

[[noreturn]] void fail(const Path& path, const std::string& what) {
  throw DriverSettingsError(path.str() + ": " + what);
}

class TreeNode {
 public:
  explicit TreeNode(const SettingsJson& j) : j_(&j) {}
  std::string kind() const { return j_->type_name(); }
  bool isObject() const { return j_->is_object(); }
  bool isArray() const { return j_->is_array(); }
  bool isNull() const { return j_->is_null(); }
  bool isBool() const { return j_->is_boolean(); }
  bool isNumber() const { return j_->is_number(); }
  bool isInteger() const { return j_->is_number_integer(); }
  bool isUnsigned() const { return j_->is_number_unsigned(); }
  bool isString() const { return j_->is_string(); }
  std::size_t size() const { return j_->size(); }
  TreeNode operator[](std::size_t i) const { return TreeNode((*j_)[i]); }
  std::optional<TreeNode> member(const char* key) const {
    auto it = j_->find(key);
    return it == j_->end() ? std::nullopt : std::optional<TreeNode>(TreeNode(*it));
  }
  bool asBool() const { return j_->get<bool>(); }
  double asDouble() const { return j_->get<double>(); }
  std::uint64_t asUnsigned() const { return j_->get<std::uint64_t>(); }
  long long asInteger() const { return j_->get<long long>(); }
  std::string_view asText() const { return j_->get_ref<const std::string&>(); }
  std::string dump() const { return j_->dump(); }

 private:
  const SettingsJson* j_;
};

// Where the two forms could differ (a repeated key, the kind of a number),
// the DOM node answers as the tree does.
class DomNode {
 public:
  explicit DomNode(simdjson::dom::element e) : e_(e) {}
  std::string kind() const {
    switch (e_.type()) {
      case simdjson::dom::element_type::OBJECT:
        return "object";
      case simdjson::dom::element_type::ARRAY:
        return "array";
      case simdjson::dom::element_type::STRING:
        return "string";
      case simdjson::dom::element_type::BOOL:
        return "boolean";
      case simdjson::dom::element_type::NULL_VALUE:
        return "null";
      default:
        return "number";
    }
  }
  bool isObject() const { return e_.is_object(); }
  bool isArray() const { return e_.is_array(); }
  bool isNull() const { return e_.is_null(); }
  bool isBool() const { return e_.is_bool(); }
  bool isNumber() const { return e_.is_number(); }
  bool isInteger() const { return e_.is_int64() || e_.is_uint64(); }
  // The tree reads an integer without a sign as unsigned.
  bool isUnsigned() const { return e_.is_uint64() || (e_.is_int64() && int64() >= 0); }
  bool isString() const { return e_.is_string(); }
  std::size_t size() const { return asArray().size(); }
  DomNode operator[](std::size_t i) const {
    simdjson::dom::element item;
    if (asArray().at(i).get(item)) fail("(document)", "an array ends early");
    return DomNode(item);
  }
  // The last of repeated keys, as the tree keeps it.
  std::optional<DomNode> member(const char* key) const {
    simdjson::dom::object object;
    if (e_.get_object().get(object)) return std::nullopt;
    const std::string_view wanted(key);
    std::optional<DomNode> found;
    for (const auto field : object) {
      if (field.key == wanted) found = DomNode(field.value);
    }
    return found;
  }
  bool asBool() const { return e_.get_bool().value_unsafe(); }
  double asDouble() const {
    if (e_.is_int64()) return static_cast<double>(int64());
    if (e_.is_uint64()) return static_cast<double>(e_.get_uint64().value_unsafe());
    return e_.get_double().value_unsafe();
  }
  std::uint64_t asUnsigned() const {
    return e_.is_uint64() ? e_.get_uint64().value_unsafe() : static_cast<std::uint64_t>(int64());
  }
  long long asInteger() const { return int64(); }
  std::string_view asText() const { return e_.get_string().value_unsafe(); }
  std::string dump() const { return simdjson::minify(e_); }

 private:
  std::int64_t int64() const { return e_.get_int64().value_unsafe(); }
  simdjson::dom::array asArray() const {
    simdjson::dom::array array;
    if (e_.get_array().get(array)) fail("(document)", "an array is expected");
    return array;
  }
  simdjson::dom::element e_;
};

template <class N>
void object(const N& j, const Path& path) {
  if (!j.isObject()) fail(path, "must be an object, but is " + j.kind());
}

template <class N>
void array(const N& j, const Path& path, std::size_t size) {
  if (!j.isArray()) fail(path, "must be an array, but is " + j.kind());
  if (j.size() != size) fail(path, fmt::format("must have {} entries, but has {}", size, j.size()));
}

template <class N>
bool boolean(const N& j, const Path& path) {
  if (!j.isBool()) fail(path, "must be true or false, but is " + j.kind());
  return j.asBool();
}

template <class N>
double number(const N& j, const Path& path, double lo, double hi) {
  if (!j.isNumber()) fail(path, "must be a number, but is " + j.kind());
  const double v = j.asDouble();
  if (!std::isfinite(v) || v < lo || v > hi) fail(path, fmt::format("{} is outside {} to {}", j.dump(), lo, hi));
  return v;
}

template <class N>
int integer(const N& j, const Path& path, long long lo, long long hi) {
  if (!j.isInteger()) fail(path, "must be an integer, but is " + j.kind());
  long long v = 0;
  if (j.isUnsigned()) {
    const auto u = j.asUnsigned();
    v = u > static_cast<std::uint64_t>(hi) ? hi + 1 : static_cast<long long>(u);
  } else {
    v = j.asInteger();
  }
  if (v < lo || v > hi) fail(path, fmt::format("{} is outside {} to {}", j.dump(), lo, hi));
  return static_cast<int>(v);
}

template <class N>
std::string text(const N& j, const Path& path) {
  if (!j.isString()) fail(path, "must be a string, but is " + j.kind());
  const std::string_view s = j.asText();
  if (s.size() > MAX_TEXT_BYTES) fail(path, fmt::format("is longer than {} bytes", MAX_TEXT_BYTES));
  return std::string(s);
}

// Runs `read` on the member when it is present; a member the model does not
// offer is refused.
template <class N, class F>
void optionalMember(const N& obj, const Path& path, const char* key, bool offered, F read) {
  const auto j = obj.member(key);
  if (!j) return;
  const Path where(path, key);
  if (!offered) fail(where, "the model has no such setting");
  read(*j, where);
}

template <class N>
std::vector<bool> flagList(const N& j, const Path& path, int count) {
  array(j, path, at(count));
  std::vector<bool> out;
  for (std::size_t i = 0; i < j.size(); ++i) out.push_back(boolean(j[i], Path(path, i)));
  return out;
}

template <class N>
std::vector<int> sourceList(const N& j, const Path& path, int sources) {
  if (!j.isArray()) fail(path, "must be an array, but is " + j.kind());
  if (j.size() > at(sources)) fail(path, fmt::format("selects {} sources of {}", j.size(), sources));
  std::vector<int> out;
  std::set<int> seen;
  for (std::size_t i = 0; i < j.size(); ++i) {
    const int s = integer(j[i], Path(path, i), 0, sources - 1);
    if (!seen.insert(s).second) fail(Path(path, i), fmt::format("source {} is selected twice", s));
    out.push_back(s);
  }
  return out;
}

template <class N>
EqFilter eqFilter(const N& j, const Path& path) {
  object(j, path);
  EqFilter f;
  auto need = [&](const char* key) {
    const auto m = j.member(key);
    if (!m) fail(Path(path, key), "is missing");
    return *m;
  };
  f.type = integer(need("type"), Path(path, "type"), 0, 12);
  if (!validEqType(f.type)) fail(Path(path, "type"), fmt::format("{} is no equaliser type", f.type));
  f.slope = integer(need("slope"), Path(path, "slope"), 0, 2);
  f.bypass = boolean(need("bypass"), Path(path, "bypass"));
  f.freqInHz = number(need("freqInHz"), Path(path, "freqInHz"), MIN_HZ, MAX_HZ);
  f.freq2InHz = number(need("freq2InHz"), Path(path, "freq2InHz"), MIN_HZ, MAX_HZ);
  f.gainInDb = number(need("gainInDb"), Path(path, "gainInDb"), -MAX_DB, MAX_DB);
  f.quality = number(need("quality"), Path(path, "quality"), MIN_Q, MAX_Q);
  f.quality2 = number(need("quality2"), Path(path, "quality2"), MIN_Q, MAX_Q);
  return f;
}

template <class N>
void readChannel(const N& j, const Path& path, int ch, const FennikDevice& like, ChannelSettings& c) {
  object(j, path);
  optionalMember(j, path, "customName", true, [&](auto& v, auto& p) { c.customName = text(v, p); });
  const Limits gain = like.getGainLimits(ch);
  optionalMember(j, path, "gain", like.isGainSupported(ch) && !like.isGainReadOnly(ch),
                 [&](auto& v, auto& p) { c.gain = number(v, p, gain.minimum, gain.maximum); });
  optionalMember(j, path, "driveMode", true, [&](auto& v, auto& p) {
    const int mode = integer(v, p, 0, DRIVE_MODE_COUNT - 1);
    if (!like.isDriveModeSupported(ch, mode)) fail(p, fmt::format("drive mode {} is not offered by the model", mode));
    c.driveMode = mode;
  });
  optionalMember(j, path, "mute", true, [&](auto& v, auto& p) { c.mute = boolean(v, p); });
  optionalMember(j, path, "level", true, [&](auto& v, auto& p) { c.level = number(v, p, -MAX_DB, MAX_DB); });
  optionalMember(j, path, "trim", like.isTrimSupported(),
                 [&](auto& v, auto& p) { c.trim = number(v, p, -MAX_DB, MAX_DB); });
  optionalMember(j, path, "polarity", like.isPolaritySupported(),
                 [&](auto& v, auto& p) { c.polarity = boolean(v, p); });
  optionalMember(j, path, "delays", true, [&](auto& v, auto& p) {
    array(v, p, CHANNEL_TYPE_COUNT);
    for (int t = 0; t < CHANNEL_TYPE_COUNT; ++t) {
      const N d = v[at(t)];
      const Path dp(p, at(t));
      const bool offered = like.isDelaySupported(channelType(t));
      if (d.isNull()) {
        if (offered) fail(dp, "the model has this delay; it must be given");
        continue;
      }
      if (!offered) fail(dp, "the model has no such delay");
      object(d, dp);
      DelaySettings s;
      const auto ms = d.member("ms");
      const auto bypass = d.member("bypass");
      if (!ms || !bypass) fail(dp, "must hold \"ms\" and \"bypass\"");
      s.ms = number(*ms, Path(dp, "ms"), 0.0, like.getDelayMax(channelType(t)));
      s.bypass = boolean(*bypass, Path(dp, "bypass"));
      c.delays[at(t)] = s;
    }
  });
  optionalMember(j, path, "eq", true, [&](auto& v, auto& p) {
    array(v, p, CHANNEL_TYPE_COUNT);
    for (int t = 0; t < CHANNEL_TYPE_COUNT; ++t) {
      const Path bp(p, at(t));
      const int count = std::max(0, like.getEqFilterCount(channelType(t)));
      const N bank = v[at(t)];
      array(bank, bp, at(count));
      c.eq[at(t)].clear();
      for (int f = 0; f < count; ++f) c.eq[at(t)].push_back(eqFilter(bank[at(f)], Path(bp, at(f))));
    }
  });
  const int sources = static_cast<int>(like.getInputSources().size());
  optionalMember(j, path, "routing", sources > 0, [&](auto& v, auto& p) {
    array(v, p, ROUTING_COUNT);
    std::array<std::vector<int>, ROUTING_COUNT> r;
    for (int i = 0; i < ROUTING_COUNT; ++i) r[at(i)] = sourceList(v[at(i)], Path(p, at(i)), sources);
    c.routing = r;
  });
  optionalMember(j, path, "load", true, [&](auto& v, auto& p) {
    object(v, p);
    auto num = [&](const char* key, double& out, double lo, double hi) {
      if (const auto m = v.member(key)) out = number(*m, Path(p, key), lo, hi);
    };
    if (const auto m = v.member("pilotActive")) c.load.pilotActive = boolean(*m, Path(p, "pilotActive"));
    num("pilotFrequency", c.load.pilotFrequency, 0.0, MAX_HZ);
    num("pilotLevel", c.load.pilotLevel, -MAX_DB, MAX_DB);
    num("thresholdMin", c.load.thresholdMin, -MAX_THRESHOLD, MAX_THRESHOLD);
    num("thresholdMax", c.load.thresholdMax, -MAX_THRESHOLD, MAX_THRESHOLD);
    num("thresholdMinEol", c.load.thresholdMinEol, -MAX_THRESHOLD, MAX_THRESHOLD);
    num("thresholdMaxEol", c.load.thresholdMaxEol, -MAX_THRESHOLD, MAX_THRESHOLD);
  });
  optionalMember(j, path, "signalGenerator", true, [&](auto& v, auto& p) {
    object(v, p);
    auto& g = c.signalGenerator;
    if (const auto m = v.member("active")) g.active = boolean(*m, Path(p, "active"));
    if (const auto m = v.member("levelInDb")) g.levelInDb = number(*m, Path(p, "levelInDb"), -MAX_DB, MAX_DB);
    if (const auto m = v.member("frequencyInHz"))
      g.frequencyInHz = number(*m, Path(p, "frequencyInHz"), MIN_HZ, MAX_HZ);
    if (const auto m = v.member("mode")) g.mode = integer(*m, Path(p, "mode"), 0, 3);
    if (const auto m = v.member("type")) g.type = integer(*m, Path(p, "type"), 0, 2);
  });
  optionalMember(j, path, "flagCollect", true,
                 [&](auto& v, auto& p) { c.flagCollect = flagList(v, p, CHANNEL_FLAGS); });
}

template <class N>
void checkHeader(const N& j) {
  object(j, "(document)");
  const auto format = j.member("format");
  if (!format || !format->isString() || format->asText() != DRIVER_SETTINGS_FORMAT)
    fail("format", fmt::format("must be \"{}\"", DRIVER_SETTINGS_FORMAT));
  const auto version = j.member("version");
  if (!version) fail("version", "is missing");
  const int v = integer(*version, "version", 0, std::numeric_limits<int>::max());
  if (v != DRIVER_SETTINGS_VERSION)
    fail("version", fmt::format("{} is not known; this server reads version {}", v, DRIVER_SETTINGS_VERSION));
  const auto model = j.member("model");
  if (!model) fail("model", "is missing");
  text(*model, "model");
}

template <class N>
DriverSettings readDocument(const N& j, const FennikDevice& like, DriverSettings s) {
  checkHeader(j);
  const std::string model(j.member("model")->asText());
  if (model != like.getModel())
    fail("model", fmt::format("\"{}\" is not the device's model \"{}\"", model, like.getModel()));
  const Path root;
  optionalMember(j, root, "name", true, [&](auto& v, auto& p) { s.name = text(v, p); });
  optionalMember(j, root, "deviceIntId", like.isDeviceIdSupported(),
                 [&](auto& v, auto& p) { s.deviceIntId = integer(v, p, 0, std::numeric_limits<int>::max()); });
  optionalMember(j, root, "frontPanelLock", like.isFrontPanelLockSupported(),
                 [&](auto& v, auto& p) { s.frontPanelLock = boolean(v, p); });
  const PinRange pins = like.getFrontPanelLockPinRange();
  optionalMember(j, root, "frontPanelLockPin", like.isFrontPanelLockPinSupported(), [&](auto& v, auto& p) {
    s.frontPanelLockPin = static_cast<std::uint16_t>(integer(v, p, pins.minimum, pins.maximum));
  });
  optionalMember(j, root, "power", like.isPowerSupported(), [&](auto& v, auto& p) { s.power = boolean(v, p); });
  const Limits delay = like.getPowerOnDelayRange();
  optionalMember(j, root, "powerOnDelay", like.isPowerOnDelaySupported(),
                 [&](auto& v, auto& p) { s.powerOnDelay = number(v, p, delay.minimum, delay.maximum); });
  const Limits breaker = like.getBreakerRange();
  optionalMember(j, root, "breaker", like.isBreakerSupported(),
                 [&](auto& v, auto& p) { s.breaker = number(v, p, breaker.minimum, breaker.maximum); });
  optionalMember(j, root, "sampleRate", like.isSampleRateSupported(),
                 [&](auto& v, auto& p) { s.sampleRate = integer(v, p, 0, 1); });
  optionalMember(j, root, "networkMode", like.isNetworkModeSupported(),
                 [&](auto& v, auto& p) { s.networkMode = integer(v, p, 0, 3); });
  optionalMember(j, root, "startUpPresetSlot", true, [&](auto& v, auto& p) {
    s.startUpPresetSlot = text(v, p);
    const auto slots = like.getPresetSlots();
    if (!s.startUpPresetSlot.empty() && std::find(slots.begin(), slots.end(), s.startUpPresetSlot) == slots.end())
      fail(p, fmt::format("\"{}\" is no preset slot of the model", s.startUpPresetSlot));
  });
  optionalMember(j, root, "failover", anyFailoverType(like), [&](auto& v, auto& p) {
    object(v, p);
    FailoverConfig f = like.getFailoverConfig();
    for (const char* key : {"failoverTime", "fallbackTime", "type"}) {
      if (!v.member(key)) fail(Path(p, key), "is missing");
    }
    f.failoverTime = integer(*v.member("failoverTime"), Path(p, "failoverTime"), f.timeMinimum, f.timeMaximum);
    f.fallbackTime = integer(*v.member("fallbackTime"), Path(p, "fallbackTime"), f.timeMinimum, f.timeMaximum);
    f.type = integer(*v.member("type"), Path(p, "type"), 0, 3);
    if (!like.isFailoverTypeSupported(f.type))
      fail(Path(p, "type"), fmt::format("failover type {} is not offered by the model", f.type));
    s.failover = f;
  });
  optionalMember(j, root, "collectedErrorHold", like.isCollectedErrorHoldSupported(),
                 [&](auto& v, auto& p) { s.collectedErrorHold = boolean(v, p); });
  optionalMember(j, root, "deviceFlagCollect", true,
                 [&](auto& v, auto& p) { s.deviceFlagCollect = flagList(v, p, DEVICE_FLAGS); });
  optionalMember(j, root, "gpios", true, [&](auto& v, auto& p) {
    array(v, p, at(std::max(0, like.getGpioCount())));
    for (std::size_t g = 0; g < v.size(); ++g) {
      const Path gp(p, g);
      const N gpio = v[g];
      object(gpio, gp);
      const auto mode = gpio.member("mode");
      const auto output = gpio.member("output");
      if (!mode || !output) fail(gp, "must hold \"mode\" and \"output\"");
      s.gpios.at(g) = {integer(*mode, Path(gp, "mode"), 0, 2), boolean(*output, Path(gp, "output"))};
    }
  });
  optionalMember(j, root, "channels", true, [&](auto& v, auto& p) {
    array(v, p, at(std::max(0, like.getChannelCount())));
    for (std::size_t ch = 0; ch < v.size(); ++ch)
      readChannel(v[ch], Path(p, ch), static_cast<int>(ch), like, s.channels.at(ch));
  });
  return s;
}

// ---- writing a document ----
//
// Straight to text, in the JSON library's compact form (the same bytes as
// dumping a tree of these keys in this order): a show saves a thousand
// drivers' settings, and building, dumping and freeing a tree for each
// was most of that time.

using namespace fennik::server::json_text;

// Members of one object in order, the commas between them.
class ObjectText {
 public:
  explicit ObjectText(std::string& out) : out_(out) { out_ += '{'; }
  ~ObjectText() { out_ += '}'; }
  ObjectText(const ObjectText&) = delete;
  ObjectText& operator=(const ObjectText&) = delete;

  std::string& key(std::string_view name) {
    if (!first_) out_ += ',';
    first_ = false;
    appendKey(out_, name);
    return out_;
  }
  void number(std::string_view name, double v) { appendDouble(key(name), v); }
  void integer(std::string_view name, long long v) { appendInteger(key(name), v); }
  void boolean(std::string_view name, bool v) { appendBool(key(name), v); }
  void text(std::string_view name, std::string_view v) { appendString(key(name), v); }

 private:
  std::string& out_;
  bool first_ = true;
};

// "[a,b,...]" with `item` writing each element.
template <class List, class Item>
void appendList(std::string& out, const List& list, Item&& item) {
  out += '[';
  bool first = true;
  for (const auto& v : list) {
    if (!first) out += ',';
    first = false;
    item(out, v);
  }
  out += ']';
}

void appendBools(std::string& out, const std::vector<bool>& flags) {
  appendList(out, flags, [](std::string& o, bool b) { appendBool(o, b); });
}

void appendFilter(std::string& out, const EqFilter& f) {
  ObjectText o(out);
  o.integer("type", f.type);
  o.integer("slope", f.slope);
  o.boolean("bypass", f.bypass);
  o.number("freqInHz", f.freqInHz);
  o.number("freq2InHz", f.freq2InHz);
  o.number("gainInDb", f.gainInDb);
  o.number("quality", f.quality);
  o.number("quality2", f.quality2);
}

void appendChannel(std::string& out, const ChannelSettings& c) {
  ObjectText o(out);
  o.text("customName", c.customName);
  if (c.gain) o.number("gain", *c.gain);
  if (c.driveMode) o.integer("driveMode", *c.driveMode);
  o.boolean("mute", c.mute);
  o.number("level", c.level);
  if (c.trim) o.number("trim", *c.trim);
  if (c.polarity) o.boolean("polarity", *c.polarity);
  appendList(o.key("delays"), c.delays, [](std::string& out, const std::optional<DelaySettings>& d) {
    if (!d) {
      out += "null";
      return;
    }
    ObjectText delay(out);
    delay.number("ms", d->ms);
    delay.boolean("bypass", d->bypass);
  });
  appendList(o.key("eq"), c.eq,
             [](std::string& out, const std::vector<EqFilter>& bank) { appendList(out, bank, appendFilter); });
  if (c.routing) {
    appendList(o.key("routing"), *c.routing, [](std::string& out, const std::vector<int>& sources) {
      appendList(out, sources, [](std::string& o, int source) { appendInteger(o, source); });
    });
  }
  {
    ObjectText load(o.key("load"));
    load.boolean("pilotActive", c.load.pilotActive);
    load.number("pilotFrequency", c.load.pilotFrequency);
    load.number("pilotLevel", c.load.pilotLevel);
    load.number("thresholdMin", c.load.thresholdMin);
    load.number("thresholdMax", c.load.thresholdMax);
    load.number("thresholdMinEol", c.load.thresholdMinEol);
    load.number("thresholdMaxEol", c.load.thresholdMaxEol);
  }
  {
    const auto& g = c.signalGenerator;
    ObjectText generator(o.key("signalGenerator"));
    generator.boolean("active", g.active);
    generator.number("levelInDb", g.levelInDb);
    generator.number("frequencyInHz", g.frequencyInHz);
    generator.integer("mode", g.mode);
    generator.integer("type", g.type);
  }
  appendBools(o.key("flagCollect"), c.flagCollect);
}

}  // namespace

DriverSettings readDriverSettings(const FennikDevice& d) {
  DriverSettings s;
  s.model = d.getModel();
  s.name = d.getName();
  s.deviceIntId = d.getDeviceIntId();
  if (d.isFrontPanelLockSupported()) s.frontPanelLock = d.getFrontPanelLock();
  if (d.isFrontPanelLockPinSupported()) s.frontPanelLockPin = d.getFrontPanelLockPin();
  if (d.isPowerSupported()) s.power = d.getPower();
  if (d.isPowerOnDelaySupported()) s.powerOnDelay = d.getPowerOnDelay();
  if (d.isBreakerSupported()) s.breaker = d.getBreakerCurrent();
  if (d.isSampleRateSupported()) s.sampleRate = d.getSampleRate();
  if (d.isNetworkModeSupported()) s.networkMode = d.getNetworkMode();
  s.startUpPresetSlot = d.getStartUpPresetSlot();
  if (anyFailoverType(d)) s.failover = d.getFailoverConfig();
  if (d.isCollectedErrorHoldSupported()) s.collectedErrorHold = d.getCollectedErrorHold();
  for (int f = 0; f < DEVICE_FLAGS; ++f)
    s.deviceFlagCollect.push_back(d.getDeviceFlagCollect(static_cast<DeviceFlag>(f)));
  for (int g = 0; g < d.getGpioCount(); ++g) s.gpios.push_back({d.getGpioMode(g), d.getGpoDigital(g)});
  const bool sources = !d.getInputSources().empty();
  for (int ch = 0; ch < d.getChannelCount(); ++ch) {
    ChannelSettings c;
    c.customName = d.getChannelCustomName(ch);
    if (d.isGainSupported(ch) && !d.isGainReadOnly(ch)) c.gain = d.getGain(ch);
    if (const int mode = d.getDriveMode(ch); d.isDriveModeSupported(ch, mode)) c.driveMode = mode;
    c.mute = d.getMute(ch);
    c.level = d.getLevel(ch);
    if (d.isTrimSupported()) c.trim = d.getTrim(ch);
    if (d.isPolaritySupported()) c.polarity = d.getPolarity(ch);
    for (int t = 0; t < CHANNEL_TYPE_COUNT; ++t) {
      const ChannelType type = channelType(t);
      if (d.isDelaySupported(type)) c.delays[at(t)] = DelaySettings{d.getDelay(type, ch), d.getDelayBypass(type, ch)};
      for (int f = 0; f < d.getEqFilterCount(type); ++f) c.eq[at(t)].push_back(d.getEqFilter(type, ch, f));
    }
    if (sources) c.routing = {d.getSelectedInputSources(ch, 0), d.getSelectedInputSources(ch, 1)};
    const LoadState load = d.getLoad(ch);
    c.load = {load.pilotActive,  load.pilotFrequency,  load.pilotLevel,     load.thresholdMin,
              load.thresholdMax, load.thresholdMinEol, load.thresholdMaxEol};
    c.signalGenerator = d.getSignalGenerator(ch);
    for (int f = 0; f < CHANNEL_FLAGS; ++f)
      c.flagCollect.push_back(d.getChannelFlagCollect(ch, static_cast<ChannelFlag>(f)));
    s.channels.push_back(std::move(c));
  }
  return s;
}

std::vector<std::string> writeDriverSettings(const DriverSettings& s, FennikDevice& d) {
  std::vector<std::string> refused;
  auto call = [&](const char* what, auto&& f) {
    try {
      f();
    } catch (const std::exception& e) {
      refused.push_back(fmt::format("{}: {}", what, e.what()));
    }
  };
  call("setName", [&] { d.setName(s.name); });
  call("setDeviceIntId", [&] { d.setDeviceIntId(s.deviceIntId); });
  if (s.frontPanelLock && d.isFrontPanelLockSupported())
    call("setFrontPanelLock", [&] { d.setFrontPanelLock(*s.frontPanelLock); });
  if (s.frontPanelLockPin && d.isFrontPanelLockPinSupported())
    call("setFrontPanelLockPin", [&] { d.setFrontPanelLockPin(*s.frontPanelLockPin); });
  if (s.power && d.isPowerSupported()) call("setPower", [&] { d.setPower(*s.power); });
  if (s.powerOnDelay && d.isPowerOnDelaySupported())
    call("setPowerOnDelay", [&] { d.setPowerOnDelay(*s.powerOnDelay); });
  if (s.breaker && d.isBreakerSupported()) call("setBreakerCurrent", [&] { d.setBreakerCurrent(*s.breaker); });
  if (s.sampleRate && d.isSampleRateSupported()) call("setSampleRate", [&] { d.setSampleRate(*s.sampleRate); });
  if (s.networkMode && d.isNetworkModeSupported()) call("setNetworkMode", [&] { d.setNetworkMode(*s.networkMode); });
  call("setStartUpPresetSlot", [&] { d.setStartUpPresetSlot(s.startUpPresetSlot); });
  if (s.failover && anyFailoverType(d)) call("setFailoverConfig", [&] { d.setFailoverConfig(*s.failover); });
  if (s.collectedErrorHold && d.isCollectedErrorHoldSupported())
    call("setCollectedErrorHold", [&] { d.setCollectedErrorHold(*s.collectedErrorHold); });
  for (int f = 0; f < DEVICE_FLAGS && at(f) < s.deviceFlagCollect.size(); ++f) {
    const auto flag = static_cast<DeviceFlag>(f);
    if (d.isDeviceFlagAvailable(flag) && d.isDeviceFlagCollectSupported(flag))
      call("setDeviceFlagCollect", [&] { d.setDeviceFlagCollect(flag, s.deviceFlagCollect[at(f)]); });
  }
  for (int g = 0; g < d.getGpioCount() && at(g) < s.gpios.size(); ++g) {
    call("setGpioMode", [&] { d.setGpioMode(g, s.gpios[at(g)].mode); });
    call("setGpoDigital", [&] { d.setGpoDigital(g, s.gpios[at(g)].output); });
  }
  for (int ch = 0; ch < d.getChannelCount() && at(ch) < s.channels.size(); ++ch) {
    const ChannelSettings& c = s.channels[at(ch)];
    call("setChannelCustomName", [&] { d.setChannelCustomName(ch, c.customName); });
    if (c.gain && d.isGainSupported(ch) && !d.isGainReadOnly(ch)) call("setGain", [&] { d.setGain(ch, *c.gain); });
    if (c.driveMode && d.isDriveModeSupported(ch, *c.driveMode))
      call("setDriveMode", [&] { d.setDriveMode(ch, *c.driveMode); });
    call("setMute", [&] { d.setMute(ch, c.mute); });
    call("setLevel", [&] { d.setLevel(ch, c.level); });
    if (c.trim && d.isTrimSupported()) call("setTrim", [&] { d.setTrim(ch, *c.trim); });
    if (c.polarity && d.isPolaritySupported()) call("setPolarity", [&] { d.setPolarity(ch, *c.polarity); });
    for (int t = 0; t < CHANNEL_TYPE_COUNT; ++t) {
      const ChannelType type = channelType(t);
      if (const auto& delay = c.delays[at(t)]; delay && d.isDelaySupported(type)) {
        call("setDelay", [&] { d.setDelay(type, ch, delay->ms); });
        call("setDelayBypass", [&] { d.setDelayBypass(type, ch, delay->bypass); });
      }
      const auto& bank = c.eq[at(t)];
      for (int f = 0; f < d.getEqFilterCount(type) && at(f) < bank.size(); ++f)
        call("setEqFilter", [&] { d.setEqFilter(type, ch, f, bank[at(f)]); });
    }
    if (c.routing && !d.getInputSources().empty()) {
      for (int r = 0; r < ROUTING_COUNT; ++r)
        call("setSelectedInputSources", [&] { d.setSelectedInputSources(ch, r, (*c.routing)[at(r)]); });
    }
    call("setLoad", [&] {
      LoadState load = d.getLoad(ch);
      load.pilotActive = c.load.pilotActive;
      load.pilotFrequency = c.load.pilotFrequency;
      load.pilotLevel = c.load.pilotLevel;
      load.thresholdMin = c.load.thresholdMin;
      load.thresholdMax = c.load.thresholdMax;
      load.thresholdMinEol = c.load.thresholdMinEol;
      load.thresholdMaxEol = c.load.thresholdMaxEol;
      d.setLoad(ch, load);
    });
    call("setSignalGenerator", [&] { d.setSignalGenerator(ch, c.signalGenerator); });
    for (int f = 0; f < CHANNEL_FLAGS && at(f) < c.flagCollect.size(); ++f) {
      const auto flag = static_cast<ChannelFlag>(f);
      if (d.isChannelFlagAvailable(flag) && d.isChannelFlagCollectSupported(flag))
        call("setChannelFlagCollect", [&] { d.setChannelFlagCollect(ch, flag, c.flagCollect[at(f)]); });
    }
  }
  return refused;
}

std::string driverSettingsText(const DriverSettings& s) {
  std::string out;
  out.reserve(4096 + 2560 * s.channels.size());
  {
    ObjectText o(out);
    o.text("format", DRIVER_SETTINGS_FORMAT);
    o.integer("version", DRIVER_SETTINGS_VERSION);
    o.text("model", s.model);
    o.text("name", s.name);
    o.integer("deviceIntId", s.deviceIntId);
    if (s.frontPanelLock) o.boolean("frontPanelLock", *s.frontPanelLock);
    if (s.frontPanelLockPin) o.integer("frontPanelLockPin", *s.frontPanelLockPin);
    if (s.power) o.boolean("power", *s.power);
    if (s.powerOnDelay) o.number("powerOnDelay", *s.powerOnDelay);
    if (s.breaker) o.number("breaker", *s.breaker);
    if (s.sampleRate) o.integer("sampleRate", *s.sampleRate);
    if (s.networkMode) o.integer("networkMode", *s.networkMode);
    o.text("startUpPresetSlot", s.startUpPresetSlot);
    if (s.failover) {
      ObjectText failover(o.key("failover"));
      failover.integer("failoverTime", s.failover->failoverTime);
      failover.integer("fallbackTime", s.failover->fallbackTime);
      failover.integer("type", s.failover->type);
    }
    if (s.collectedErrorHold) o.boolean("collectedErrorHold", *s.collectedErrorHold);
    appendBools(o.key("deviceFlagCollect"), s.deviceFlagCollect);
    appendList(o.key("gpios"), s.gpios, [](std::string& out, const GpioSettings& g) {
      ObjectText gpio(out);
      gpio.integer("mode", g.mode);
      gpio.boolean("output", g.output);
    });
    appendList(o.key("channels"), s.channels, appendChannel);
  }
  return out;
}

void checkDriverSettingsHeader(const SettingsJson& j) { checkHeader(TreeNode(j)); }

DriverSettings driverSettingsFromJson(const SettingsJson& j, const FennikDevice& like) {
  return driverSettingsFromJson(j, like, readDriverSettings(like));
}

DriverSettings driverSettingsFromJson(const SettingsJson& j, const FennikDevice& like, DriverSettings base) {
  return readDocument(TreeNode(j), like, std::move(base));
}

DriverSettings driverSettingsFromDom(const simdjson::dom::element& document, const FennikDevice& like,
                                     DriverSettings base) {
  return readDocument(DomNode(document), like, std::move(base));
}

}  // namespace fennik::devices
