// The layout commands of the visual tree: moves, rotation, resizing,
// alignment, distribution, stacking, Z moves and automatic placement.

#include "custom/VisualTreeService.h"

#include "service/LayerService.h"
#include "service/SessionService.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/service/ServiceResolver.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <numeric>

namespace qor::server {

using namespace canvas;

namespace {

std::vector<VisualItem*> withoutNulls(std::vector<VisualItem*> items) {
  std::erase(items, nullptr);
  return items;
}

VisualItemOrientation turned(VisualItemOrientation o, bool clockwise) {
  // Clockwise: EAST -> SOUTH -> WEST -> NORTH -> EAST.
  static constexpr VisualItemOrientation ring[] = {VisualItemOrientation::EAST, VisualItemOrientation::SOUTH,
                                                   VisualItemOrientation::WEST, VisualItemOrientation::NORTH};
  int at = 0;
  for (int i = 0; i < 4; ++i) {
    if (ring[i] == o) at = i;
  }
  return ring[(at + (clockwise ? 1 : 3)) % 4];
}

// Turns one item by +/-90 degrees about the canvas origin.
void turnAboutOrigin(VisualItem* item, bool clockwise) {
  const Rect r = rectOf(*item);
  const Rect turned90 = clockwise ? Rect{-r.bottom, -r.bottom + r.height(), r.left, r.left + r.width()}
                                  : Rect{r.top, r.top + r.height(), -r.right, -r.right + r.width()};
  setRect(item, turned90);
  item->setOrientation(turned(item->getOrientation(), clockwise), false);
}

}  // namespace

void VisualTreeService::moveInternal(VisualItem* item, int dx, int dy) {
  if (!item || (dx == 0 && dy == 0)) return;
  forEachInSubtree(item, [&](VisualItem* i) {
    setX(i, i->getX() + dx);
    setY(i, i->getY() + dy);
  });
}

void VisualTreeService::clampedMove(const std::vector<VisualItem*>& items, int dx, int dy) {
  const std::vector<VisualItem*> list = withoutNulls(items);
  if (list.empty()) return;
  const Rect b = boundingBox(list);
  dx = dx < 0 ? std::max(dx, -b.left) : std::min(dx, CANVAS_WIDTH - b.right);
  dy = dy < 0 ? std::max(dy, -b.top) : std::min(dy, CANVAS_HEIGHT - b.bottom);
  dx = truncToGrid(dx);
  dy = truncToGrid(dy);
  for (VisualItem* item : list) moveInternal(item, dx, dy);
}

void VisualTreeService::move(const std::vector<VisualItem*>& items, int dx, int dy) { clampedMove(items, dx, dy); }

void VisualTreeService::move(const std::vector<VisualItem*>& items, const VisualItem* target) {
  if (!target) return;
  for (VisualItem* item : withoutNulls(items)) {
    clampedMove({item}, target->getX() - item->getX(), target->getY() - item->getY());
  }
}

void VisualTreeService::moveAbsolute(VisualItem* item, int x, int y) {
  if (!item || (item->getX() == x && item->getY() == y)) return;
  clampedMove({item}, x - item->getX(), y - item->getY());
}

void VisualTreeService::moveSelected(int dx, int dy) { move(getSelectedItems(), dx, dy); }

void VisualTreeService::rotateSelected(int degrees) { rotate(getSelectedItems(), degrees); }

void VisualTreeService::rotate(const std::vector<VisualItem*>& items, int degrees) {
  for (VisualItem* item : withoutNulls(items)) rotate(item, degrees);
}

void VisualTreeService::rotate(VisualItem* item, int degrees) {
  if (!item || (degrees != 90 && degrees != -90)) return;
  // It must still fit the canvas once turned.
  if (item->getHeight() > CANVAS_WIDTH || item->getWidth() > CANVAS_HEIGHT) return;
  const Rect before = rectOf(*item);
  const int cx = before.left + before.width() / 2;
  const int cy = before.top + before.height() / 2;
  forEachInSubtree(item, [&](VisualItem* i) { turnAboutOrigin(i, degrees == 90); });
  const Rect after = rectOf(*item);
  int dx = cx - (after.left + after.width() / 2);
  int dy = cy - (after.top + after.height() / 2);
  dx = std::clamp(dx, -after.left, CANVAS_WIDTH - after.right);
  dy = std::clamp(dy, -after.top, CANVAS_HEIGHT - after.bottom);
  clampedMove({item}, dx, dy);
}

void VisualTreeService::resize(VisualItem* item, int x, int y, int w, int h) {
  if (!item) return;
  if (item->getX() == x && item->getY() == y && item->getWidth() == w && item->getHeight() == h) return;
  clampedMove({item}, x - item->getX(), y - item->getY());
  w = truncToGrid(w);
  h = truncToGrid(h);
  while (item->getX() + w > CANVAS_WIDTH) {
    w -= GRID;
    if (w < 0) return;
  }
  while (item->getY() + h > CANVAS_HEIGHT) {
    h -= GRID;
    if (h < 0) return;
  }
  setWidth(item, w);
  setHeight(item, h);
  refitSubtree(item);
  // The groups that hold the item follow it, so they never cut it off.
  for (VisualItem* p = item->getParent(); p; p = p->getParent()) fitToChildren(p);
}

void VisualTreeService::autoPlace(VisualItem* item, int margin) {
  if (!item) return;
  Rect r = rectOf(*item);
  // Without an area the item overlaps nothing: it stays.
  if (r.width() <= 0 || r.height() <= 0) return;
  auto s = sessions();
  const VisualItem* treeRoot = findRoot(item);
  const SessionWindow* window = s ? s->getSessionWindow(treeRoot->id()) : nullptr;
  std::vector<Rect> obstacles;
  int widest = 0;
  for (const VisualItem* other : getTopLevelItemsOnLayer(window ? window->getSelectedLayer() : nullptr)) {
    if (other == item) continue;
    const Rect o = rectOf(*other);
    const Rect grown{o.left - margin, o.right + margin, o.top - margin, o.bottom + margin};
    if (grown.width() <= 0 || grown.height() <= 0) continue;  // blocks nothing
    obstacles.push_back(grown);
    widest = std::max(widest, grown.width());
  }
  std::sort(obstacles.begin(), obstacles.end(), [](const Rect& a, const Rect& b) { return a.left < b.left; });

  // The search walks R down its column and, when the column is full, starts
  // again at the top 8 units to the right. Jumping to the lowest bottom of
  // the obstacles that overlap R never passes a free spot, so the column's
  // obstacles are taken in order of their tops and R lands on the first free
  // spot in one pass per column.
  std::vector<Rect> column;
  const int height = r.height();
  for (;;) {
    column.clear();
    // Only obstacles that share columns with R can block it.
    auto from = std::lower_bound(obstacles.begin(), obstacles.end(), r.left - widest + 1,
                                 [](const Rect& o, int left) { return o.left < left; });
    for (auto it = from; it != obstacles.end() && it->left < r.right; ++it) {
      if (it->right > r.left) column.push_back(*it);
    }
    std::sort(column.begin(), column.end(), [](const Rect& a, const Rect& b) { return a.top < b.top; });
    std::size_t next = 0;
    int lowestBottom = std::numeric_limits<int>::min();
    bool full = false;
    for (;;) {
      while (next < column.size() && column[next].top < r.bottom)
        lowestBottom = std::max(lowestBottom, column[next++].bottom);
      if (lowestBottom <= r.top) break;  // nothing overlaps: a free spot
      r.top = lowestBottom;
      r.bottom = r.top + height;
      if (r.bottom >= CANVAS_HEIGHT) {
        full = true;
        break;
      }
    }
    if (!full) break;
    r.top = 0;
    r.bottom = height;
    r.left += GRID;
    r.right += GRID;
    if (r.right > CANVAS_WIDTH - 1) return;
  }
  clampedMove({item}, r.left - item->getX(), r.top - item->getY());
}

// --- alignment ---

void VisualTreeService::alignSelected(VisualItemAlignMode mode) { applyAlignment(getSelectedItems(), mode); }

void VisualTreeService::applyAlignment(const std::vector<VisualItem*>& items, VisualItemAlignMode mode) {
  const auto value = static_cast<std::int32_t>(mode);
  if (value < 0 || value > static_cast<std::int32_t>(VisualItemAlignMode::MOVE_BOTTOM)) {
    fennik::server::getLogger(fennik::server::MODULE_LOGGER)->error("Unknown VisualItemAlignMode is used");
    return;
  }
  if (items.empty() || !shareOneParent(items)) return;
  switch (mode) {
    case VisualItemAlignMode::DISTRIBUTE_H:
    case VisualItemAlignMode::DISTRIBUTE_V:
      distribute(items, mode == VisualItemAlignMode::DISTRIBUTE_H);
      return;
    case VisualItemAlignMode::STACK_H:
    case VisualItemAlignMode::STACK_V:
      stack(items, mode == VisualItemAlignMode::STACK_H);
      return;
    case VisualItemAlignMode::MOVE_TOP:
    case VisualItemAlignMode::MOVE_UP:
    case VisualItemAlignMode::MOVE_DOWN:
    case VisualItemAlignMode::MOVE_BOTTOM:
      moveInZ(items, mode);
      return;
    default:
      break;
  }
  const Rect b = boundingBox(items);
  for (VisualItem* item : items) {
    int dx = 0;
    int dy = 0;
    switch (mode) {
      case VisualItemAlignMode::TOP:
        dy = b.top - item->getY();
        break;
      case VisualItemAlignMode::LEFT:
        dx = b.left - item->getX();
        break;
      case VisualItemAlignMode::BOTTOM:
        dy = b.bottom - item->getY() - item->getHeight();
        break;
      case VisualItemAlignMode::RIGHT:
        dx = b.right - item->getX() - item->getWidth();
        break;
      case VisualItemAlignMode::CENTER_V:
        dy = b.top + (b.height() - item->getHeight()) / 2 - item->getY();
        break;
      case VisualItemAlignMode::CENTER_H:
        dx = b.left + (b.width() - item->getWidth()) / 2 - item->getX();
        break;
      default:
        return;  // NONE and values outside the table change nothing
    }
    moveInternal(item, floorToGrid(dx), floorToGrid(dy));
  }
}

void VisualTreeService::distribute(const std::vector<VisualItem*>& items, bool horizontal) {
  const std::size_t n = items.size();
  if (n < 3) return;
  // One axis at a time: position, extent and a move along it.
  auto pos = [&](const VisualItem* i) { return horizontal ? i->getX() : i->getY(); };
  auto extent = [&](const VisualItem* i) { return horizontal ? i->getWidth() : i->getHeight(); };
  auto moveTo = [&](VisualItem* i, int p) {
    moveInternal(i, horizontal ? p - i->getX() : 0, horizontal ? 0 : p - i->getY());
  };
  const Rect b = boundingBox(items);
  const int lo = horizontal ? b.left : b.top;
  const int hi = horizontal ? b.right : b.bottom;

  VisualItem* first = items.front();
  VisualItem* last = items.front();
  for (VisualItem* i : items) {
    if (pos(i) < pos(first)) first = i;
    if (pos(i) + extent(i) > pos(last) + extent(last)) last = i;
  }
  int othersExtent = 0;
  for (const VisualItem* i : items) {
    if (i != first && i != last) othersExtent += extent(i);
  }
  const int inner = (hi - lo) - extent(first) - extent(last);
  int gap = inner - othersExtent;
  const bool overlap = inner < 0 || gap < 0;
  if (overlap) gap = (hi - lo) - othersExtent;
  gap /= static_cast<int>(n - 1);

  std::vector<VisualItem*> sorted = items;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [&](const VisualItem* a, const VisualItem* c) { return pos(a) < pos(c); });
  VisualItem* prev = nullptr;
  auto place = [&](VisualItem* i) {
    const int p = truncToGrid(overlap && prev == first ? pos(prev) + std::abs(gap) : pos(prev) + extent(prev) + gap);
    if (lo <= p && p + extent(i) <= hi) moveTo(i, p);
    prev = i;
  };
  for (VisualItem* i : sorted) {
    if (!prev) {
      prev = i;
      continue;
    }
    if (i == last) continue;
    place(i);
  }
  place(last);
}

