#include "custom/canvas/CanvasGeometry.h"

#include <algorithm>

namespace qor::server::canvas {

Rect rectOf(const VisualItem& item) {
  return Rect{item.getX(), item.getX() + item.getWidth(), item.getY(), item.getY() + item.getHeight()};
}

Rect boundingBox(const std::vector<VisualItem*>& items) {
  bool first = true;
  Rect box;
  for (const VisualItem* item : items) {
    if (!item) continue;
    const Rect r = rectOf(*item);
    if (first) {
      box = r;
      first = false;
      continue;
    }
    box.left = std::min(box.left, r.left);
    box.right = std::max(box.right, r.right);
    box.top = std::min(box.top, r.top);
    box.bottom = std::max(box.bottom, r.bottom);
  }
  return box;
}

bool overlaps(const Rect& a, const Rect& b) {
  return std::max(a.left, b.left) < std::min(a.right, b.right) && std::max(a.top, b.top) < std::min(a.bottom, b.bottom);
}

VisualItem* topAncestor(VisualItem* item) {
  if (!item) return nullptr;
  // A cycle would be a broken tree; the bound keeps a bad project from hanging the loop.
  for (std::size_t guard = 0; item->getParent() && guard < 1'000'000; ++guard) item = item->getParent();
  return item;
}

void forEachInSubtree(VisualItem* item, const std::function<void(VisualItem*)>& fn) {
  if (!item) return;
  std::vector<VisualItem*> stack{item};
  while (!stack.empty()) {
    VisualItem* current = stack.back();
    stack.pop_back();
    fn(current);
    const auto& children = current->childrens();
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
      if (*it) stack.push_back(*it);
    }
  }
}

bool shareOneParent(const std::vector<VisualItem*>& items) {
  if (items.empty() || !items.front()) return false;
  const VisualItem* parent = items.front()->getParent();
  return std::all_of(items.begin(), items.end(), [&](const VisualItem* i) { return i && i->getParent() == parent; });
}

void setX(VisualItem* item, std::int32_t v) {
  if (item->getX() != v) item->setX(v, false);
}
void setY(VisualItem* item, std::int32_t v) {
  if (item->getY() != v) item->setY(v, false);
}
void setZ(VisualItem* item, std::int32_t v) {
  if (item->getZ() != v) item->setZ(v, false);
}
void setWidth(VisualItem* item, std::int32_t v) {
  if (item->getWidth() != v) item->setWidth(v, false);
}
void setHeight(VisualItem* item, std::int32_t v) {
  if (item->getHeight() != v) item->setHeight(v, false);
}
void setRect(VisualItem* item, const Rect& r) {
  setX(item, r.left);
  setY(item, r.top);
  setWidth(item, r.width());
  setHeight(item, r.height());
}

}  // namespace qor::server::canvas
