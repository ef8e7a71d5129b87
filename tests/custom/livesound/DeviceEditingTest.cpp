// Adding devices by type, naming them, grouping, unmapping and removing them,
// as a sound engineer designing offline meets it.

#include "custom/LogCapture.h"
#include "custom/livesound/ProjectFixture.h"

#include "qor/server/services/DeviceService.h"
#include "qor/server/services/FtDeviceInfoService.h"
#include "qor/server/services/FtOnlineService.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace qor::server::testing {
namespace {

class DeviceEditingTest : public ProjectFixture {
 protected:
  Device* addAmp() { return livesound().deviceAdd(qa8(), 0, 0, true); }
  // How a user deletes a single device: select its item, delete the selection.
  void deleteOnCanvas(Device* device) {
    tree().selectAll(false);
    tree().selectSingle(device->getVisualItem(), true);
    livesound().visualItemDestroySelected();
  }
  static bool holds(const std::vector<Device*>& list, const Device* d) {
    return std::find(list.begin(), list.end(), d) != list.end();
  }
};

TEST_F(DeviceEditingTest, AmplifiersAreNumberedDelayedAndNeverReuseANumber) {
  LogCapture log;
  Device* amp1 = addAmp();
  Device* amp2 = addAmp();
  Device* amp3 = addAmp();
  ASSERT_TRUE(amp1 && amp2 && amp3);
  EXPECT_TRUE(log.contains("qor::server::LivesoundService::deviceAdd"));

  EXPECT_EQ(nameOf(amp1), "Amp1");
  EXPECT_EQ(nameOf(amp2), "Amp2");
  EXPECT_EQ(nameOf(amp3), "Amp3");
  EXPECT_EQ(amp1->getDeviceInfo()->getDeviceIntId(), 1);
  EXPECT_EQ(amp3->getDeviceInfo()->getDeviceIntId(), 3);
  EXPECT_NEAR(amp1->getPower()->getDelayInSec(), 0.1, 1e-9);
  EXPECT_NEAR(amp2->getPower()->getDelayInSec(), 0.2, 1e-9);
  EXPECT_NEAR(amp3->getPower()->getDelayInSec(), 0.3, 1e-9);
  EXPECT_EQ(amp2->getType(), qa8());

  // The last one added is selected alone, placed on the canvas without
  // overlapping the others.
  ASSERT_EQ(selection().size(), 1u);
  EXPECT_EQ(selection().front(), amp3->getVisualItem());
  EXPECT_EQ(amp3->getVisualItem()->getParent(), tree().root());
  const VisualItem* a = amp1->getVisualItem();
  const VisualItem* c = amp3->getVisualItem();
  EXPECT_TRUE(a->getX() + a->getWidth() <= c->getX() || c->getX() + c->getWidth() <= a->getX() ||
              a->getY() + a->getHeight() <= c->getY() || c->getY() + c->getHeight() <= a->getY());

  // The project's power, online and audio features take the amplifiers in.
  const auto& members = project()->getPower()->childrenShareds();
  EXPECT_EQ(members.size(), 3u);
  EXPECT_EQ(project()->getOnline()->childrenShareds().size(), 3u);

  deleteOnCanvas(amp2);
  Device* amp4 = addAmp();
  EXPECT_EQ(nameOf(amp4), "Amp4");
  EXPECT_EQ(amp4->getDeviceInfo()->getDeviceIntId(), 4);
  EXPECT_NEAR(amp4->getPower()->getDelayInSec(), 0.4, 1e-9);
  EXPECT_EQ(project()->getPower()->childrenShareds().size(), 3u);
}

TEST_F(DeviceEditingTest, MatricesCountOnTheirOwnAndTakeNoPowerOnDelay) {
  addAmp();
  Device* matrix = livesound().deviceAdd(qm16(), 0, 0, true);
  ASSERT_NE(matrix, nullptr);
  EXPECT_EQ(nameOf(matrix), "Matrix1");
  EXPECT_EQ(matrix->getDeviceInfo()->getDeviceIntId(), 1);
  EXPECT_EQ(project()->getDeviceTypeAmplifierNextId(), 2);
  EXPECT_EQ(project()->getDeviceTypeMatrixNextId(), 2);
  EXPECT_EQ(project()->getOnline()->childrenShareds().size(), 2u);
}

TEST_F(DeviceEditingTest, RemovingADeviceLeavesNothingOfItBehind) {
  Device* keep = addAmp();
  Device* partner = addAmp();

  // Features, channels, driver-side entities and the visual item all go.
  const std::size_t before = db().size();
  deleteOnCanvas(livesound().deviceAdd(qa4(), 0, 0, true));
  EXPECT_EQ(db().size(), before);

  // A device in a group, on a second layer, connected both ways to another.
  Device* doomed = livesound().deviceAdd(qa4(), 0, 0, true);
  ASSERT_NE(doomed, nullptr);
  Layer* extra = livesound().layerAdd();
  service<LayerService>()->setVisible(extra, doomed->getVisualItem(), true);
  auto devices = service<DeviceService>();
  Device* group = devices->createGroup(fennik::server::random_uuid(), {keep, doomed});
  ASSERT_NE(group, nullptr);
  ASSERT_TRUE(holds(group->childrenShareds(), doomed));
  ASSERT_TRUE(doomed->getConnector() && partner->getConnector());
  doomed->getConnector()->setSignalSource(partner->getConnector());
  partner->getConnector()->setSignalSource(doomed->getConnector());

  livesound().layerSelect(service<LayerService>()->masterLayer());
  deleteOnCanvas(doomed);

  // The group is rebuilt around the member left; nothing points at the gone one.
  EXPECT_EQ(group->childrenShareds().size(), 1u);
  EXPECT_TRUE(holds(group->childrenShareds(), keep));
  EXPECT_EQ(partner->getConnector()->getSignalSource(), nullptr);
  EXPECT_TRUE(extra->visualItems().empty());
  EXPECT_TRUE(selection().empty());
  EXPECT_EQ(project()->getPower()->childrenShareds().size(), 2u);
  EXPECT_EQ(project()->getAudio()->childrenShareds().size(), 2u);
}

TEST_F(DeviceEditingTest, DeviceRemoveTakesGroupsOnlyAndTheirMembersStay) {
  Device* a = addAmp();
  Device* b = addAmp();
  livesound().deviceRemove(a);
  EXPECT_NE(db().get<Device>(a->id()), nullptr);

  Device* group = service<DeviceService>()->createGroup(fennik::server::random_uuid(), {a, b});
  ASSERT_NE(group, nullptr);
  const auto groupId = group->id();
  livesound().deviceRemove(group);
  EXPECT_EQ(db().get<Device>(groupId), nullptr);
  EXPECT_TRUE(a->parents().empty());
  EXPECT_TRUE(b->parents().empty());
  EXPECT_EQ(nameOf(a), "Amp1");
}

TEST_F(DeviceEditingTest, EmbeddingAGroupGivesItAPlaceAndANameOnce) {
  Device* a = addAmp();
  Device* b = addAmp();
  Device* group = service<DeviceService>()->createGroup(fennik::server::random_uuid(), {a, b});
  ASSERT_NE(group, nullptr);
  group->setVisualItem(nullptr);

  livesound().deviceGroupEmbed(group, 800, 400);
  VisualItem* item = group->getVisualItem();
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->getWidth(), 128);
  EXPECT_EQ(item->getHeight(), 80);
  EXPECT_EQ(nameOf(group), "Group1");
  EXPECT_EQ(nameOf(a), "Amp1");
  EXPECT_EQ(nameOf(b), "Amp2");
  ASSERT_EQ(selection().size(), 1u);
  EXPECT_EQ(selection().front(), item);

