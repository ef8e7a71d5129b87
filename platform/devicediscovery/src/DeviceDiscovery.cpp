#include "qor/devicediscovery/DeviceDiscovery.h"

#include "qor/devicediscovery/DeviceDiscoveryService.h"
#include "qor/devicediscovery/DiscoveredDeviceService.h"

#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/ServiceResolver.h"

namespace qor::server {

using fennik::server::EntityContext;

void addDeviceDiscovery(const std::shared_ptr<EntityContext>& context, std::shared_ptr<DiscoverySource> source) {
  context->loop()->work([&source](const std::shared_ptr<EntityContext>& c) {
    auto discovery = std::make_shared<DeviceDiscoveryService>(c->db(), c->loop(), c->services(), std::move(source));
    c->services()->add(std::make_shared<DiscoveredDeviceService>(c->db(), c->loop(), c->services()));
    c->services()->add(discovery);
    discovery->start();
  });
}

void removeDeviceDiscovery(const std::shared_ptr<EntityContext>& context) {
  context->loop()->work([](const std::shared_ptr<EntityContext>& c) {
    if (auto discovery = c->services()->get<DeviceDiscoveryService>()) discovery->stop();
    c->services()->remove<DeviceDiscoveryService>();
    c->services()->remove<DiscoveredDeviceService>();
  });
}

}  // namespace qor::server
