#pragma once
// Installs device discovery in a running host: the discovery service over a
// source and the discovered-device service, added to the host's services
// (after the module's, so that a project's loaded hook lists the devices
// only once the module watches for them), and starts the search. Both run
// on the loop and wait for it.

#include "qor/devicediscovery/DiscoverySource.h"

#include <memory>

namespace fennik::server {
class EntityContext;
}

namespace qor::server {

void addDeviceDiscovery(const std::shared_ptr<fennik::server::EntityContext>& context,
                        std::shared_ptr<DiscoverySource> source);
// Stops the search and takes both services back.
void removeDeviceDiscovery(const std::shared_ptr<fennik::server::EntityContext>& context);

}  // namespace qor::server
