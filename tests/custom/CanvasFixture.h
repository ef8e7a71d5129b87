#pragma once
// A new project with every live-sound service: the master session and its
// window current in design mode, the master layer selected, the workspace
// root present. The loop is driven by hand.

#include "custom/HighlightService.h"
#include "custom/VisualTreeService.h"
#include "custom/livesound/LivesoundService.h"
#include "model/GeneratedServices.h"
#include "module/HandWrittenServices.h"
#include "service/LayerService.h"
#include "service/SessionService.h"
#include "service/SessionWindowService.h"

#include "fennik/server/entity/Database.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/ServiceResolver.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace qor::server::testing {

class CanvasFixture : public ::testing::Test {
 protected:
  CanvasFixture() : context_(fennik::server::EntityContext::create(fennik::server::JobLoop::Mode::Manual)) {
    addGeneratedServices(context_);
    addHandWrittenServices(context_);
    context_->services()->forEach([](fennik::server::Service& s) { s.loaded(); });
  }
  ~CanvasFixture() override { context_->services()->clear(); }

  template <class S>
  std::shared_ptr<S> service() const {
    return context_->services()->get<S>();
  }
  fennik::server::Database& db() const { return *context_->db(); }
  VisualTreeService& tree() const { return *service<VisualTreeService>(); }
  SessionWindowService& windows() const { return *service<SessionWindowService>(); }
  SessionService& sessions() const { return *service<SessionService>(); }
  LayerService& layers() const { return *service<LayerService>(); }
  LivesoundService& livesound() const { return *service<LivesoundService>(); }
  SessionWindow& window() const { return *windows().currentSessionWindow(); }

  // A selectable design item on the workspace root.
  VisualItem* item(int x, int y, int w, int h) const {
    VisualItem* i = tree().create(x, y, w, h);
    tree().setTag(i, VisualItemSelectionMode::DESIGN, true);
    tree().setTag(i, VisualItemSelectionMode::DEVICE, true);
    return i;
  }
  // An item with exactly this rectangle, off the grid if need be, as a
  // client's field update can leave it.
  VisualItem* exact(int x, int y, int w, int h) const {
    VisualItem* i = item(x, y, w, h);
    canvas::setRect(i, canvas::Rect{x, x + w, y, y + h});
    return i;
  }
  std::vector<VisualItem*> selection() const { return windows().selectedItems(); }

 private:
  std::shared_ptr<fennik::server::EntityContext> context_;
};

// Rectangles as (x, y, width, height), the way users read them.
struct Box {
  int x, y, w, h;
  bool operator==(const Box&) const = default;
};
inline Box boxOf(const VisualItem* i) { return Box{i->getX(), i->getY(), i->getWidth(), i->getHeight()}; }
inline std::ostream& operator<<(std::ostream& os, const Box& b) {
  return os << "(" << b.x << ", " << b.y << ", " << b.w << " x " << b.h << ")";
}

}  // namespace qor::server::testing
