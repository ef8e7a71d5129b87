#include "qor/devicediscovery/DeviceDiscoveryService.h"

#include "qor/devicediscovery/DiscoveredDevice.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/loop/QueuedAccessor.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/ServiceResolver.h"

#include <fmt/format.h>

#include <cctype>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

namespace qor::server {

namespace {

auto discoveryLog() { return fennik::server::getLogger(fennik::server::HOST_LOGGER); }

std::vector<std::string_view> versionParts(std::string_view version) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (true) {
    const auto dot = version.find('.', start);
    parts.push_back(version.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
    if (dot == std::string_view::npos) return parts;
    start = dot + 1;
  }
}

std::optional<unsigned long long> number(std::string_view part) {
  if (part.empty() || part.size() > 18) return std::nullopt;
  unsigned long long value = 0;
  for (char c : part) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    value = value * 10 + static_cast<unsigned long long>(c - '0');
  }
  return value;
}

std::string deviceIdText(const FoundDevice& found) {
  return found.hasDeviceId ? fmt::format("{:03}", found.deviceIntId) : std::string();
}

}  // namespace

// Reports from the source's thread wait here for the loop. Only the latest
// report per device counts; one job is queued while any report waits.
struct DeviceDiscoveryService::Inbox {
  std::mutex mutex;
  std::map<std::string, std::optional<FoundDevice>> pending;
  std::vector<std::string> order;
  bool queued = false;
};

DeviceDiscoveryService::DeviceDiscoveryService(std::shared_ptr<fennik::server::Database> db,
                                               std::shared_ptr<fennik::server::EntityLoop> loop,
                                               std::shared_ptr<fennik::server::ServiceResolver> services,
                                               std::shared_ptr<DiscoverySource> source)
    : Service(std::move(db), std::move(loop), std::move(services)),
      source_(std::move(source)),
      inbox_(std::make_shared<Inbox>()) {}

DeviceDiscoveryService::~DeviceDiscoveryService() { stop(); }

void DeviceDiscoveryService::start() {
  if (!source_) return;
  auto deliver = [inbox = inbox_, loop = loop()](const std::string& id, std::optional<FoundDevice> report) {
    std::lock_guard lock(inbox->mutex);
    auto [it, inserted] = inbox->pending.insert_or_assign(id, std::move(report));
    if (inserted) inbox->order.push_back(id);
    if (inbox->queued) return;
    inbox->queued = true;
    loop->post("DeviceDiscoveryService::applyPending", [](const std::shared_ptr<fennik::server::EntityContext>& c) {
      if (auto self = c->services()->get<DeviceDiscoveryService>()) self->applyPending();
    });
  };
  source_->start({[deliver](const FoundDevice& found) { deliver(found.physicalDeviceId, found); },
                  [deliver](const std::string& id) { deliver(id, std::nullopt); }});
  discoveryLog()->info("Device discovery started");
}

void DeviceDiscoveryService::stop() {
  if (source_) source_->stop();
}

void DeviceDiscoveryService::startRefreshDiscoveredDevices() {
  discoveryLog()->info("Searching the network for devices");
  if (source_) source_->search();
}

void DeviceDiscoveryService::applyPending() {
  std::map<std::string, std::optional<FoundDevice>> pending;
  std::vector<std::string> order;
  {
    std::lock_guard lock(inbox_->mutex);
    pending.swap(inbox_->pending);
    order.swap(inbox_->order);
    inbox_->queued = false;
  }
  std::set<std::string> models;
  for (const auto& id : order) {
    const auto& report = pending.at(id);
    if (auto old = known_.find(id); old != known_.end()) models.insert(old->second.model);
    if (report) {
      models.insert(report->model);
      seen(*report);
    } else {
      lost(id);
    }
  }
  for (const auto& model : models) updateFirmwareRule(model);
}

void DeviceDiscoveryService::seen(const FoundDevice& found) {
  known_.insert_or_assign(found.physicalDeviceId, found);
  list(found);
}

void DeviceDiscoveryService::lost(const std::string& physicalDeviceId) {
  if (known_.erase(physicalDeviceId) == 0) return;
  db()->deleteEntity(DiscoveredDevice::idFor(physicalDeviceId));
  discoveryLog()->debug("Device {} left the network", physicalDeviceId);
}

DiscoveredDevice* DeviceDiscoveryService::list(const FoundDevice& found) {
  const auto id = DiscoveredDevice::idFor(found.physicalDeviceId);
  DiscoveredDevice* device = db()->get<DiscoveredDevice>(id);
  const bool isNew = device == nullptr;
  std::shared_ptr<DiscoveredDevice> created;
  if (isNew) {
    created = DiscoveredDevice::createDefaultInitialized(id);
    device = created.get();
  }
  // Reported values arrive as external writes: only real changes reach clients.
  device->setPhysicalDeviceId(found.physicalDeviceId, true);
  device->setDeviceType(found.model, true);
  device->setName(found.name, true);
  device->setHasDeviceId(found.hasDeviceId, true);
  device->setDeviceId(deviceIdText(found), true);
  device->setIpaddress(found.ipAddress, true);
  device->setFirmware(found.firmware, true);
  if (isNew) {
    db()->add(std::move(created));
    discoveryLog()->debug("Found {} {} ({})", found.model, found.physicalDeviceId, found.name);
  }
  return device;
}

void DeviceDiscoveryService::updateFirmwareRule(const std::string& model) {
  std::string newest;
  for (const auto& [id, found] : known_) {
    if (found.model == model && !found.firmware.empty() && (newest.empty() || isOlderFirmware(newest, found.firmware)))
      newest = found.firmware;
  }
  for (const auto& [id, found] : known_) {
    if (found.model != model) continue;
    if (auto* device = db()->get<DiscoveredDevice>(DiscoveredDevice::idFor(id))) {
      device->setFirmwareUpdateRequired(!found.firmware.empty() && isOlderFirmware(found.firmware, newest), true);
    }
  }
}

void DeviceDiscoveryService::loaded() {
  std::set<std::string> models;
  for (const auto& [id, found] : known_) {
    list(found);
    models.insert(found.model);
  }
  for (const auto& model : models) updateFirmwareRule(model);
}

bool DeviceDiscoveryService::isOlderFirmware(const std::string& version, const std::string& than) {
  if (version.empty() || than.empty()) return false;
  const auto a = versionParts(version);
  const auto b = versionParts(than);
  for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
    // A missing part counts as zero: "1.2" and "1.2.0" are the same version.
    const std::string_view pa = i < a.size() ? a[i] : std::string_view("0");
    const std::string_view pb = i < b.size() ? b[i] : std::string_view("0");
    const auto na = number(pa);
    const auto nb = number(pb);
    if (na && nb) {
      if (*na != *nb) return *na < *nb;
    } else if (pa != pb) {
      return pa < pb;
    }
  }
  return false;
}

}  // namespace qor::server
