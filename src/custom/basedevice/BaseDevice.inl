#pragma once
// Template parts of BaseDevice: service lookup and the driver-to-entity jobs.

#include "fennik/server/entity/Database.h"
#include "fennik/server/entity/LoopSignal.h"
#include "fennik/server/loop/QueuedAccessor.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/ServiceResolver.h"

#include "custom/basedevice/FeatureShapes.h"
#include "qor/server/entities/Device.h"

namespace qor::server {

template <class S>
std::shared_ptr<S> BaseDevice::service() const {
  auto resolver = services();
  return resolver ? resolver->template get<S>() : nullptr;
}

template <class S, class Include>
auto* BaseDevice::createChannelShaped(S& service, Device* device, int channels, Include include) {
  auto* parent = createDeviceFeature(service, device);
  for (int i = 0; i < channels; ++i) {
    if (include(i)) createChannelFeature(service, parent, i, tryGetLabelByIndex(device, i));
  }
  return parent;
}

template <class E, class Range, class Fn>
void BaseDevice::onChangesOf(Device* device, const Range& entities, Fn fn) {
  auto signal = std::make_shared<fennik::server::Entity::SharedChangeSignal>();
  keep(device, signal->connect([fn = std::move(fn)](fennik::server::Entity* changed, std::string_view key,
                                                    bool external) { fn(static_cast<E&>(*changed), key, external); }));
  for (E* e : entities) {
    if (e) e->reportChangesTo(signal);
  }
}

template <class E>
void BaseDevice::reportInto(Device* device, E* feature, fennik::devices::DriverSignal group, Refresh<E> refresh,
                            fennik::server::CallSite where) {
  fennik::server::Uuid key{};
  key.data[15] = static_cast<std::uint8_t>(static_cast<int>(group) + 1);
  reportInto<E>(
      device, feature,
      [group](Driver& d, std::function<void()> notify) {
        return d.onChanged(group, [notify = std::move(notify)](int) { notify(); });
      },
      key, std::move(refresh), where);
}

template <class E>
void BaseDevice::reportInto(Device* device, E* feature, const Subscribe& subscribe, const fennik::server::Uuid& key,
                            Refresh<E> refresh, fennik::server::CallSite where) {
  Driver* drv = device ? driver(device) : nullptr;
  if (!drv || !feature) return;
  const fennik::server::Uuid featureId = feature->id();
  const fennik::server::Uuid deviceId = device->id();
  std::weak_ptr<bool> alive = alive_;
  auto job = [this, alive, featureId, deviceId,
              refresh = std::move(refresh)](const std::shared_ptr<fennik::server::EntityContext>&) {
    if (alive.expired()) return;
    E* e = db()->template get<E>(featureId);
    if (!e) return;
    Driver* d = driverById(deviceId);
    if (!d) return;
    refresh(*e, *d);
  };
  // Runs on the driver's thread: hand the news to the loop and nothing else.
  // Reports run in the background lane: a user's request goes first.
  auto notify = [loop = loop(), featureId, key, label = jobLabel(where), job = std::move(job)] {
    loop->post(featureId, key, label, job, fennik::server::JobLoop::Lane::Background);
  };
  keep(device, subscribe(*drv, std::move(notify)));
}

}  // namespace qor::server
