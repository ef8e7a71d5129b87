#include "fennik/devices/SimulatedNetwork.h"

#include "NetworkState.h"
#include "fennik/devices/SimulatedDriver.h"

#include "fennik/server/core/Logging.h"

#include <fmt/format.h>
#include <pthread.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace fennik::devices {

namespace sim {

namespace {

std::shared_ptr<spdlog::logger> log() { return fennik::server::getLogger(fennik::server::DEVICE_LOGGER); }

// A small deterministic noise source, so meters move without making tests flaky.
double jitter(std::uint32_t& state, double amplitude) {
  state = state * 1664525u + 1013904223u;
  return ((static_cast<double>(state >> 8) / static_cast<double>(1u << 24)) * 2.0 - 1.0) * amplitude;
}

}  // namespace

DriverCore::DriverCore(std::shared_ptr<const DeviceModel> m)
    : model(std::move(m)), settings(initialSettings(model)), measured(initialMeasurements(*model)) {
  for (int ch = 0; ch < model->channelCount; ++ch)
    customName.push_back(std::make_unique<boost::signals2::signal<void()>>());
}

bool VirtualDevice::hasFault(SimulatedNetwork::Fault fault, int channel) const {
  return faults.count({fault, channel}) > 0 || faults.count({fault, -1}) > 0;
}

NetworkState::NetworkState(SimulatedNetwork::Mode m) : mode(m) {}

std::int64_t NetworkState::nowMs() const {
  if (mode == SimulatedNetwork::Mode::Manual) return virtualNow;
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
}

void NetworkState::schedule(std::int64_t delayMs, std::function<void()> fn) {
  events.emplace(std::make_pair(nowMs() + delayMs, sequence++), std::move(fn));
  wake.notify_one();
}

VirtualDevice* NetworkState::find(const std::string& id) {
  auto it = devices.find(id);
  return it == devices.end() ? nullptr : it->second.get();
}

void NetworkState::emitProgress(const CorePtr& core, int phase, float fraction) {
  emit([core, phase, fraction] { core->progress(phase, fraction); });
}

void NetworkState::emitChanged(const CorePtr& core, DriverSignal group, int index) {
  if (group == DriverSignal::Count) return;
  emit([core, group, index] { core->changed[static_cast<std::size_t>(group)](index); });
}

void NetworkState::emitAll(const CorePtr& core) {
  emit([core] {
    for (auto& signal : core->changed) signal(-1);
    for (auto& signal : core->customName) (*signal)();
  });
}

void NetworkState::startConnecting(const CorePtr& core) {
  const auto epoch = core->newEpoch();
  schedule(0, [this, core, epoch] { connectStep(core, epoch, 0); });
}

void NetworkState::connectStep(const CorePtr& core, std::uint64_t epoch, int step) {
  if (core->epoch != epoch || !core->wantOnline) return;
  VirtualDevice* device = find(core->physicalId);
  if (!device || !device->reachable || device->model->model != core->model->model) {
    // Not there (yet): report offline and keep looking, as a driver does.
    if (step > 0 || core->online) emitProgress(core, phase::OFFLINE, 0.0f);
    if (device) dropSession(*device, core);
    core->online = false;
    schedule(RETRY_MS, [this, core, epoch] { connectStep(core, epoch, 0); });
    return;
  }
  switch (step) {
    case 0:
      emitProgress(core, phase::CONNECTING, 0.0f);
      break;
    case 1:
      emitProgress(core, phase::CONNECTING, 1.0f);
      break;
    case 2:
      if (core->read) {
        core->settings = device->settings;
      } else {
        core->settings.forEach([&](const Key& key, const Value& value) {
          if (auto accepted = accept(*device->model, key, value)) device->settings[key] = *accepted;
        });
        core->settings = device->settings;
        announce(*device);
        // Others watching the same device learn what was written.
        for (const auto& other : device->sessions) {
          other->settings = device->settings;
          emitAll(other);
        }
      }
      core->measured = device->measured;
      emitProgress(core, phase::TRANSFERRING, 0.0f);
      break;
    case 3:
      emitProgress(core, phase::TRANSFERRING, 0.5f);
      break;
    case 4:
      emitProgress(core, phase::TRANSFERRING, 1.0f);
      break;
    case 5:
      emitProgress(core, phase::FINISHING, 0.0f);
      break;
    case 6:
      emitProgress(core, phase::FINISHING, 1.0f);
      break;
    default:
      core->online = true;
      if (std::find(device->sessions.begin(), device->sessions.end(), core) == device->sessions.end())
        device->sessions.push_back(core);
      measure(*device);
      core->measured = device->measured;
      emitProgress(core, phase::ONLINE, 1.0f);
      emitAll(core);
      log()->debug("Simulated device {} online ({})", device->id, core->read ? "read" : "written");
      return;
  }
  schedule(STEP_MS, [this, core, epoch, step] { connectStep(core, epoch, step + 1); });
}

void NetworkState::dropSession(VirtualDevice& device, const CorePtr& core) { std::erase(device.sessions, core); }

void NetworkState::disconnect(const CorePtr& core) {
  core->newEpoch();
  core->wantOnline = false;
  if (VirtualDevice* device = find(core->physicalId)) dropSession(*device, core);
  if (core->online) {
    core->online = false;
    emitProgress(core, phase::OFFLINE, 0.0f);
  }
}

void NetworkState::write(const CorePtr& core, const Key& key, const Value& value) {
  ++writes;
  // The driver holds what it is told at once (clamped as the device would).
  // Offline it is written to the device when the driver goes online writing;
  // online it travels now, and the device's answer corrects the driver.
  if (auto accepted = accept(*core->model, key, value)) core->settings[key] = *accepted;
  if (!core->online) return;
  ++core->writesInFlight[key];
  const auto epoch = core->epoch;
  schedule(latencyMs, [this, core, epoch, key, value] { deliver(core, epoch, key, value); });
}

void NetworkState::deliver(const CorePtr& core, std::uint64_t epoch, const Key& key, const Value& value) {
  if (core->epoch != epoch) return;
  if (auto it = core->writesInFlight.find(key); it != core->writesInFlight.end() && --it->second <= 0)
    core->writesInFlight.erase(it);
  if (!core->online) return;
  VirtualDevice* device = find(core->physicalId);
  if (!device || !device->reachable) return;  // lost on the way, as on a real network
  auto accepted = accept(*device->model, key, value);
  if (!accepted) {
    // The device refuses: it reports what it still has, so the caller sees it.
    log()->debug("Simulated device {} refused a value", device->id);
  } else {
    device->settings[key] = *accepted;
    if (key.p == P::Name || key.p == P::DeviceIntId) announce(*device);
  }
  if (key.p == P::ErrorHold && !std::get<bool>(device->settings[key])) {
    for (auto& flags : device->measured.channelFlags) flags.reset(static_cast<std::size_t>(ChannelFlag::ErrorHold));
  }
  report(*device, key);
}

void NetworkState::report(VirtualDevice& device, const Key& key) {
  const Value* current = device.settings.find(key);
  for (const auto& session : device.sessions) {
    // A driver with a newer write on its way keeps it; the device's answer
    // to that write corrects it.
    if (session->writesInFlight.contains(key)) continue;
    if (current) session->settings[key] = *current;
    if (key.p == P::CustomName) {
      if (key.a >= 0 && static_cast<std::size_t>(key.a) < session->customName.size()) {
        auto core = session;
        const auto channel = static_cast<std::size_t>(key.a);
        emit([core, channel] { (*core->customName[channel])(); });
      }
    } else {
      emitChanged(session, signalOf(key.p), indexOf(key));
    }
  }
}

void NetworkState::measure(VirtualDevice& d) {
  const DeviceModel& model = *d.model;
  using F = SimulatedNetwork::Fault;
  const bool powered = read<bool>(d.settings, {P::Power}, true);
  bool anyChannelWarning = false;
  for (int ch = 0; ch < model.channelCount; ++ch) {
    const auto c = static_cast<std::size_t>(ch);
    const auto gen = read<SignalGeneratorState>(d.settings, {P::SignalGenerator, ch});
    const bool mute = read<bool>(d.settings, {P::Mute, ch});
    const double level = read<double>(d.settings, {P::Level, ch}) + read<double>(d.settings, {P::Trim, ch});
    MeterState& m = d.measured.meters[c];
    const bool signal = powered && gen.active;
    m.input = signal ? gen.levelInDb + jitter(d.noise, 0.2) : -80.0;
    double out = (signal && !mute) ? m.input + level : -80.0;
    m.reduction = out > 0.0 ? out : 0.0;
    m.limit = m.reduction > 0.0;
    m.output = std::max(-80.0, std::min(out, 0.0));
    m.impedanceOpen = d.hasFault(F::LoadOpen, ch);
    m.impedanceShort = d.hasFault(F::LoadShort, ch);
    m.impedance = m.impedanceOpen    ? 999.0
                  : m.impedanceShort ? 0.4
                                     : model.nominalImpedance * (1.0 + jitter(d.noise, 0.01));
    m.impedanceValid = powered;
    LoadState& load = d.measured.loads[c];
    load.impedance = m.impedance;
    load.impedanceValid = m.impedanceValid;
    load.voltage = signal && !mute ? 40.0 * std::pow(10.0, m.output / 20.0) : 0.0;
    load.current = load.impedance > 0.0 ? load.voltage / load.impedance : 0.0;

    ChannelFlags flags;
    flags.set(static_cast<std::size_t>(ChannelFlag::Mute), mute);
    flags.set(static_cast<std::size_t>(ChannelFlag::GainReduction), m.limit);
    flags.set(static_cast<std::size_t>(ChannelFlag::ThermalWarning), d.hasFault(F::Thermal, ch));
    flags.set(static_cast<std::size_t>(ChannelFlag::Protect), m.impedanceShort);
    flags.set(static_cast<std::size_t>(ChannelFlag::LoadMin), m.impedanceShort);
    flags.set(static_cast<std::size_t>(ChannelFlag::LoadMax), m.impedanceOpen);
    flags.set(static_cast<std::size_t>(ChannelFlag::OutputPilotFail), d.hasFault(F::PilotFail, ch));
    flags.set(static_cast<std::size_t>(ChannelFlag::IncorrectSpeakerSetting), d.measured.speakerIncorrect[c]);
    const bool warning = flags.test(static_cast<std::size_t>(ChannelFlag::ThermalWarning)) ||
                         flags.test(static_cast<std::size_t>(ChannelFlag::Protect)) ||
                         flags.test(static_cast<std::size_t>(ChannelFlag::LoadMax)) ||
                         flags.test(static_cast<std::size_t>(ChannelFlag::OutputPilotFail));
    flags.set(static_cast<std::size_t>(ChannelFlag::Warning), warning);
    // An error stays held until reset when the device holds collected errors.
    const bool held = d.measured.channelFlags[c].test(static_cast<std::size_t>(ChannelFlag::ErrorHold));
    flags.set(static_cast<std::size_t>(ChannelFlag::ErrorHold),
              warning || (held && read<bool>(d.settings, {P::ErrorHold})));
    d.measured.channelFlags[c] = flags & model.channelFlags;
    d.measured.channelFlags[c].set(static_cast<std::size_t>(ChannelFlag::IncorrectSpeakerSetting),
                                   flags.test(static_cast<std::size_t>(ChannelFlag::IncorrectSpeakerSetting)));
    d.measured.channelFlags[c].set(static_cast<std::size_t>(ChannelFlag::ErrorHold),
                                   flags.test(static_cast<std::size_t>(ChannelFlag::ErrorHold)));
    anyChannelWarning |= warning;
  }
  DeviceFlags flags;
  flags.set(static_cast<std::size_t>(DeviceFlag::NotReady), !powered);
  flags.set(static_cast<std::size_t>(DeviceFlag::MainsWarning), d.hasFault(F::MainsWarning));
  flags.set(static_cast<std::size_t>(DeviceFlag::NetworkFail), d.hasFault(F::NetworkFail));
  flags.set(static_cast<std::size_t>(DeviceFlag::FanFail), d.hasFault(F::FanFail));
  flags.set(static_cast<std::size_t>(DeviceFlag::PanelUnlocked), !read<bool>(d.settings, {P::PanelLock}));
  flags.set(static_cast<std::size_t>(DeviceFlag::Dsp96k), read<int>(d.settings, {P::SampleRate}) == 1);
  const int networkMode = read<int>(d.settings, {P::NetworkMode});
  flags.set(static_cast<std::size_t>(DeviceFlag::DanteGlitchfree), networkMode == 2 || networkMode == 3);
  flags.set(static_cast<std::size_t>(DeviceFlag::FirmwareUpdate), d.firmwareRunning);
  flags.set(static_cast<std::size_t>(DeviceFlag::DeviceFault), d.hasFault(F::DeviceFault));
  for (int g = 0; g < std::min(model.gpioCount, 3); ++g)
    flags.set(static_cast<std::size_t>(DeviceFlag::Gpio1) + static_cast<std::size_t>(g),
              read<bool>(d.settings, {P::Gpo, g}));
  flags.set(static_cast<std::size_t>(DeviceFlag::Warning), anyChannelWarning || d.hasFault(F::DeviceFault) ||
                                                               d.hasFault(F::FanFail) || d.hasFault(F::MainsWarning) ||
                                                               d.hasFault(F::NetworkFail));
  d.measured.deviceFlags = flags & model.deviceFlags;
}

void NetworkState::tick() {
  measureFrom(std::string());
  schedule(TICK_MS, [this] { tick(); });
}

void NetworkState::measureFrom(const std::string& first) {
  auto it = devices.lower_bound(first);
  for (std::size_t n = 0; it != devices.end() && n < TICK_SLICE; ++it, ++n) {
    auto& device = it->second;
    if (device->sessions.empty() || !device->reachable) continue;
    const auto before = device->measured.deviceFlags;
    const auto channelsBefore = device->measured.channelFlags;
    measure(*device);
    const bool stateChanged = before != device->measured.deviceFlags || channelsBefore != device->measured.channelFlags;
    for (const auto& session : device->sessions) {
      session->measured = device->measured;
      auto core = session;
      emit([core, stateChanged] {
        core->changed[static_cast<std::size_t>(DriverSignal::Meter)](-1);
        core->changed[static_cast<std::size_t>(DriverSignal::Load)](-1);
        if (stateChanged) core->changed[static_cast<std::size_t>(DriverSignal::State)](-1);
      });
    }
  }
  if (it != devices.end()) schedule(0, [this, next = it->first] { measureFrom(next); });
}

void NetworkState::startFirmwareUpdate(const CorePtr& core, const std::string& path) {
  if (!core->online) throw std::runtime_error("The device is not online");
  if (path.empty()) throw std::runtime_error("No firmware file given");
  VirtualDevice* device = find(core->physicalId);
  if (!device || !device->reachable) throw std::runtime_error("The device does not answer");
  if (device->firmwareRunning) throw std::runtime_error("A firmware update is already running");
  if (!device->model->firmwareUpdateSupported) throw std::runtime_error("The device cannot update its firmware");
  device->firmwareRunning = true;
  // The new version is the file's name without folder and extension.
  std::string version = path.substr(path.find_last_of('/') + 1);
  if (auto dot = version.rfind('.'); dot != std::string::npos && dot > 0) version.resize(dot);
  const std::string id = device->id;
  schedule(0, [this, id, version] { firmwareStep(id, 0, version); });
}

void NetworkState::firmwareStep(const std::string& deviceId, int step, std::string version) {
  VirtualDevice* device = find(deviceId);
  if (!device) return;
  constexpr int STEPS = 4;
  auto tell = [&](int state, float fraction, const std::string& message) {
    for (const auto& session : device->sessions) {
      auto core = session;
      emit([core, state, fraction, message] { core->firmware(state, fraction, message); });
    }
  };
  if (!device->reachable) {
    device->firmwareRunning = false;
    return;
  }
  if (step < STEPS) {
    tell(firmware::RUNNING, static_cast<float>(step) / STEPS, "Writing firmware image");
  } else {
    device->firmwareRunning = false;
    if (device->hasFault(SimulatedNetwork::Fault::FirmwareUpdateFails)) {
      tell(firmware::FAILED, 1.0f, "The device rejected the image");
    } else {
      device->measured.firmware = version;
      device->measured.firmwareDetails = fmt::format("{} firmware {}, DSP 1.0", device->model->model, version);
      for (const auto& session : device->sessions) {
        session->measured.firmware = device->measured.firmware;
        session->measured.firmwareDetails = device->measured.firmwareDetails;
        emitChanged(session, DriverSignal::DeviceInfo, -1);
      }
      announce(*device);
      tell(firmware::RUNNING, 1.0f, "Restarting");
      tell(firmware::SUCCEEDED, 1.0f, "Firmware " + version + " is running");
    }
    return;
  }
  schedule(STEP_MS * 4, [this, deviceId, step, version] { firmwareStep(deviceId, step + 1, version); });
}

SimulatedNetwork::Announcement NetworkState::describe(const VirtualDevice& d) const {
  SimulatedNetwork::Announcement a;
  a.physicalId = d.id;
  a.model = d.model->model;
  a.name = read<std::string>(d.settings, {P::Name});
  a.hasDeviceId = true;
  a.deviceIntId = read<int>(d.settings, {P::DeviceIntId});
  a.ipAddress = d.measured.ipAddress;
  a.firmware = d.measured.firmware;
  return a;
}

void NetworkState::announce(const VirtualDevice& device, bool force) {
  if (!device.reachable) return;
  auto a = describe(device);
  auto [it, inserted] = lastAnnounced.try_emplace(device.id, a);
  if (!inserted) {
    if (it->second == a && !force) return;
    it->second = a;
  }
  emit([this, a] { announced(a); });
}

void NetworkState::announceGone(const std::string& id) {
  if (lastAnnounced.erase(id) == 0) return;
  SimulatedNetwork::Announcement a;
  a.physicalId = id;
  a.present = false;
  emit([this, a] { announced(a); });
}

bool NetworkState::runOneDue(std::unique_lock<std::mutex>& lock, std::int64_t until) {
  if (events.empty() || events.begin()->first.first > until) return false;
  auto node = events.extract(events.begin());
  if (mode == SimulatedNetwork::Mode::Manual) virtualNow = std::max(virtualNow, node.key().first);
  node.mapped()();
  std::vector<Emit> out;
  out.swap(emits);
  lock.unlock();
  for (auto& e : out) {
    try {
      e();
    } catch (const std::exception& ex) {
      log()->error("A simulated device's listener failed: {}", ex.what());
    }
  }
  lock.lock();
  return true;
}

void NetworkState::threadMain() {
  // The normal scheduling priority, like the server's threads: this thread
  // holds the network's mutex while it measures, and the loop takes the same
  // mutex to read a driver. At a lower priority it was preempted with the
  // mutex held, and the loop (a fader move behind it) waited for it for
  // milliseconds whenever the cores were busy.
  pthread_setname_np(pthread_self(), "qor-simnet");
  std::unique_lock lock(mutex);
  while (!stopping) {
    if (events.empty()) {
      wake.wait(lock);
      continue;
    }
    const auto due = events.begin()->first.first;
    const auto now = nowMs();
    if (due > now) {
      wake.wait_for(lock, std::chrono::milliseconds(due - now));
      continue;
    }
    runOneDue(lock, now);
  }
}

}  // namespace sim