void VisualTreeService::stack(const std::vector<VisualItem*>& items, bool horizontal) {
  const Rect b = boundingBox(items);
  const int cx = b.left + b.width() / 2;
  const int cy = b.top + b.height() / 2;
  auto along = [&](const VisualItem* i) { return horizontal ? i->getWidth() : i->getHeight(); };
  long long total = 0;
  for (const VisualItem* i : items) total += along(i);
  if (total > (horizontal ? CANVAS_WIDTH : CANVAS_HEIGHT) - 1) return;

  std::vector<VisualItem*> sorted = items;
  std::stable_sort(sorted.begin(), sorted.end(), [&](const VisualItem* a, const VisualItem* c) {
    return horizontal ? a->getX() < c->getX() : a->getY() < c->getY();
  });
  int cursor = std::max(truncToGrid((horizontal ? cx : cy) - static_cast<int>(total) / 2), 0);
  for (VisualItem* i : sorted) {
    if (horizontal) {
      moveInternal(i, cursor - i->getX(), floorToGrid(cy - i->getHeight() / 2 - i->getY()));
    } else {
      moveInternal(i, floorToGrid(cx - i->getWidth() / 2 - i->getX()), cursor - i->getY());
    }
    cursor += along(i);
  }
}

void VisualTreeService::moveInZ(const std::vector<VisualItem*>& items, VisualItemAlignMode mode) {
  VisualItem* parent = items.front()->getParent();
  if (!parent) return;
  std::vector<VisualItem*> siblings = withoutNulls(parent->childrens());
  std::vector<VisualItem*> chosen = items;
  std::sort(chosen.begin(), chosen.end());
  chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
  if (chosen.size() >= siblings.size()) return;  // all of the parent's children: nothing moves

  auto byZ = [](const VisualItem* a, const VisualItem* b) { return a->getZ() < b->getZ(); };
  std::stable_sort(siblings.begin(), siblings.end(), byZ);
  std::stable_sort(chosen.begin(), chosen.end(), byZ);
  auto swapWith = [&](VisualItem* item, int step) {
    auto at = std::find(siblings.begin(), siblings.end(), item);
    const auto index = at - siblings.begin();
    const auto other = index + step;
    if (other < 0 || other >= static_cast<std::ptrdiff_t>(siblings.size())) return;
    VisualItem* neighbour = siblings[other];
    const std::int32_t z = item->getZ();
    setZ(item, neighbour->getZ());
    setZ(neighbour, z);
    std::swap(siblings[index], siblings[other]);
  };
  switch (mode) {
    case VisualItemAlignMode::MOVE_DOWN:
      for (VisualItem* item : chosen) swapWith(item, -1);
      break;
    case VisualItemAlignMode::MOVE_UP:
      for (auto it = chosen.rbegin(); it != chosen.rend(); ++it) swapWith(*it, +1);
      break;
    case VisualItemAlignMode::MOVE_TOP: {
      std::int32_t z = siblings.back()->getZ();
      for (VisualItem* item : chosen) setZ(item, ++z);
      break;
    }
    case VisualItemAlignMode::MOVE_BOTTOM: {
      std::int32_t z = siblings.front()->getZ();
      for (auto it = chosen.rbegin(); it != chosen.rend(); ++it) setZ(*it, --z);
      break;
    }
    default:
      return;
  }
  if (!isIndexReparationPostponed()) repairIndexesFromWorkspace();
}

}  // namespace qor::server
