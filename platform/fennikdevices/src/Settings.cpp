// What a simulated device keeps, what it starts with, and how it answers a
// written value.

#include "NetworkState.h"

#include <fmt/format.h>
#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>

namespace fennik::devices::sim {

DriverSignal signalOf(P p) {
  switch (p) {
    case P::Name:
    case P::DeviceIntId:
      return DriverSignal::DeviceInfo;
    case P::Identify:
      return DriverSignal::Identify;
    case P::PanelLock:
      return DriverSignal::FrontPanelLock;
    case P::PanelPin:
      return DriverSignal::FrontPanelLockPin;
    case P::Power:
    case P::PowerOnDelay:
    case P::Breaker:
      return DriverSignal::Power;
    case P::SampleRate:
    case P::NetworkMode:
    case P::IpMode:
    case P::IpConfiguration:
      return DriverSignal::Network;
    case P::GpioMode:
    case P::Gpo:
      return DriverSignal::Gpio;
    case P::CustomName:
      return DriverSignal::Count;  // has its own per-channel signal
    case P::SpeakerSetting:
      return DriverSignal::SpeakerSetting;
    case P::ActivePreset:
    case P::StartUpPreset:
      return DriverSignal::Preset;
    case P::Gain:
      return DriverSignal::Gain;
    case P::DriveMode:
      return DriverSignal::DriveMode;
    case P::Mute:
    case P::Level:
    case P::Trim:
    case P::Polarity:
      return DriverSignal::Audio;
    case P::Delay:
    case P::DelayBypass:
      return DriverSignal::Delay;
    case P::Eq:
      return DriverSignal::Eq;
    case P::Routing:
      return DriverSignal::InputRouting;
    case P::Failover:
      return DriverSignal::Failover;
    case P::LoadSettings:
      return DriverSignal::Load;
    case P::SignalGenerator:
      return DriverSignal::SignalGenerator;
    case P::DeviceCollect:
    case P::ChannelCollect:
    case P::ErrorHold:
    case P::PanelCollect:
      return DriverSignal::State;
    case P::PanelJson:
      return DriverSignal::DeviceInfo;
  }
  return DriverSignal::Count;
}

int indexOf(const Key& key) {
  switch (key.p) {
    case P::GpioMode:
    case P::Gpo:
    case P::CustomName:
    case P::SpeakerSetting:
    case P::Gain:
    case P::DriveMode:
    case P::Mute:
    case P::Level:
    case P::Trim:
    case P::Polarity:
    case P::Routing:
    case P::LoadSettings:
    case P::SignalGenerator:
    case P::ChannelCollect:
      return key.a;
    case P::Delay:
    case P::DelayBypass:
    case P::Eq:
      return key.b;
    default:
      return -1;
  }
}

namespace {

// Collects a fresh device's settings in any order; the last value given for
// a key counts.
class SettingsBuilder {
 public:
  // Not inlined: GCC 12 takes the move of a variant made from a constant
  // for a read of its string member (-Wmaybe-uninitialized).
  [[gnu::noinline]] void set(const Key& key, Value value) { entries_.emplace_back(key, std::move(value)); }
  ParamMap build() {
    std::stable_sort(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<Key> keys;
    std::vector<Value> values;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      if (i + 1 < entries_.size() && entries_[i + 1].first == entries_[i].first) continue;
      keys.push_back(entries_[i].first);
      values.push_back(std::move(entries_[i].second));
    }
    return ParamMap(std::make_shared<const std::vector<Key>>(std::move(keys)), std::move(values));
  }