using sim::NetworkState;

SimulatedNetwork::SimulatedNetwork(Mode mode) : state_(std::make_unique<NetworkState>(mode)) {
  std::lock_guard lock(state_->mutex);
  state_->schedule(sim::TICK_MS, [s = state_.get()] { s->tick(); });
}

std::shared_ptr<SimulatedNetwork> SimulatedNetwork::create(Mode mode) {
  return std::shared_ptr<SimulatedNetwork>(new SimulatedNetwork(mode));
}

SimulatedNetwork::~SimulatedNetwork() { stop(); }

SimulatedNetwork::Mode SimulatedNetwork::mode() const { return state_->mode; }

void SimulatedNetwork::start() {
  std::lock_guard lock(state_->mutex);
  if (state_->mode != Mode::Threaded || state_->running) return;
  state_->running = true;
  state_->stopping = false;
  state_->thread = std::thread([s = state_.get()] { s->threadMain(); });
}

void SimulatedNetwork::stop() {
  {
    std::lock_guard lock(state_->mutex);
    if (!state_->running) return;
    state_->stopping = true;
    state_->wake.notify_all();
  }
  if (state_->thread.joinable()) state_->thread.join();
  std::lock_guard lock(state_->mutex);
  state_->running = false;
}

void SimulatedNetwork::advance(std::chrono::milliseconds by) {
  if (state_->mode != Mode::Manual) throw std::logic_error("advance() is for a manual simulated network");
  std::unique_lock lock(state_->mutex);
  const auto until = state_->virtualNow + by.count();
  while (state_->runOneDue(lock, until)) {
  }
  state_->virtualNow = until;
}

