// Registration of the module with a host: services in type order, lookups by
// interface, deregistration, and what needs the host's entity context.

#include "custom/deviceplant/DevicePlant.h"
#include "custom/deviceplant/MatrixService.h"
#include "custom/discovery/LivesoundDiscoveredDeviceService.h"
#include "custom/panels/PanelService.h"
#include "custom/presets/AbPresetService.h"
#include "custom/speakers/SpeakerService.h"
#include "custom/speakers/SpeakerSettingService.h"
#include "custom/speakers/SpsFileService.h"
#include "module/LivesoundModule.h"

#include "custom/VisualTreeService.h"
#include "custom/livesound/LivesoundService.h"
#include "model/GeneratedServices.h"
#include "module/HandWrittenServices.h"
#include "qor/server/services/DeviceService.h"
#include "qor/server/services/FtDelayService.h"
#include "qor/server/services/FtLoadService.h"
#include "qor/server/services/ServerInfoService.h"

#include "fennik/server/entity/Database.h"
#include "fennik/server/entity/EntityFlatbufferSerializer.h"
#include "fennik/server/entity/EntityJsonSerializer.h"
#include "fennik/server/ksp/IKspDispatcher.h"
#include "fennik/server/service/DebounceService.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/KeywordService.h"
#include "fennik/server/service/Migration.h"
#include "fennik/server/service/ServiceResolver.h"
#include "fennik/server/service/TimerService.h"

#include <gtest/gtest.h>
#include <boost/algorithm/string/case_conv.hpp>

namespace qor::server {
namespace {

using namespace fennik::server;

class LivesoundModuleTest : public ::testing::Test {
 protected:
  std::shared_ptr<SingletonRegistry> globals = std::make_shared<SingletonRegistry>();
  std::shared_ptr<EntityContext> context = EntityContext::create(JobLoop::Mode::Manual);
  LivesoundModule module{globals};

