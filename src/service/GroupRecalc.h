#pragma once
// The collective values of a group device's features, worked out again from
// its members: members before the groups that hold them, every feature and
// channel of the group. Used after something other than the members wrote
// into the group's features (a driver's initial sync when the device class
// binds the group), so that the group shows its members again.

namespace fennik::server {
class ServiceResolver;
}

namespace qor::server {

class Device;

// Nothing for a null device or one that is no group.
void recalcGroupFeatures(Device* group, const fennik::server::ServiceResolver& services);

}  // namespace qor::server
