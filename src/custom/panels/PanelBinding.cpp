// PanelService: a panel device's features wired to its driver. A user's
// change (a normal write) goes to the driver; what the driver reports comes
// back through a job on the loop as an external write, so it is not echoed.
#include "custom/basedevice/DriverConversions.h"
#include "custom/panels/PanelService.h"
#include "service/FtPanelService.h"

#include "qor/server/entities/Device.h"
#include "qor/server/entities/FtDeviceInfo.h"
#include "qor/server/entities/FtDeviceState.h"
#include "qor/server/entities/FtNetwork.h"
#include "qor/server/entities/FtOnline.h"
#include "qor/server/entities/FtPanel.h"
#include "qor/server/services/FtDeviceInfoService.h"
#include "qor/server/services/FtDeviceStateService.h"
#include "qor/server/services/FtNetworkService.h"
#include "qor/server/services/FtOnlineService.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/loop/QueuedAccessor.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/ServiceResolver.h"

#include <sstream>

namespace qor::server {

using fennik::devices::PanelFlag;
using fennik::server::getLogger;
using fennik::server::MODULE_LOGGER;
using fennik::server::Uuid;

namespace {

constexpr const char* PANEL_JSON = "panelJson";
constexpr const char* COLLECTED = "collectedStateFlags";

// Keys of the driver-to-entity jobs: one pending job per feature and report.
Uuid reportKey(std::uint8_t n) {
  Uuid key{};
  key.data[14] = 0x50;  // 'P'anel
  key.data[15] = n;
  return key;
}

std::vector<std::string> panelFlagNames() {
  std::vector<std::string> names;
  for (int f = 0; f < static_cast<int>(PanelFlag::Count); ++f)
    names.emplace_back(fennik::devices::panelFlagName(static_cast<PanelFlag>(f)));
  return names;
}

// The collected flags travel as their names, comma-separated.
std::string collectedText(const std::vector<bool>& collect) {
  const auto names = panelFlagNames();
  std::string text;
  for (std::size_t i = 0; i < names.size() && i < collect.size(); ++i) {
    if (!collect[i]) continue;
    if (!text.empty()) text += ',';
    text += names[i];
  }
  return text;
}

std::vector<bool> collectedFlags(const std::string& text) {
  const auto names = panelFlagNames();
  std::vector<bool> collect(names.size(), false);
  std::stringstream in(text);
  std::string name;
  while (std::getline(in, name, ',')) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (names[i] == name) collect[i] = true;
    }
  }
  return collect;
}

}  // namespace

void PanelService::keep(const Uuid& deviceId, boost::signals2::connection connection) {
  panels_[deviceId].connections.emplace_back(std::move(connection));
}

void PanelService::disconnect(const Uuid& deviceId) {
  if (auto it = panels_.find(deviceId); it != panels_.end()) it->second.connections.clear();
}

template <class E>
void PanelService::report(Device* device, E* feature, const Uuid& key,
                          std::function<boost::signals2::connection(Driver&, std::function<void()>)> subscribe,
                          std::function<void(E&, Driver&)> refresh) {
  Driver* d = device ? driver(device->id()) : nullptr;
  if (!d || !feature) return;
  const Uuid featureId = feature->id();
  const Uuid deviceId = device->id();
  std::weak_ptr<bool> alive = alive_;
  auto job = [this, alive, featureId, deviceId, refresh = std::move(refresh)](const auto&) {
    if (alive.expired()) return;
    E* e = db()->template get<E>(featureId);
    Driver* drv = driver(deviceId);
    if (e && drv) refresh(*e, *drv);
  };
  // Runs on the driver's thread: hand the news to the loop and nothing else.
  auto notify = [loop = loop(), featureId, key, job = std::move(job)] {
    loop->post(featureId, key, "PanelBinding.cpp : report", job);
  };
  keep(deviceId, subscribe(*d, std::move(notify)));
}

