#pragma once
// Devices and device groups. A group device stands for several devices of one
// implementation: its features are groups over the members' features, joined
// channel by channel (see docs/groups.md).

#include "qor/server/services/DeviceServiceBase.h"

#include <functional>
#include <vector>

namespace qor::server {

class DeviceService : public DeviceServiceBase {
 public:
  using DeviceServiceBase::create;
  using DeviceServiceBase::DeviceServiceBase;

  // A device with this id and no features.
  Device* create(const fennik::server::Uuid& id);

  // True when the typed devices of the list share one implementation.
  bool isGroupingAllowed(const std::vector<Device*>& devices) const;
  // A visible group over the devices, named "Group"; an empty, invisible
  // group when grouping is not allowed.
  Device* createGroup(const fennik::server::Uuid& id, const std::vector<Device*>& devices);
  // Rebuilds a group that lost a member, keeping its name.
  void revalidateGroup(Device* group);
  // Destroys a group device and its features; the members stay.
  void destroyGroup(Device* group);
  // Destroys the group's features (its members keep theirs); revalidateGroup
  // builds them again.
  void clearGroupFeatures(Device* group);
  // Destroys a device with its features and visual item and rebuilds the
  // groups it belonged to.
  void destroy(Device* device) override;

  // The steps of grouping, public for the device plant and the tests.
  void createAllFeatures(Device* group);
  void addGroupChild(Device* group, Device* member);
  void addDeviceStateToGroup(Device* group, Device* member);
  void repairFilterEqPointRelationships(Device* group);
  void destroyFeaturesWhichDoNotAggregateAnything(Device* device);
  void destroyAllFeatures(Device* device);

  // Joins (or removes) one channel of a speaker to (from) a channel of a
  // speaker group: the speaker's channel features with index memberChannel
  // become members of the group's channel features with index groupChannel.
  void addSpeakerGroupChild(Device* group, Device* speaker, int memberChannel, int groupChannel);
  void removeSpeakerGroupChild(Device* group, Device* speaker, int memberChannel, int groupChannel);

  // A group supports device settings when every member does.
  void doRecalc(Device* group) override;
};

}  // namespace qor::server
