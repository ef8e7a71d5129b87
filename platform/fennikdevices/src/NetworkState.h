#pragma once
// Inside the simulated network: the settings store shared by devices and
// drivers, the virtual devices, the driver sessions and the event queue.
// Everything here is guarded by NetworkState::mutex; signals are emitted only
// after the mutex is released, on the network's thread.

#include "fennik/devices/DeviceModel.h"
#include "fennik/devices/FennikDevice.h"
#include "fennik/devices/SimulatedNetwork.h"

#include "SettingStore.h"

#include <absl/container/btree_map.h>

#include <boost/signals2/signal.hpp>

#include <array>
#include <bitset>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <type_traits>
#include <variant>
#include <vector>

namespace fennik::devices::sim {

// Every setting a device keeps, addressed by a key with up to three indexes
// (channel type, channel, filter ...).
enum class P : std::uint8_t {
  Name,
  DeviceIntId,
  Identify,
  PanelLock,
  PanelPin,
  Power,
  PowerOnDelay,
  Breaker,
  SampleRate,
  NetworkMode,
  IpMode,
  IpConfiguration,
  GpioMode,
  Gpo,
  CustomName,
  SpeakerSetting,
  ActivePreset,
  StartUpPreset,
  Gain,
  DriveMode,
  Mute,
  Level,
  Trim,
  Polarity,
  Delay,
  DelayBypass,
  Eq,
  Routing,
  Failover,
  LoadSettings,
  SignalGenerator,
  DeviceCollect,
  ChannelCollect,
  ErrorHold,
  // Panels: the panel JSON and the names of the collected state flags.
  PanelJson,
  PanelCollect,
};

struct Key {
  P p;
  int a = 0;
  int b = 0;
  int c = 0;
  auto operator<=>(const Key&) const = default;
};

// A value kept out of line: a few settings are far larger than the others
// and would widen every setting's slot.
template <class T>
class Boxed {
 public:
  Boxed(const T& value) : value_(std::make_unique<T>(value)) {}  // NOLINT: converts like the value itself
  // Moving copies: a box is never empty, not even one moved from.
  Boxed(const Boxed& other) : value_(std::make_unique<T>(*other.value_)) {}
  Boxed& operator=(const Boxed& other) {
    value_ = std::make_unique<T>(*other.value_);
    return *this;
  }
  const T& operator*() const { return *value_; }

 private:
  std::unique_ptr<T> value_;
};

using Value = std::variant<bool, int, double, std::string, std::vector<int>, EqFilter, FailoverConfig, Boxed<LoadState>,
                           SignalGeneratorState>;
// A device's few hundred settings: the keys are shared by the devices of a
// model, each device keeps its values side by side (about 64 bytes each).
using ParamMap = SettingStore<Key, Value>;

template <class T>
T read(const ParamMap& map, const Key& key, T fallback = T{}) {
  const Value* value = map.find(key);
  if (!value) return fallback;
  if constexpr (std::is_same_v<T, LoadState>) {
    if (const auto* boxed = std::get_if<Boxed<LoadState>>(value)) return **boxed;
  } else {
    if (const T* v = std::get_if<T>(value)) return *v;
  }
  return fallback;
}

DriverSignal signalOf(P p);
// The index a change report names: the channel (or GPIO, flag), or -1.
int indexOf(const Key& key);
// Every setting of a fresh device of the model.
ParamMap initialSettings(const std::shared_ptr<const DeviceModel>& model);
// The device's answer to a written value: clamped, or empty when refused.
std::optional<Value> accept(const DeviceModel& model, const Key& key, const Value& value);

using DeviceFlags = std::bitset<static_cast<std::size_t>(DeviceFlag::Count)>;
using ChannelFlags = std::bitset<static_cast<std::size_t>(ChannelFlag::Count)>;

// What a device measures and reports, as opposed to what it is told.
struct Measurements {
  std::vector<MeterState> meters;
  std::vector<LoadState> loads;
  DeviceFlags deviceFlags;
  std::vector<ChannelFlags> channelFlags;
  std::vector<bool> speakerIncorrect;
  std::string ipAddress;
  std::string macAddress;
  std::array<PortState, PORT_COUNT> ports{};
  std::string firmware;
  std::string firmwareDetails;
};

Measurements initialMeasurements(const DeviceModel& model);

// The part of a driver the network reaches: its view of the device and its
// signals. Shared, so a report in flight never outlives it.
struct DriverCore {
  explicit DriverCore(std::shared_ptr<const DeviceModel> m);