  void SetUp() override { globals->add(context); }
};

TEST_F(LivesoundModuleTest, ModuleIdIsTheFixedUuid) {
  EXPECT_EQ(boost::to_upper_copy(UuidToS(module.moduleId())), LivesoundModule::MODULE_ID);
}

TEST_F(LivesoundModuleTest, RegistersGeneratedServicesInTypeOrderThenTheHandWrittenOnes) {
  module.registerServices();
  const auto& ordered = context->services()->ordered();
  ASSERT_EQ(ordered.size(), generatedServiceCount() + handWrittenServiceCount());
  EXPECT_EQ(ordered.front().first, std::type_index(typeid(ServerInfoService)));
  EXPECT_EQ(ordered[9].first, std::type_index(typeid(DeviceService)));
  EXPECT_EQ(ordered[39].first, std::type_index(typeid(FtLoadService)));
  EXPECT_EQ(ordered[40].first, std::type_index(typeid(LivesoundService)));
  EXPECT_EQ(ordered[41].first, std::type_index(typeid(SpeakerService)));
  EXPECT_EQ(ordered[42].first, std::type_index(typeid(MatrixService)));
  // Panels follow the matrices, after the keywords their panel JSON names.
  EXPECT_EQ(ordered[43].first, std::type_index(typeid(fennik::server::KeywordService)));
  EXPECT_EQ(ordered[44].first, std::type_index(typeid(PanelService)));
  EXPECT_EQ(ordered[45].first, std::type_index(typeid(VisualTreeService)));
  EXPECT_EQ(ordered[46].first, std::type_index(typeid(DevicePlant)));
  // The SPS cache and the speaker-setting conversion come before the catalog.
  EXPECT_EQ(ordered[48].first, std::type_index(typeid(SpsFileService)));
  EXPECT_EQ(ordered[49].first, std::type_index(typeid(SpeakerSettingService)));
  // The A/B presets join after the catalog, before the host's timers.
  EXPECT_EQ(ordered[ordered.size() - 4].first, std::type_index(typeid(AbPresetService)));
  EXPECT_EQ(ordered[ordered.size() - 3].first, std::type_index(typeid(TimerService)));
  EXPECT_EQ(ordered[ordered.size() - 2].first, std::type_index(typeid(DebounceService)));
  // The discovered-device list comes last, after the timers it uses.
  EXPECT_EQ(ordered.back().first, std::type_index(typeid(LivesoundDiscoveredDeviceService)));

  auto byInterface = context->services()->get<IFtDelayService>();
  ASSERT_TRUE(byInterface);
  EXPECT_EQ(byInterface, context->services()->get<FtDelayService>());
  EXPECT_EQ(byInterface->serviceName(), "qor::server::FtDelayService");
  EXPECT_EQ(byInterface->db(), context->db());

  // Registering again replaces by type; nothing is duplicated.
  module.registerServices();
  EXPECT_EQ(context->services()->size(), generatedServiceCount() + handWrittenServiceCount());

  module.deregisterServices();
  EXPECT_EQ(context->services()->size(), 0u);
  // The migrations stay.
  EXPECT_EQ(context->migrations().all().size(), 4u);
}

TEST_F(LivesoundModuleTest, RegistersOneJsonSerializerPerTypeInTypeOrder) {
  module.registerSerializers();
  module.registerSerializers();  // again: replaced, not doubled
  const auto json = context->db()->serializers(std::type_index(typeid(EntityJsonSerializer)));
  ASSERT_EQ(json.size(), generatedServiceCount());
  EXPECT_EQ(json.front()->entityClassName(), "qor::server::ServerInfo");
  EXPECT_EQ(json[9]->entityClassName(), "qor::server::Device");
  EXPECT_EQ(json.back()->entityClassName(), "qor::server::FtLoad");
  EXPECT_TRUE(context->db()->serializer<EntityJsonSerializer>("qor::server::FtDelay"));
  module.deregisterSerializers();
  EXPECT_EQ(context->db()->serializerCount(), 0u);
}

TEST_F(LivesoundModuleTest, ModuleStateMachineRegistersOnCreateAndDeregistersLeavingUncreate) {
  module.transition(ModuleState::Create);
  EXPECT_EQ(context->services()->size(), generatedServiceCount() + handWrittenServiceCount());
  module.transition(ModuleState::Uncreate);
  module.transition(ModuleState::Off);
  EXPECT_EQ(context->services()->size(), 0u);
}

TEST_F(LivesoundModuleTest, MountsOneControllerPerTypeThenTheLivesoundOneAndRegistersWireSerializers) {
  auto dispatcher = std::make_shared<KspDispatcher>();
  globals->add<IKspDispatcher>(dispatcher);
  module.registerControllers();
  // One per project type, the discovered devices' and the livesound commands'.
  ASSERT_EQ(module.controllers().size(), generatedServiceCount() + 2);
  EXPECT_EQ(dispatcher->size(), generatedServiceCount() + 2);
  EXPECT_EQ(module.controllers().front()->route(), "qor::server::ServerInfo");
  EXPECT_EQ(module.controllers()[generatedServiceCount()]->route(), "qor::server::DiscoveredDevice");
  EXPECT_EQ(module.controllers().back()->route(), "qor::server::Livesound");
  for (const auto& c : module.controllers()) EXPECT_EQ(c->entityContext(), context);
  module.deregisterControllers();
  EXPECT_EQ(dispatcher->size(), 0u);
  EXPECT_EQ(module.controllers().size(), generatedServiceCount() + 2);

  module.registerSerializers();
  // JSON and wire for every project type; discovered devices only go on the wire.
  EXPECT_EQ(context->db()->serializerCount(), 2 * generatedServiceCount() + 1);
  auto serializer = context->db()->serializer<EntityFlatbufferSerializer>("qor::server::FtDelay");
  ASSERT_TRUE(serializer);
  EXPECT_EQ(serializer->entityClassName(), "qor::server::FtDelay");
  EXPECT_EQ(serializer->deserialize(), nullptr);
  module.deregisterSerializers();
  EXPECT_EQ(context->db()->serializerCount(), 0u);
}

TEST_F(LivesoundModuleTest, RegistrationWithoutAHostContextFails) {
  LivesoundModule orphan{std::make_shared<SingletonRegistry>()};
  EXPECT_THROW(orphan.registerServices(), std::logic_error);
}

}  // namespace
}  // namespace qor::server