 private:
  std::vector<std::pair<Key, Value>> entries_;
};

}  // namespace

static ParamMap buildInitialSettings(const DeviceModel& model) {
  SettingsBuilder m;
  m.set({P::Name}, std::string());
  m.set({P::DeviceIntId}, 0);
  m.set({P::Identify}, false);
  m.set({P::PanelLock}, false);
  m.set({P::PanelPin}, static_cast<int>(model.pinRange.minimum));
  m.set({P::Power}, true);
  m.set({P::PowerOnDelay}, model.powerOnDelay.minimum);
  m.set({P::Breaker}, model.breaker.minimum);
  m.set({P::SampleRate}, 0);
  m.set({P::NetworkMode}, 1);
  m.set({P::IpMode}, 1);
  m.set({P::IpConfiguration}, std::string());
  m.set({P::ActivePreset}, std::string());
  m.set({P::StartUpPreset}, std::string());
  m.set({P::ErrorHold}, false);
  m.set({P::Failover},
        FailoverConfig{2000, 5000, model.failoverTypes.empty() ? 0 : model.failoverTypes.front(), 100, 60000});
  for (int g = 0; g < model.gpioCount; ++g) {
    m.set({P::GpioMode, g}, 0);
    m.set({P::Gpo, g}, false);
  }
  for (int f = 0; f < static_cast<int>(DeviceFlag::Count); ++f) m.set({P::DeviceCollect, f}, false);
  for (int ch = 0; ch < model.channelCount; ++ch) {
    m.set({P::CustomName, ch}, std::string());
    m.set({P::SpeakerSetting, ch}, std::string());
    m.set({P::Gain, ch}, std::clamp(32.0, model.gain.minimum, model.gain.maximum));
    m.set({P::DriveMode, ch}, model.driveModes.empty() ? 0 : model.driveModes.front());
    m.set({P::Mute, ch}, false);
    m.set({P::Level, ch}, 0.0);
    m.set({P::Trim, ch}, 0.0);
    m.set({P::Polarity, ch}, false);
    m.set({P::Routing, ch, 0}, std::vector<int>{0});
    m.set({P::Routing, ch, 1}, std::vector<int>{});
    m.set({P::LoadSettings, ch}, LoadState{});
    m.set({P::SignalGenerator, ch}, SignalGeneratorState{});
    for (int type = 0; type < 3; ++type) {
      if (!model.delaySupported[static_cast<std::size_t>(type)]) continue;
      m.set({P::Delay, type, ch}, 0.0);
      m.set({P::DelayBypass, type, ch}, false);
      for (int f = 0; f < model.eqFiltersPerBank; ++f) m.set({P::Eq, type, ch, f}, EqFilter{});
    }
    for (int f = 0; f < static_cast<int>(ChannelFlag::Count); ++f) m.set({P::ChannelCollect, ch, f}, false);
  }
  return m.build();
}

ParamMap initialSettings(const std::shared_ptr<const DeviceModel>& model) {
  // Built once per model and copied: building sorts a few hundred settings,
  // and a show opens a thousand drivers at once. The copies share the
  // model's key list; only their values are their own.
  struct Built {
    std::weak_ptr<const DeviceModel> model;
    ParamMap settings;
  };
  static std::mutex mutex;
  static std::map<const DeviceModel*, Built> built;
  std::lock_guard lock(mutex);
  auto it = built.find(model.get());
  // An expired entry may name another model that took the same address.
  if (it == built.end() || it->second.model.expired()) {
    std::erase_if(built, [](const auto& entry) { return entry.second.model.expired(); });
    it = built.insert_or_assign(model.get(), Built{model, buildInitialSettings(*model)}).first;
  }
  return it->second.settings;
}

Measurements initialMeasurements(const DeviceModel& model) {
  Measurements m;
  const auto channels = static_cast<std::size_t>(model.channelCount);
  m.meters.resize(channels);
  m.loads.resize(channels);
  m.channelFlags.resize(channels);
  m.speakerIncorrect.resize(channels, false);
  m.firmware = model.firmware;
  m.firmwareDetails = fmt::format("{} firmware {}, DSP 1.0", model.model, model.firmware);
  return m;
}

namespace {

Value clampDouble(const Value& v, double lo, double hi) { return std::clamp(std::get<double>(v), lo, hi); }

bool validChannel(const DeviceModel& model, int channel) { return channel >= 0 && channel < model.channelCount; }

}  // namespace

std::optional<Value> accept(const DeviceModel& model, const Key& key, const Value& value) {
  // A value of the wrong kind never reaches a device: the driver builds them.
  switch (key.p) {
    case P::PanelPin: {
      const int pin = std::get<int>(value);
      if (pin < model.pinRange.minimum || pin > model.pinRange.maximum) return std::nullopt;
      return value;
    }
    case P::PowerOnDelay:
      return clampDouble(value, model.powerOnDelay.minimum, model.powerOnDelay.maximum);
    case P::Breaker:
      return clampDouble(value, model.breaker.minimum, model.breaker.maximum);
    case P::Gain:
      if (!model.isGainSupported(key.a)) return std::nullopt;
      return clampDouble(value, model.gain.minimum, model.gain.maximum);
    case P::DriveMode:
      if (std::find(model.driveModes.begin(), model.driveModes.end(), std::get<int>(value)) == model.driveModes.end())
        return std::nullopt;
      return value;
    case P::Level:
      return clampDouble(value, -80.0, 6.0);
    case P::Trim:
      return clampDouble(value, -30.0, 6.0);
    case P::Delay:
      return clampDouble(value, 0.0, model.delayMaxMs);
    case P::GpioMode:
      if (key.a < 0 || key.a >= model.gpioCount) return std::nullopt;
      return std::clamp(std::get<int>(value), 0, 2);
    case P::SignalGenerator: {
      auto s = std::get<SignalGeneratorState>(value);
      s.levelInDb = std::clamp(s.levelInDb, -60.0, 10.0);
      s.frequencyInHz = std::clamp(s.frequencyInHz, 20.0, 20000.0);
      return s;
    }
    case P::Failover: {
      auto f = std::get<FailoverConfig>(value);
      if (std::find(model.failoverTypes.begin(), model.failoverTypes.end(), f.type) == model.failoverTypes.end())
        return std::nullopt;
      f.failoverTime = std::clamp(f.failoverTime, f.timeMinimum, f.timeMaximum);
      f.fallbackTime = std::clamp(f.fallbackTime, f.timeMinimum, f.timeMaximum);
      return f;
    }
    case P::CustomName:
    case P::Mute:
    case P::Polarity:
    case P::SpeakerSetting:
    case P::LoadSettings:
    case P::Routing:
    case P::ChannelCollect:
      if (!validChannel(model, key.a)) return std::nullopt;
      return value;
    default:
      return value;
  }
}

}  // namespace fennik::devices::sim
