#pragma once
// What the device checks share: which devices a check considers, and the two
// ways a check judges the values it collects. Both stop at the first finding.

#include "qor/server/entities/Device.h"
#include "qor/server/entities/DeviceType.h"

#include <algorithm>
#include <optional>
#include <set>
#include <unordered_set>
#include <vector>

namespace qor::server::checks {

// A device's implementation is its type's; a device without a type (a group)
// keeps its own.
inline DeviceTypeImplementation implementationOf(const Device& device) {
  const DeviceType* type = device.getType();
  return type ? type->getImplementation() : device.getImplementation();
}

inline bool isSingle(const Device& device) { return !device.getIsGroup(); }
inline bool isSingleSpeaker(const Device& device) {
  return isSingle(device) && implementationOf(device) == DeviceTypeImplementation::SPEAKER;
}
// Amplifiers, matrices and panels: the devices on the audio network.
inline bool isSingleNetworkDevice(const Device& device) {
  return isSingle(device) && implementationOf(device) != DeviceTypeImplementation::SPEAKER;
}

// True when two considered devices have the same value. `valueOf` answers
// nothing for a device that lacks the feature or does not support the value.
// A hash set, not an ordered map: the finding is the same, and a show-size
// project stays well inside a timer tick's budget (docs/performance.md).
template <class V, class Filter, class ValueOf>
bool anyValueTwice(const std::vector<Device*>& devices, Filter considered, ValueOf valueOf) {
  std::unordered_set<V> seen;
  seen.reserve(devices.size());
  for (const Device* device : devices) {
    if (!considered(*device)) continue;
    std::optional<V> value = valueOf(*device);
    if (value && !seen.insert(*value).second) return true;
  }
  return false;
}

// True when the considered devices have more than one distinct value.
template <class V, class Filter, class ValueOf>
bool moreThanOneValue(const std::vector<Device*>& devices, Filter considered, ValueOf valueOf) {
  std::set<V> seen;
  for (const Device* device : devices) {
    if (!considered(*device)) continue;
    std::optional<V> value = valueOf(*device);
    if (value && seen.insert(*value).second && seen.size() > 1) return true;
  }
  return false;
}

// True when a child (a channel, an input) of a considered device's feature
// matches.
template <class Filter, class FeatureOf, class Matches>
bool anyChildOf(const std::vector<Device*>& devices, Filter considered, FeatureOf featureOf, Matches matches) {
  for (const Device* device : devices) {
    const auto* feature = considered(*device) ? featureOf(*device) : nullptr;
    if (!feature) continue;
    // A member whose id names no entity of the project (a file edited by
    // hand) is listed as null.
    const auto children = feature->childrens();
    if (std::any_of(children.begin(), children.end(), [&](const auto* child) { return child && matches(child); }))
      return true;
  }
  return false;
}

}  // namespace qor::server::checks