  livesound().deviceGroupEmbed(group, 0, 0);
  EXPECT_EQ(group->getVisualItem(), item);
  EXPECT_EQ(nameOf(group), "Group1");
  EXPECT_EQ(project()->getDeviceTypeGroupNextId(), 2);
}

TEST_F(DeviceEditingTest, ClearingAMappingRestoresTheDefaultNameWithTheOldNumber) {
  addAmp();
  Device* amp = addAmp();
  auto infos = service<FtDeviceInfoService>();
  service<DeviceService>()->setDeviceId(amp, "QA-8-0004", false);
  infos->setName(amp->getDeviceInfo(), "Stage left", false);
  infos->setIpaddress(amp->getDeviceInfo(), "10.0.0.4", false);
  infos->setFirmware(amp->getDeviceInfo(), "2.1", false);

  livesound().deviceMappingClear(amp);
  EXPECT_EQ(nameOf(amp), "Amp2");
  EXPECT_EQ(amp->getDeviceId(), "");
  EXPECT_EQ(amp->getDeviceInfo()->getIpaddress(), "");
  EXPECT_EQ(amp->getDeviceInfo()->getFirmware(), "");
  EXPECT_EQ(project()->getDeviceTypeAmplifierNextId(), 3);
}

TEST_F(DeviceEditingTest, AddingByKindAndIdSelectsEveryNewDeviceAndRefusesWhatItCannotAdd) {
  LogCapture log;
  const std::string qa8Id = qa8()->strId();
  const auto added = livesound().deviceAdd("Amplifier", qa8Id, 2, 0, 0, true);
  ASSERT_EQ(added.size(), 2u);
  EXPECT_EQ(selection().size(), 2u);
  EXPECT_EQ(nameOf(added[1]), "Amp2");

  // Nothing for a count of 0, an id that is no device type, or no id at all.
  const std::size_t before = db().size();
  EXPECT_TRUE(livesound().deviceAdd("Amplifier", qa8Id, 0, 0, 0, true).empty());
  EXPECT_TRUE(livesound().deviceAdd("Amplifier", project()->strId(), 1, 0, 0, true).empty());
  EXPECT_TRUE(livesound().deviceAdd("Amplifier", "not-an-id", 1, 0, 0, true).empty());

  // Speaker modes need a JSON object naming its product; other JSON is the
  // JSON library's error, before anything changes.
  EXPECT_THROW(livesound().deviceAdd("SpeakerMode", "[1, 2]", 1, 0, 0, true), nlohmann::json::type_error);
  EXPECT_THROW(livesound().deviceAdd("SpeakerMode", R"({"product.id": 7})", 1, 0, 0, true), nlohmann::json::type_error);
  EXPECT_THROW(livesound().deviceAdd("SpeakerMode", "{", 1, 0, 0, true), nlohmann::json::parse_error);
  // Well-formed, but no speaker database offers the product: refused.
  EXPECT_TRUE(livesound().deviceAdd("SpeakerMode", R"({"product.id": "P-1"})", 1, 0, 0, true).empty());
  EXPECT_TRUE(log.contains("No device type"));
  EXPECT_EQ(db().size(), before);
  EXPECT_EQ(project()->getDeviceTypeAmplifierNextId(), 3);
}

