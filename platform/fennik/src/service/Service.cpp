#include "fennik/server/service/Service.h"

#include <boost/core/demangle.hpp>

#include <typeinfo>

namespace fennik::server {

Service::Service(std::shared_ptr<Database> db, std::shared_ptr<EntityLoop> loop,
                 std::shared_ptr<ServiceResolver> services)
    : db_(std::move(db)), loop_(std::move(loop)), services_(services) {}

Service::~Service() = default;

std::string Service::serviceName() const { return boost::core::demangle(typeid(*this).name()); }

}  // namespace fennik::server