std::chrono::milliseconds SimulatedNetwork::now() const {
  std::lock_guard lock(state_->mutex);
  return std::chrono::milliseconds(state_->nowMs());
}

std::uint64_t SimulatedNetwork::writesReceived() const {
  std::lock_guard lock(state_->mutex);
  return state_->writes;
}

void SimulatedNetwork::setLatency(std::chrono::milliseconds latency) {
  std::lock_guard lock(state_->mutex);
  state_->latencyMs = std::max<std::int64_t>(0, latency.count());
}

void SimulatedNetwork::registerModel(const DeviceModel& model) {
  if (model.model.empty()) throw std::invalid_argument("A device model needs a name");
  std::lock_guard lock(state_->mutex);
  state_->models[model.model] = std::make_shared<const DeviceModel>(model);
}

std::vector<std::string> SimulatedNetwork::models() const {
  std::lock_guard lock(state_->mutex);
  std::vector<std::string> names;
  for (const auto& [name, model] : state_->models) names.push_back(name);
  return names;
}

std::optional<DeviceModel> SimulatedNetwork::model(const std::string& name) const {
  std::lock_guard lock(state_->mutex);
  auto it = state_->models.find(name);
  if (it == state_->models.end()) return std::nullopt;
  return *it->second;
}

std::string SimulatedNetwork::addDevice(const std::string& model, std::string physicalId) {
  std::lock_guard lock(state_->mutex);
  auto it = state_->models.find(model);
  if (it == state_->models.end()) throw std::invalid_argument("Unknown simulated device model '" + model + "'");
  const int serial = state_->nextSerial++;
  if (physicalId.empty()) physicalId = fmt::format("{}-{:04}", model, serial);
  if (state_->devices.count(physicalId)) throw std::invalid_argument("Physical id '" + physicalId + "' is in use");
  auto device = std::make_unique<sim::VirtualDevice>();
  device->id = physicalId;
  device->model = it->second;
  device->settings = sim::initialSettings(it->second);
  device->settings[{sim::P::Name}] = physicalId;
  device->settings[{sim::P::DeviceIntId}] = serial % 1000;
  device->measured = sim::initialMeasurements(*it->second);
  device->measured.ipAddress = fmt::format("169.254.{}.{}", (serial / 250) % 250 + 1, serial % 250 + 1);
  device->measured.macAddress = fmt::format("02:51:00:00:{:02x}:{:02x}", (serial >> 8) & 0xff, serial & 0xff);
  for (int p = 0; p < PORT_COUNT; ++p) {
    if (!it->second->ports[static_cast<std::size_t>(p)]) continue;
    auto& port = device->measured.ports[static_cast<std::size_t>(p)];
    port.ipAddress = fmt::format("169.254.{}.{}", (serial / 250) % 250 + 1 + p * 10, serial % 250 + 1);
    port.macAddress = fmt::format("02:51:00:{:02x}:{:02x}:{:02x}", p, (serial >> 8) & 0xff, serial & 0xff);
    port.status = "Link up";
    port.linkSpeedMbit = it->second->linkSpeedMbit;
  }
  device->noise = static_cast<std::uint32_t>(serial) * 2654435761u;
  state_->devices.emplace(physicalId, std::move(device));
  // A new device introduces itself once it has booted onto the network.
  state_->schedule(state_->latencyMs, [s = state_.get(), physicalId] {
    if (auto* d = s->find(physicalId)) s->announce(*d);
  });
  sim::log()->info("Simulated {} added as {}", model, physicalId);
  return physicalId;
}

