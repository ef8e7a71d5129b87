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

TEST_F(LivesoundModuleTest, RegistersTheFiftyFiveServicesInTheirOrder) {
  // The generated services in type order; the speaker-database service is
  // added again by hand, which moves it among the hand-written ones.
  std::vector<std::string> expected{
      "qor::server::ServerInfoService",
      "qor::server::PredictionDspSettingService",
      "qor::server::LivesoundProjectService",
      "qor::server::SessionService",
      "qor::server::SessionWindowService",
      "qor::server::UserService",
      "qor::server::LayerService",
      "qor::server::DeviceTypeService",
      "qor::server::DeviceService",
      "qor::server::VisualItemGroupService",
      "qor::server::VisualItemService",
      "qor::server::FtLabelService",
      "qor::server::FtDeviceInfoService",
      "qor::server::FtOnlineService",
      "qor::server::FtAudioService",
      "qor::server::FtPowerService",
      "qor::server::FtSignalGeneratorService",
      "qor::server::FtSupermeterService",
      "qor::server::FtDelayService",
      "qor::server::FtPresetService",
      "qor::server::FtSpeakerSettingService",
      "qor::server::FtEqFilterBankService",
      "qor::server::FtEqFilterService",
      "qor::server::FtAmplifierModeService",
      "qor::server::FtAmplifierDriveModeService",
      "qor::server::FtAmplifierGainService",
      "qor::server::FtSpeakerModeService",
      "qor::server::FtInputSourceService",
      "qor::server::FtInputRoutingService",
      "qor::server::FtFailoverConfigService",
      "qor::server::FtDeviceStateService",
      "qor::server::FtChannelStateService",
      "qor::server::FtDeviceStateRemoteDeviceService",
      "qor::server::FtConnectorService",
      "qor::server::FtNetworkService",
      "qor::server::ProjectCheckService",
      "qor::server::FtGPIOService",
      "qor::server::FtPanelService",
      "qor::server::FtLoadService",
      "qor::server::LivesoundService",
      "qor::server::SpeakerService",
      "fennik::server::MatrixService",
      "fennik::server::PanelService",
      "qor::server::SpeakerDatabaseService",
      "fennik::server::VisualTreeService",
      "fennik::server::DevicePlant",
      "qor::server::HighlightService",
      "qor::server::SpsFileService",
      "qor::server::SpeakerSettingService",
      "qor::server::CatalogService",
      "qor::server::AbPresetService",
      "qor::server::PredictionImportService",
      "fennik::server::TimerService",
      "fennik::server::DebounceService",
      "qor::server::LivesoundDiscoveredDeviceService",
  };
  ASSERT_EQ(expected.size(), 55u);
  module.registerServices();
  std::vector<std::string> names;
  for (const auto& [type, service] : context->services()->ordered()) names.push_back(service->serviceName());
  EXPECT_EQ(names, expected);

  auto byInterface = context->services()->get<IFtDelayService>();
  ASSERT_TRUE(byInterface);
  EXPECT_EQ(byInterface, context->services()->get<FtDelayService>());
  EXPECT_EQ(byInterface->serviceName(), "qor::server::FtDelayService");
  EXPECT_EQ(byInterface->db(), context->db());

  // Registering again replaces by type; nothing is duplicated.
  module.registerServices();
  EXPECT_EQ(context->services()->size(), expected.size());

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
  // The speaker-database service is added twice and kept once.
  EXPECT_EQ(context->services()->size(), generatedServiceCount() + handWrittenServiceCount() - 1);
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