TEST_F(DeviceEditingTest, UnknownImplementationsAreRefusedWithTheirLogLine) {
  LogCapture log;
  auto odd = DeviceType::createDefaultInitialized(fennik::server::random_uuid());
  odd->setImplementation(static_cast<DeviceTypeImplementation>(9), false);
  DeviceType* type = odd.get();
  db().add(std::move(odd));
  const std::size_t before = db().size();
  EXPECT_EQ(livesound().deviceAdd(type, 0, 0, true), nullptr);
  EXPECT_TRUE(log.contains("Unknown DeviceTypeImplementation is used"));
  EXPECT_EQ(livesound().deviceAdd(nullptr, 0, 0, true), nullptr);
  EXPECT_EQ(db().size(), before);

  // A typeless device that is not a group cannot be deleted.
  Device* bare = service<DeviceService>()->create(fennik::server::random_uuid());
  livesound().deviceDestroy(bare);
  EXPECT_TRUE(log.contains("Couldn't delete device"));
  EXPECT_NE(db().get<Device>(bare->id()), nullptr);
}

TEST_F(DeviceEditingTest, LoadedRemovesGroupsWithoutItemAndMakesAMissingMasterWindow) {
  Device* a = addAmp();
  Device* b = addAmp();
  auto devices = service<DeviceService>();
  Device* hidden = devices->createGroup(fennik::server::random_uuid(), {a, b});
  Device* shown = devices->createGroup(fennik::server::random_uuid(), {a, b});
  ASSERT_TRUE(hidden && shown);
  hidden->setVisualItem(nullptr);
  livesound().deviceGroupEmbed(shown, 0, 0);
  const auto hiddenId = hidden->id();

  // As a project opened from a file that lacks the master window.
  auto sessions = service<SessionService>();
  SessionWindow* master = sessions->getSessionWindow(fennik::server::UuidFromS(SessionService::MASTER_ROOT_ID));
  ASSERT_NE(master, nullptr);
  sessions->currentSession()->removeSessionWindows(master);
  db().deleteEntity(master);
  livesound().loaded();

  EXPECT_EQ(db().get<Device>(hiddenId), nullptr);
  EXPECT_NE(db().get<Device>(shown->id()), nullptr);
  EXPECT_NE(db().get<Device>(a->id()), nullptr);
  SessionWindow* window = service<SessionWindowService>()->currentSessionWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->getRootVisualItemId(), SessionService::MASTER_ROOT_ID);
}

TEST_F(DeviceEditingTest, TestcaseBarrierSetsTheKeyOnTheProject) {
  livesound().testcaseBarrier("step-7");
  EXPECT_EQ(project()->getTestCaseBarrierKey(), "step-7");
}

TEST_F(DeviceEditingTest, AFirmwareFileUpdatesTheDeviceAndTheSameFileAgainRetries) {
  Device* amp = addAmp();
  FtDeviceInfo* info = amp->getDeviceInfo();
  // Map the designed amplifier onto one on the network and go online.
  const std::string physical = network_->addDevice("QA-8");
  service<DeviceService>()->setDeviceId(amp, physical, false);
  service<FtOnlineService>()->setSupposedState(amp->getOnline(), FtOnlineState::ONLINE_WRITING, false);
  run(1000ms);
  ASSERT_TRUE(amp->getOnline()->getIsOnline());

  livesound().firmwareLoadFW(nullptr, "/updates/qa8-3.0.0.bin");  // nothing to update: nothing happens
  livesound().firmwareLoadFW(info, "/updates/qa8-3.0.0.bin");
  run(2000ms);
  EXPECT_EQ(info->getFirmware(), "qa8-3.0.0");  // the device reports the file's version

  // The device rejects the next image; the engineer tries the same file again.
  network_->injectFault(physical, fennik::devices::SimulatedNetwork::Fault::FirmwareUpdateFails);
  livesound().firmwareLoadFW(info, "/updates/qa8-3.1.0.bin");
  run(2000ms);
  EXPECT_EQ(info->getFirmwareUpdateDebugMessages(), "FAILED");
  network_->injectFault(physical, fennik::devices::SimulatedNetwork::Fault::FirmwareUpdateFails, false);
  livesound().firmwareLoadFW(info, "/updates/qa8-3.1.0.bin");
  run(2000ms);
  EXPECT_EQ(info->getFirmware(), "qa8-3.1.0");
}

}  // namespace
}  // namespace qor::server::testing