bool SimulatedNetwork::removeDevice(const std::string& physicalId) {
  if (!setReachable(physicalId, false)) return false;
  std::lock_guard lock(state_->mutex);
  state_->devices.erase(physicalId);
  return true;
}

bool SimulatedNetwork::setReachable(const std::string& physicalId, bool reachable) {
  std::lock_guard lock(state_->mutex);
  sim::VirtualDevice* device = state_->find(physicalId);
  if (!device) return false;
  if (device->reachable == reachable) return true;
  device->reachable = reachable;
  // Listeners hear of it with the next event the network runs.
  state_->schedule(0, [s = state_.get(), physicalId] {
    auto* d = s->find(physicalId);
    if (d && d->reachable) {
      s->announce(*d);
    } else {
      s->announceGone(physicalId);
    }
  });
  if (!reachable) {
    // Every driver on it falls offline and goes on looking for it.
    auto sessions = std::move(device->sessions);
    device->sessions.clear();
    for (const auto& core : sessions) {
      core->online = false;
      state_->emitProgress(core, phase::OFFLINE, 0.0f);
      const auto epoch = core->newEpoch();
      state_->schedule(sim::RETRY_MS, [s = state_.get(), core, epoch] { s->connectStep(core, epoch, 0); });
    }
  }
  return true;
}