void PanelService::sendPanelJson(const Uuid& deviceId, const std::string& json) {
  Driver* d = driver(deviceId);
  if (!d) return;
  try {
    d->setProperty(PANEL_JSON, FtPanelService::parsePanelJson(json).dump());
  } catch (const std::invalid_argument& e) {
    getLogger(MODULE_LOGGER)->error("Couldn't parse panel json: {}", e.what());
  }
}

void PanelService::refreshState(Device* device) {
  FtDeviceState* state = device ? device->getDeviceState() : nullptr;
  Driver* d = device ? driver(device->id()) : nullptr;
  auto states = services() ? services()->get<FtDeviceStateService>() : nullptr;
  if (!state || !d || !states) return;
  std::vector<bool> flags;
  for (int f = 0; f < static_cast<int>(PanelFlag::Count); ++f)
    flags.push_back(d->getStateFlag(static_cast<PanelFlag>(f)));
  const std::vector<bool> collect = collectedFlags(d->getProperty(COLLECTED));
  bool error = false;
  for (std::size_t i = 0; i < flags.size(); ++i) error = error || (flags[i] && collect[i]);
  states->setFlagStates(state, flags, true);
  states->setFlagCollectStates(state, collect, true);
  states->setIsCollectedErrorHold(state, d->getCollectedErrorHold(), true);
  states->setError(state, error, true);
}