  std::shared_ptr<const DeviceModel> model;
  std::string physicalId;
  ParamMap settings;
  // Writes of this driver not yet answered by the device, per setting. While
  // a setting has one, the driver keeps its own newest value: a report of an
  // earlier write must not undo it, and a save made before the device
  // answers (or when it never does, unplugged) keeps what the user set.
  absl::btree_map<Key, int> writesInFlight;
  Measurements measured;
  bool wantOnline = false;
  bool read = true;
  bool online = false;
  std::uint64_t epoch = 0;

  // A new session (or none): whatever is still on its way belongs to the
  // old one and is dropped on arrival, so it is no longer waited for.
  std::uint64_t newEpoch() {
    writesInFlight.clear();
    return ++epoch;
  }

  boost::signals2::signal<void(int, float)> progress;
  boost::signals2::signal<void(int, float, const std::string&)> firmware;
  std::array<boost::signals2::signal<void(int)>, static_cast<std::size_t>(DriverSignal::Count)> changed;
  std::vector<std::unique_ptr<boost::signals2::signal<void()>>> customName;
};

using CorePtr = std::shared_ptr<DriverCore>;

struct VirtualDevice {
  std::string id;
  std::shared_ptr<const DeviceModel> model;
  ParamMap settings;
  Measurements measured;
  bool reachable = true;
  bool firmwareRunning = false;
  std::set<std::pair<SimulatedNetwork::Fault, int>> faults;
  std::vector<CorePtr> sessions;
  std::uint32_t noise = 1;

  bool hasFault(SimulatedNetwork::Fault fault, int channel = -1) const;
};

struct NetworkState {
  using Clock = std::chrono::steady_clock;
  using Emit = std::function<void()>;

  explicit NetworkState(SimulatedNetwork::Mode m);

  // Called with the mutex held.
  std::int64_t nowMs() const;
  void schedule(std::int64_t delayMs, std::function<void()> fn);
  void emit(Emit e) { emits.push_back(std::move(e)); }
  VirtualDevice* find(const std::string& id);
  void emitProgress(const CorePtr& core, int phase, float fraction);
  void emitChanged(const CorePtr& core, DriverSignal group, int index);
  void emitAll(const CorePtr& core);
  // Connection steps of a driver that wants to be online.
  void startConnecting(const CorePtr& core);
  void connectStep(const CorePtr& core, std::uint64_t epoch, int step);
  void dropSession(VirtualDevice& device, const CorePtr& core);
  void disconnect(const CorePtr& core);
  // A setting written through a driver.
  void write(const CorePtr& core, const Key& key, const Value& value);
  void deliver(const CorePtr& core, std::uint64_t epoch, const Key& key, const Value& value);
  void report(VirtualDevice& device, const Key& key);
  void tick();
  // Measures up to TICK_SLICE devices from `first` on (in id order) and
  // schedules the rest as the next event.
  void measureFrom(const std::string& first);
  void measure(VirtualDevice& device);
  void startFirmwareUpdate(const CorePtr& core, const std::string& path);
  // Announcements (see SimulatedNetwork::onAnnouncement).
  SimulatedNetwork::Announcement describe(const VirtualDevice& device) const;
  // Announces the device when what it tells differs from its last
  // announcement, or always when `force` (an answer to a search).
  void announce(const VirtualDevice& device, bool force = false);
  void announceGone(const std::string& id);
  void firmwareStep(const std::string& deviceId, int step, std::string version);

  // Runs one due event (mutex held on entry and exit); false when none is due.
  bool runOneDue(std::unique_lock<std::mutex>& lock, std::int64_t until);
  void threadMain();

  const SimulatedNetwork::Mode mode;
  mutable std::mutex mutex;
  std::condition_variable wake;
  std::multimap<std::pair<std::int64_t, std::uint64_t>, std::function<void()>> events;
  std::uint64_t sequence = 0;
  std::int64_t virtualNow = 0;
  Clock::time_point started = Clock::now();
  std::int64_t latencyMs = 20;
  std::uint64_t writes = 0;
  std::vector<Emit> emits;
  std::map<std::string, std::shared_ptr<const DeviceModel>> models;
  std::map<std::string, std::unique_ptr<VirtualDevice>> devices;
  boost::signals2::signal<void(const SimulatedNetwork::Announcement&)> announced;
  std::map<std::string, SimulatedNetwork::Announcement> lastAnnounced;
  int nextSerial = 1;
  bool running = false;
  bool stopping = false;
  std::thread thread;
};

inline constexpr std::int64_t TICK_MS = 100;
// Devices measured per event: the network's lock is released between slices,
// so a write from the server never waits for a whole meter burst.
inline constexpr std::size_t TICK_SLICE = 32;
inline constexpr std::int64_t STEP_MS = 50;
inline constexpr std::int64_t RETRY_MS = 1000;

}  // namespace fennik::devices::sim
