// Sessions, windows and layers: what the selection commands rely on.

#include "custom/CanvasFixture.h"
#include "custom/LogCapture.h"

#include "qor/server/entities/LivesoundProject.h"

namespace qor::server::testing {
namespace {

using fennik::server::UuidFromS;

class SessionLayerTest : public CanvasFixture {};

TEST_F(SessionLayerTest, ANewProjectHasTheMasterSessionWindowAndLayerCurrent) {
  ASSERT_NE(sessions().currentSession(), nullptr);
  EXPECT_EQ(sessions().currentSession()->id(), UuidFromS(SessionService::MASTER_SESSION_ID));
  EXPECT_EQ(window().getRootVisualItemId(), SessionService::MASTER_ROOT_ID);
  EXPECT_EQ(window().getSelectionMode(), VisualItemSelectionMode::DESIGN);
  ASSERT_EQ(window().getSelectedLayer(), layers().masterLayer());
  EXPECT_EQ(layers().masterLayer()->getName(), "Master");
  EXPECT_EQ(layers().masterLayer()->id(), UuidFromS(LayerService::MASTER_LAYER_ID));
  EXPECT_EQ(db().countOfClass(LivesoundProject::CLASS_NAME), 1u);

  // Loading again (an opened project) finds everything instead of doubling it.
  livesound().loaded();
  EXPECT_EQ(db().countOfClass(Session::CLASS_NAME), 1u);
  EXPECT_EQ(db().countOfClass(SessionWindow::CLASS_NAME), 1u);
  EXPECT_EQ(sessions().createMaster(), sessions().currentSession());

  // A project file without the master window gets it back, current.
  const auto masterRoot = UuidFromS(SessionService::MASTER_ROOT_ID);
  sessions().destroySessionWindow(masterRoot);
  EXPECT_EQ(sessions().currentWindow(), nullptr);
  livesound().loaded();
  ASSERT_NE(sessions().getSessionWindow(masterRoot), nullptr);
  EXPECT_EQ(sessions().currentWindow(), sessions().getSessionWindow(masterRoot));
}

TEST_F(SessionLayerTest, SelectionListsKeepOrderPerMode) {
  VisualItem* a = item(0, 0, 80, 80);
  VisualItem* b = item(100, 0, 80, 80);
  windows().select(a);
  windows().select(b);
  windows().select(a);  // reselecting moves it to the end
  EXPECT_EQ(selection(), (std::vector<VisualItem*>{b, a}));
  EXPECT_EQ(window().selectedDesignItems().size(), 2u);

  windows().setSelectionMode(VisualItemSelectionMode::DEVICE);
  EXPECT_TRUE(selection().empty());
  windows().select(b);
  EXPECT_EQ(window().selectedDeviceItems(), std::vector<VisualItem*>{b});

  windows().setSelectionMode(VisualItemSelectionMode::NONE);
  windows().select(a);
  windows().deselectAll();  // mode NONE: nothing to act on
  EXPECT_EQ(window().selectedDesignItems().size(), 2u);
  EXPECT_EQ(window().selectedDeviceItems().size(), 1u);

  windows().setSelectionMode(VisualItemSelectionMode::DESIGN);
  windows().deselectAll();
  EXPECT_TRUE(window().selectedDesignItems().empty());
  EXPECT_EQ(window().selectedDeviceItems().size(), 1u);
}

TEST_F(SessionLayerTest, WindowsBelongToTheCurrentSessionAndFallBackToTheMasterWindow) {
  const auto root = fennik::server::random_uuid();
  SessionWindow* extra = sessions().createSessionWindow(root);
  EXPECT_EQ(sessions().getSessionWindow(root), extra);
  sessions().setCurrentSessionWindow(root);
  EXPECT_EQ(sessions().currentWindow(), extra);
  sessions().destroySessionWindow(root);
  EXPECT_EQ(sessions().getSessionWindow(root), nullptr);
  EXPECT_EQ(sessions().currentWindow()->getRootVisualItemId(), SessionService::MASTER_ROOT_ID);

  // Another session has its own window on the master root; clearing it
  // returns to the master session, which itself cannot be cleared.
  Session* other = sessions().create();
  EXPECT_EQ(sessions().currentSession(), other);
  ASSERT_EQ(other->sessionWindows().size(), 1u);
  EXPECT_EQ(sessions().currentWindow(), other->sessionWindows().front());
  const auto otherId = other->id();
  sessions().clearSession(otherId);
  EXPECT_EQ(db().find(otherId), nullptr);
  EXPECT_EQ(sessions().currentSession()->id(), UuidFromS(SessionService::MASTER_SESSION_ID));
  EXPECT_EQ(sessions().currentWindow(), sessions().getSessionWindow(UuidFromS(SessionService::MASTER_ROOT_ID)));
  sessions().clearSession(UuidFromS(SessionService::MASTER_SESSION_ID));
  EXPECT_NE(sessions().currentSession(), nullptr);

  sessions().setCurrentSession(fennik::server::random_uuid());
  EXPECT_EQ(sessions().currentSession(), nullptr);
  sessions().unsetCurrentSession();
  EXPECT_NE(sessions().currentSession(), nullptr);
}

TEST_F(SessionLayerTest, LayersNumberUpwardsAndDestroyingMovesLoneItemsToMaster) {
  LogCapture log;
  Layer* second = layers().create();
  EXPECT_EQ(second->getName(), "Layer");
  EXPECT_TRUE(second->getIsDeletable());
  second->setIndex(3, false);
  EXPECT_EQ(layers().create()->getIndex(), 4);  // after 0 (master) and 3

  VisualItem* g = item(0, 0, 80, 80);
  VisualItem* child = item(200, 0, 80, 80);
  tree().add(g, child);
  layers().setVisible(layers().masterLayer(), g, false);
  EXPECT_FALSE(layers().contains(layers().masterLayer(), child));  // descendants follow
  layers().setVisible(second, g, true);
  EXPECT_TRUE(layers().contains(second, child));

  VisualItem* shared = item(400, 0, 80, 80);
  layers().setVisible(second, shared, true);

  layers().destroy(layers().masterLayer());  // refused
  EXPECT_NE(db().find(UuidFromS(LayerService::MASTER_LAYER_ID)), nullptr);

  const auto secondId = second->id();
  layers().destroy(second);
  EXPECT_EQ(db().find(secondId), nullptr);
  EXPECT_TRUE(layers().contains(layers().masterLayer(), g));
  EXPECT_TRUE(layers().contains(layers().masterLayer(), child));
  EXPECT_EQ(layers().layerCount(shared), 1u);
  EXPECT_TRUE(log.contains("Item still on layer right before layer gets destroyed."));
}

}  // namespace
}  // namespace qor::server::testing