void PanelService::connect(Device* device) {
  if (!device) return;
  const Uuid deviceId = device->id();
  disconnect(deviceId);
  describeFeatures(device);
  Driver* d = driver(deviceId);
  if (!d) return;
  FtPanel* panel = device->getPanel();
  FtDeviceInfo* info = device->getDeviceInfo();
  FtOnline* online = device->getOnline();
  FtNetwork* network = device->getNetwork();
  FtDeviceState* state = device->getDeviceState();
  auto infos = services()->get<FtDeviceInfoService>();
  auto onlines = services()->get<FtOnlineService>();
  auto states = services()->get<FtDeviceStateService>();

  // The design goes to the driver: the panel it stands for, its name and
  // its panel JSON. What the project file does not keep (the IP mode, the
  // collected flags, error hold) the driver does: it comes into the features.
  d->setPhysicalDeviceId(device->getDeviceId());
  if (info) d->setProperty("name", info->getName());
  if (panel) sendPanelJson(deviceId, panel->getJson());
  if (network && d->getIpMode() != 0)
    services()->get<FtNetworkService>()->setIpMode(network, static_cast<NetworkIPMode>(d->getIpMode()), true);

  // The panel a device stands for is its Device.deviceId (the physical id
  // of the mapping); FtDeviceInfo.deviceId is the short number a device
  // shows and names no panel.
  keep(deviceId, device->onDeviceIdChanged([this, deviceId](const std::string& id, bool external) {
    if (external) return;
    if (Driver* drv = driver(deviceId)) drv->setPhysicalDeviceId(id);
  }));
  if (info) {
    keep(deviceId, info->onNameChanged([this, deviceId](const std::string& name, bool external) {
      if (external) return;
      if (Driver* drv = driver(deviceId)) drv->setProperty("name", name);
    }));
  }
  if (panel) {
    keep(deviceId, panel->onJsonChanged([this, deviceId](const std::string& json, bool external) {
      if (!external) sendPanelJson(deviceId, json);
    }));
  }
  if (online) {
    keep(deviceId, online->onSupposedStateChanged([this, deviceId](const FtOnlineState& wanted, bool external) {
      if (external) return;
      Driver* drv = driver(deviceId);
      if (!drv) return;
      if (drv->getPhysicalDeviceId().empty() || wanted == FtOnlineState::OFFLINE) {
        drv->goOffline();
      } else {
        drv->goOnline(wanted == FtOnlineState::ONLINE_READING);
      }
    }));
    keep(deviceId, online->onIsIdentifyActiveChanged([this, deviceId](const bool& active, bool external) {
      if (external) return;
      if (Driver* drv = driver(deviceId)) drv->setIdentifyActive(active);
    }));
  }
  if (network) {
    keep(deviceId, network->onIpModeChanged([this, deviceId](const NetworkIPMode& mode, bool external) {
      if (external || mode == NetworkIPMode::UNKNOWN) return;
      if (Driver* drv = driver(deviceId)) drv->setIpConfiguration(static_cast<int>(mode));
    }));
  }
  if (state) {
    keep(deviceId, state->onIsCollectedErrorHoldChanged([this, deviceId](const bool& hold, bool external) {
      if (external) return;
      if (Driver* drv = driver(deviceId)) drv->setCollectedErrorHold(hold);
    }));
    const Uuid stateId = state->id();
    keep(deviceId, state->onResetCollectedErrorChanged([this, deviceId, stateId](const bool& reset, bool external) {
      if (external || !reset) return;
      if (Driver* drv = driver(deviceId)) drv->resetCollectedError();
      // A trigger, not a state: it stands back at false once sent.
      auto svc = services()->get<FtDeviceStateService>();
      if (auto* e = db()->get<FtDeviceState>(stateId); e && svc) svc->setResetCollectedError(e, false, true);
    }));
    keep(deviceId, state->onFlagCollectStatesChanged([this, deviceId](const std::vector<bool>& collect, bool external) {
      if (external) return;
      if (Driver* drv = driver(deviceId)) drv->setProperty(COLLECTED, collectedText(collect));
    }));
  }

  // What the driver reports.
  if (state) {
    report<FtDeviceState>(
        device, state, reportKey(1),
        [](Driver& drv, std::function<void()> notify) { return drv.onStateChanged(notify); },
        [this, deviceId](FtDeviceState&, Driver&) { refreshState(db()->get<Device>(deviceId)); });
    refreshState(device);
  }
  if (info) {
    report<FtDeviceInfo>(
        device, info, reportKey(2),
        [](Driver& drv, std::function<void()> notify) { return drv.onIpAddressChanged(notify); },
        [infos](FtDeviceInfo& e, Driver& drv) { infos->setIpaddress(&e, drv.getIpAddress(), true); });
    report<FtDeviceInfo>(
        device, info, reportKey(3),
        [](Driver& drv, std::function<void()> notify) { return drv.onFirmwareChanged(notify); },
        [infos](FtDeviceInfo& e, Driver& drv) { infos->setFirmware(&e, drv.getFirmware(), true); });
  }
  if (online) {
    report<FtOnline>(
        device, online, reportKey(4),
        [](Driver& drv, std::function<void()> notify) { return drv.onIpAddressChanged(notify); },
        [onlines](FtOnline& e, Driver& drv) { onlines->setIpAddress(&e, drv.getIpAddress(), true); });
    // Progress is an event, not a state: each report carries its values.
    const Uuid onlineId = online->id();
    std::weak_ptr<bool> alive = alive_;
    keep(deviceId, d->onConnectionProgress([this, alive, onlineId, deviceId, loop = loop()](int phase, float f) {
      loop->post("PanelBinding.cpp : onConnectionProgress", [this, alive, onlineId, deviceId, phase, f](const auto&) {
        if (alive.expired()) return;
        FtOnline* e = db()->get<FtOnline>(onlineId);
        auto svc = services()->get<FtOnlineService>();
        Driver* drv = driver(deviceId);
        if (!e || !svc || !drv) return;
        const auto [progress, isOnline] = onlineProgress(phase, f);
        svc->setProgress(e, progress, true);
        svc->setIsOnline(e, isOnline, true);
        if (!isOnline) return;
        // The session stands: what the panel has comes in.
        svc->setIsIdentifyActive(e, drv->isIdentifyActive(), true);
        svc->setIpAddress(e, drv->getIpAddress(), true);
        if (Device* device = db()->get<Device>(deviceId)) {
          if (FtDeviceInfo* info = device->getDeviceInfo()) {
            auto infos = services()->get<FtDeviceInfoService>();
            infos->setIpaddress(info, drv->getIpAddress(), true);
            infos->setFirmware(info, drv->getFirmware(), true);
          }
          refreshState(device);
        }
      });
    }));
  }
}

}  // namespace qor::server
