#include "custom/basedevice/BaseDevice.h"

#include "custom/basedevice/DriverConversions.h"

#include "qor/server/entities/FtLabel.h"
#include "qor/server/entities/FtOnline.h"
#include "qor/server/entities/FtSpeakerSetting.h"
#include "qor/server/services/FtOnlineService.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/service/TimerService.h"

#include <filesystem>

namespace qor::server {

using fennik::server::getLogger;
using fennik::server::MODULE_LOGGER;
using fennik::server::Uuid;

namespace {
constexpr int SPEAKER_SETTING_CHECK_MS = 5000;
}

BaseDevice::BaseDevice(std::shared_ptr<fennik::server::Database> db, std::shared_ptr<fennik::server::EntityLoop> loop,
                       std::shared_ptr<fennik::server::ServiceResolver> services)
    : Service(std::move(db), std::move(loop), std::move(services)) {}

BaseDevice::~BaseDevice() {
  for (auto& [id, list] : connections_) {
    for (auto& c : list) c.disconnect();
  }
  for (auto& [device, list] : retired_) {
    for (auto& c : list) c.disconnect();
  }
}

std::string BaseDevice::jobLabel(const fennik::server::CallSite& where) {
  return std::filesystem::path(where.file_name()).filename().string() + ":" + std::to_string(where.line());
}

BaseDevice::Driver* BaseDevice::driverById(const Uuid& deviceId) {
  Device* device = db()->get<Device>(deviceId);
  return device ? driver(device) : nullptr;
}

void BaseDevice::keep(Device* device, Connection connection) {
  if (device && connection.connected()) connections_[device->id()].push_back(std::move(connection));
}

std::size_t BaseDevice::connectionCount(const Uuid& deviceId) const {
  auto it = connections_.find(deviceId);
  return it == connections_.end() ? 0 : it->second.size();
}

void BaseDevice::toDriver(const Uuid& deviceId, const char* what, const std::function<void(Driver&)>& call) {
  Driver* d = driverById(deviceId);
  if (!d) return;
  try {
    call(*d);
  } catch (const std::exception& e) {
    getLogger(MODULE_LOGGER)->error("{} failed: {}", what, e.what());
  }
}

void BaseDevice::disconnectAllDriverSignals(Device* device) {
  if (!device) return;
  if (auto it = connections_.find(device->id()); it != connections_.end()) {
    for (auto& c : it->second) c.disconnect();
    connections_.erase(it);
  }
  if (auto it = retired_.find(device); it != retired_.end()) {
    for (auto& c : it->second) c.disconnect();
    retired_.erase(it);
  }
}

void BaseDevice::createAllFeatures(Device* device) {
  // The label first: the other features link to it.
  createFtLabel(device);
  createFtDeviceInfo(device);
  createFtPower(device);
  createFtOnline(device);
  createFtPreset(device);
  createFtConnector(device);
  createFtSpeakerSetting(device);
  createFtDeviceState(device);
  createFtGPIO(device);
  createFtNetwork(device);
  createFtAudio(device);
}

void BaseDevice::connectAllFeatures(Device* device) {
  connectFtLabel(device);
  connectFtDeviceInfo(device);
  connectFtPower(device);
  connectFtOnline(device);
  connectFtPreset(device);
  connectFtConnector(device);
  connectFtSpeakerSetting(device);
  connectFtDeviceState(device);
  connectFtGPIO(device);
  connectFtNetwork(device);
  connectFtAudio(device);
}

void BaseDevice::destroyAllFeatures(Device* device) {
  destroyFtOnline(device);
  destroyFtPower(device);
  destroyFtPreset(device);
  destroyFtDeviceInfo(device);
  destroyFtLabel(device);
  destroyFtConnector(device);
  destroyFtSpeakerSetting(device);
  destroyFtDeviceState(device);
  destroyFtGPIO(device);
  destroyFtNetwork(device);
  destroyFtAudio(device);
}

FtLabel* BaseDevice::tryGetLabelByIndex(Device* device, int index) {
  if (!device || !device->getLabel() || index < 0) return nullptr;
  const auto& children = device->getLabel()->childrens();
  if (children.empty() || static_cast<std::size_t>(index) >= children.size()) return nullptr;
  return children[static_cast<std::size_t>(index)];
}

void BaseDevice::writeOnlineFromDriver(FtOnlineService* service, FtOnline* online, Driver* d, bool withMacAddress) {
  if (!service || !online || !d) return;
  service->setFrontPanelLockSupported(online, d->isFrontPanelLockSupported(), false);
  service->setFrontPanelLock(online, d->getFrontPanelLock(), true);
  service->setFrontPanelLockPinSupported(online, d->isFrontPanelLockPinSupported(), false);
  service->setFrontPanelLockPin(online, d->getFrontPanelLockPin(), true);
  const auto range = d->getFrontPanelLockPinRange();
  service->setFrontPanelLockPinMin(online, range.minimum, false);
  service->setFrontPanelLockPinMax(online, range.maximum, false);
  service->setIsIpAddressSupported(online, d->isIpAddressSupported(), false);
  service->setIpAddress(online, d->getIpAddress(), true);
  service->setIsMacAddressSupported(online, d->isMacAddressSupported(), false);
  if (withMacAddress) service->setMacAddress(online, d->getMacAddress(), true);
  service->setIsIdentifyActive(online, d->isIdentifyActive(), true);
}

std::string BaseDevice::getLinkSpeedString(int mbit) {
  if (mbit < 1000) return std::to_string(mbit) + " MBit";
  return std::to_string(mbit / 1000) + " GBit";
}

std::string getChannelShortName(int index, std::vector<std::string> names, FtBridgeMode mode) {
  if (names.empty()) return {};
  const int n = static_cast<int>(names.size());
  auto at = [&](int i) -> const std::string& { return names[static_cast<std::size_t>(((i % n) + n) % n)]; };
  switch (mode) {
    case FtBridgeMode::INDIVIDUAL:
      return at(index);
    case FtBridgeMode::PARALLEL:
    case FtBridgeMode::BRIDGED:
      return at(index) + "-" + at(index + 1);
    case FtBridgeMode::PARABRIDGED:
      return at(index) + "-" + at(index + 3);
    case FtBridgeMode::DISABLED:
      return "-";
    default:
      getLogger(MODULE_LOGGER)->error("Unknown FtBridgeMode is used");
      return {};
  }
}

void BaseDevice::loaded() {
  // Loaded again without an unload: one check keeps running, not two.
  cancelCheckTimer();
  checking_ = true;
  armCheckTimer();
}

void BaseDevice::loadedFinished() {
  // The closed project's connections are disconnected after the open, a
  // slice at a time in the loop's background lane: user requests go first.
  if (!retired_.empty()) disconnectRetiredInSlices();
}

void BaseDevice::disconnectRetiredInSlices() {
  constexpr std::size_t DEVICES_PER_SLICE = 50;
  std::weak_ptr<bool> alive = alive_;
  const Uuid key = fennik::server::random_uuid();
  loop()->post(
      key, key, "BaseDevice::disconnectRetired",
      [this, alive](const std::shared_ptr<fennik::server::EntityContext>&) {
        if (alive.expired()) return;
        for (std::size_t n = 0; n < DEVICES_PER_SLICE && !retired_.empty(); ++n) {
          for (auto& c : retired_.begin()->second) c.disconnect();
          retired_.erase(retired_.begin());
        }
        if (!retired_.empty()) disconnectRetiredInSlices();
      },
      fennik::server::JobLoop::Lane::Background);
}

void BaseDevice::unload() {
  checking_ = false;
  cancelCheckTimer();
  // Disconnecting a show's few hundred thousand connections one by one
  // took a tenth of opening the next one.
  for (auto& [id, list] : connections_) {
    if (const Device* device = db()->get<Device>(id)) {
      auto& kept = retired_[device];
      kept.insert(kept.end(), list.begin(), list.end());
    } else {
      for (auto& c : list) c.disconnect();
    }
  }
  connections_.clear();
}

void BaseDevice::cancelCheckTimer() {
  if (checkTimer_ == Uuid{}) return;
  if (auto timers = service<fennik::server::TimerService>()) timers->cancelTimeout(checkTimer_);
  checkTimer_ = Uuid{};
}

void BaseDevice::armCheckTimer() {
  auto timers = service<fennik::server::TimerService>();
  if (!timers) {
    getLogger(MODULE_LOGGER)->warn("{}: no timer service, speaker settings are not checked", serviceName());
    return;
  }
  std::weak_ptr<bool> alive = alive_;
  checkTimer_ =
      timers->createTimeout(SPEAKER_SETTING_CHECK_MS, jobLabel(fennik::server::CallSite::current()), [this, alive] {
        if (!alive.expired()) timerMethodCheckFtSpeakerSetting();
      });
}

void BaseDevice::timerMethodCheckFtSpeakerSetting() {
  if (!checking_) return;
  for (Device* device : devices()) checkFtSpeakerSetting(device);
  armCheckTimer();
}

}  // namespace qor::server