bool SimulatedNetwork::injectFault(const std::string& physicalId, Fault fault, bool active, int channel) {
  std::lock_guard lock(state_->mutex);
  sim::VirtualDevice* device = state_->find(physicalId);
  if (!device) return false;
  if (active) {
    device->faults.insert({fault, channel});
  } else {
    device->faults.erase({fault, channel});
  }
  return true;
}

std::vector<SimulatedNetwork::Listing> SimulatedNetwork::devices() const {
  std::lock_guard lock(state_->mutex);
  std::vector<Listing> result;
  for (const auto& [id, device] : state_->devices) {
    result.push_back(Listing{id, device->model->model, sim::read<std::string>(device->settings, {sim::P::Name}),
                             device->reachable, static_cast<int>(device->sessions.size()),
                             sim::read<bool>(device->settings, {sim::P::Identify})});
  }
  return result;
}

Connection SimulatedNetwork::onAnnouncement(AnnouncementCallback callback) {
  return state_->announced.connect(std::move(callback));
}

void SimulatedNetwork::search() {
  std::lock_guard lock(state_->mutex);
  state_->schedule(state_->latencyMs, [s = state_.get()] {
    for (const auto& [id, device] : s->devices) s->announce(*device, true);
  });
}

bool SimulatedNetwork::renameDevice(const std::string& physicalId, const std::string& name) {
  return changeAtDevice(physicalId, [name](sim::NetworkState& s, sim::VirtualDevice& device) {
    device.settings[{sim::P::Name}] = name;
    s.report(device, {sim::P::Name});
  });
}

