// The layer and highlight commands of the live-sound service.

#include "custom/CanvasFixture.h"
#include "custom/LogCapture.h"

#include "qor/server/entities/All.h"
#include "qor/server/services/DeviceService.h"
#include "qor/server/services/FtConnectorService.h"
#include "qor/server/services/FtDelayService.h"

namespace qor::server::testing {
namespace {

class LivesoundServiceTest : public CanvasFixture {};

TEST_F(LivesoundServiceTest, LayerAddSelectsTheNewLayerAndClearsTheSelection) {
  LogCapture log;
  VisualItem* a = item(0, 0, 80, 80);
  tree().selectSingle(a, true);
  Layer* layer = livesound().layerAdd();
  ASSERT_NE(layer, nullptr);
  EXPECT_TRUE(log.contains("qor::server::LivesoundService::layerAdd"));
  EXPECT_EQ(layer->getIndex(), 1);
  EXPECT_EQ(window().getSelectedLayer(), layer);
  EXPECT_TRUE(selection().empty());

  // New items join the selected layer; selecting off it is refused.
  VisualItem* b = item(200, 0, 80, 80);
  EXPECT_TRUE(layers().contains(layer, b));
  tree().selectSingle(a, true);
  EXPECT_TRUE(selection().empty());

  livesound().layerSelect(layers().masterLayer());
  EXPECT_TRUE(log.contains("qor::server::LivesoundService::layerSelect"));
  EXPECT_EQ(window().getSelectedLayer(), layers().masterLayer());
}

TEST_F(LivesoundServiceTest, LayerDestroyDeletesItemsOnlyOnThatLayerAndKeepsShardOnes) {
  Layer* layer = livesound().layerAdd();
  VisualItem* lone = item(0, 0, 80, 80);
  VisualItem* shared = item(200, 0, 80, 80);
  VisualItem* a = item(400, 0, 80, 80);
  VisualItem* b = item(600, 0, 80, 80);
  VisualItem* group = tree().group({a, b});
  layers().setVisible(layers().masterLayer(), shared, true);
  const auto loneId = lone->id();
  const auto groupId = group->id();
  const auto memberId = a->id();

  // A device on the layer goes with its visual item, also when its type's
  // plug-in is not loaded.
  auto devices = service<DeviceService>();
  Device* device = devices->create();
  auto type = DeviceType::createDefaultInitialized(fennik::server::random_uuid());
  device->setType(type.get());
  db().add(std::move(type));
  VisualItem* deviceItem = item(800, 0, 80, 80);
  device->setVisualItem(deviceItem);
  const auto deviceId = device->id();

  livesound().layerSelect(layers().masterLayer());
  const auto layerId = layer->id();
  livesound().layerDestroy(layer);
  EXPECT_EQ(db().find(layerId), nullptr);
  EXPECT_EQ(db().find(loneId), nullptr);
  EXPECT_EQ(db().find(groupId), nullptr);
  EXPECT_EQ(db().find(memberId), nullptr);  // members first, then the group item
  EXPECT_EQ(db().find(deviceId), nullptr);
  ASSERT_NE(db().find(shared->id()), nullptr);
  EXPECT_TRUE(layers().contains(layers().masterLayer(), shared));
  EXPECT_EQ(window().getSelectedLayer(), layers().masterLayer());  // restored

  // Destroying the selected layer falls back to the master layer; the master layer stays.
  Layer* next = livesound().layerAdd();
  livesound().layerDestroy(next);
  EXPECT_EQ(window().getSelectedLayer(), layers().masterLayer());
  livesound().layerDestroy(layers().masterLayer());
  livesound().layerDestroy(nullptr);
  EXPECT_NE(layers().masterLayer(), nullptr);
  EXPECT_EQ(db().countOfClass(Layer::CLASS_NAME), 1u);
}

TEST_F(LivesoundServiceTest, HighlightPublishesTheRelatedIdsInTheCurrentWindow) {
  LogCapture log;
  auto devices = service<DeviceService>();
  auto delays = service<FtDelayService>();
  Device* device = devices->create();
  FtDelay* deviceDelay = delays->create();
  FtDelay* channel1 = delays->create();
  FtDelay* channel2 = delays->create();
  delays->addChild(deviceDelay, channel1, true);
  delays->addChild(deviceDelay, channel2, true);
  FtDelay* peer = delays->create();
  channel1->addLinked(peer);

  livesound().visualHighlight(device->id(), channel1->id(), LivesoundVisualHighlightScope::DEVICE);
  EXPECT_TRUE(log.contains("qor::server::LivesoundService::visualHighlight"));
  EXPECT_EQ(window().getVisualHighlightIds(), device->strId());

  livesound().visualHighlight(device->id(), deviceDelay->id(), LivesoundVisualHighlightScope::FEATURE);
  EXPECT_EQ(window().getVisualHighlightIds(), deviceDelay->strId() + "," + channel1->strId() + "," + channel2->strId());

  // Direct relations only for FEATURE; linked peers for FEATURE_LINKED and ALL.
  livesound().visualHighlight(device->id(), channel1->id(), LivesoundVisualHighlightScope::FEATURE);
  EXPECT_EQ(window().getVisualHighlightIds(), channel1->strId());
  livesound().visualHighlight(device->id(), channel1->id(), LivesoundVisualHighlightScope::FEATURE_LINKED);
  EXPECT_EQ(window().getVisualHighlightIds(), channel1->strId() + "," + peer->strId());

  // An unknown feature falls back to the device; NONE clears.
  livesound().visualHighlight(device->id(), fennik::server::random_uuid(), LivesoundVisualHighlightScope::ALL);
  EXPECT_EQ(window().getVisualHighlightIds(), device->strId());
  livesound().visualHighlight(device->id(), channel1->id(), LivesoundVisualHighlightScope::NONE);
  EXPECT_EQ(window().getVisualHighlightIds(), "");

  // Out-of-range scopes are refused and change nothing.
  livesound().visualHighlight(device->id(), channel1->id(), LivesoundVisualHighlightScope::DEVICE);
  livesound().visualHighlight(device->id(), channel1->id(), static_cast<LivesoundVisualHighlightScope>(9));
  EXPECT_TRUE(log.contains("Unknown LivesoundVisualHighlightScope is used"));
  EXPECT_EQ(window().getVisualHighlightIds(), device->strId());
}

TEST_F(LivesoundServiceTest, ConnectorHighlightFollowsTheWiresBothWays) {
  auto connectors = service<FtConnectorService>();
  FtConnector* ampOut = connectors->create();
  FtConnector* speakerIn = connectors->create();
  FtConnector* unrelated = connectors->create();
  speakerIn->setSignalSource(ampOut);
  (void)unrelated;
  livesound().visualHighlight(fennik::server::Uuid{}, ampOut->id(), LivesoundVisualHighlightScope::CONNECTOR);
  EXPECT_EQ(window().getVisualHighlightIds(), ampOut->strId() + "," + speakerIn->strId());
  livesound().visualHighlight(fennik::server::Uuid{}, speakerIn->id(), LivesoundVisualHighlightScope::CONNECTOR);
  EXPECT_EQ(window().getVisualHighlightIds(), speakerIn->strId() + "," + ampOut->strId());
}

}  // namespace
}  // namespace qor::server::testing
