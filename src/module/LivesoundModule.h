#pragma once
// The live-sound module as the host sees it: hands its serializers, services,
// migrations and controllers to the host's registries and takes them back.

#include "fennik/server/core/Uuid.h"
#include "fennik/server/module/Module.h"

#include <memory>
#include <vector>

namespace fennik::server {
class EntityContext;
class IFennikController;
}  // namespace fennik::server

namespace qor::server {

class LivesoundModule : public fennik::server::IFennikModule {
 public:
  // The module id; a strict conversion that fails throws boost::bad_lexical_cast.
  static constexpr const char* MODULE_ID = "79FD76F4-1899-4826-B3C9-E0F8CDF81D9E";

  explicit LivesoundModule(std::shared_ptr<fennik::server::SingletonRegistry> globals);
  ~LivesoundModule() override;

  const fennik::server::Uuid& moduleId() const override { return moduleId_; }
  void registerSerializers() override;
  void deregisterSerializers() override;
  void registerControllers() override;
  void deregisterControllers() override;
  void registerServices() override;
  void deregisterServices() override;

  // Network controllers, filled by registerControllers: one per entity type
  // in type order, then the livesound controller.
  const std::vector<std::shared_ptr<fennik::server::IFennikController>>& controllers() const { return controllers_; }

 private:
  std::shared_ptr<fennik::server::EntityContext> entityContext() const;

  fennik::server::Uuid moduleId_;
  std::vector<std::shared_ptr<fennik::server::IFennikController>> controllers_;
};

// The service work of registration; run on the event loop.
void registerLivesoundServices(const std::shared_ptr<fennik::server::EntityContext>& context);
void deRegisterLivesoundServices(const std::shared_ptr<fennik::server::EntityContext>& context);

}  // namespace qor::server