bool SimulatedNetwork::setIpAddress(const std::string& physicalId, const std::string& ipAddress) {
  return changeAtDevice(physicalId, [ipAddress](sim::NetworkState& s, sim::VirtualDevice& device) {
    device.measured.ipAddress = ipAddress;
    for (const auto& session : device.sessions) {
      session->measured.ipAddress = ipAddress;
      s.emitChanged(session, DriverSignal::IpAddress, -1);
    }
  });
}

bool SimulatedNetwork::setFirmware(const std::string& physicalId, const std::string& version) {
  return changeAtDevice(physicalId, [version](sim::NetworkState& s, sim::VirtualDevice& device) {
    device.measured.firmware = version;
    for (const auto& session : device.sessions) {
      session->measured.firmware = version;
      s.emitChanged(session, DriverSignal::DeviceInfo, -1);
    }
  });
}

bool SimulatedNetwork::changeAtDevice(const std::string& physicalId,
                                      std::function<void(sim::NetworkState&, sim::VirtualDevice&)> change) {
  std::lock_guard lock(state_->mutex);
  if (!state_->find(physicalId)) return false;
  // Runs as the network's next event, so its reports go out like any other.
  state_->schedule(0, [s = state_.get(), physicalId, change = std::move(change)] {
    if (auto* device = s->find(physicalId)) {
      change(*s, *device);
      s->announce(*device);
    }
  });
  return true;
}

std::vector<std::string> SimulatedNetwork::populateDemo(int perModel) {
  std::vector<std::string> ids;
  for (const auto& name : models()) {
    for (int i = 0; i < perModel; ++i) ids.push_back(addDevice(name));
  }
  return ids;
}

std::unique_ptr<FennikDevice> SimulatedNetwork::createDriver(const std::string& model) {
  std::shared_ptr<const DeviceModel> found;
  {
    std::lock_guard lock(state_->mutex);
    auto it = state_->models.find(model);
    if (it == state_->models.end()) throw std::invalid_argument("Unknown simulated device model '" + model + "'");
    found = it->second;
  }
  return std::make_unique<SimulatedDriver>(shared_from_this(), std::make_shared<sim::DriverCore>(std::move(found)));
}

}  // namespace fennik::devices
