#include "custom/VisualTreeService.h"

#include "service/LayerService.h"
#include "service/SessionService.h"
#include "service/SessionWindowService.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/service/ServiceResolver.h"

#include <algorithm>
#include <unordered_set>

namespace qor::server {

using fennik::server::Uuid;
using fennik::server::UuidFromS;
using namespace canvas;

namespace {

auto treeLog() { return fennik::server::getLogger(fennik::server::MODULE_LOGGER); }

std::vector<VisualItem*> sortedByZ(std::vector<VisualItem*> items) {
  std::erase(items, nullptr);
  std::stable_sort(items.begin(), items.end(),
                   [](const VisualItem* a, const VisualItem* b) { return a->getZ() < b->getZ(); });
  return items;
}

}  // namespace

std::shared_ptr<SessionService> VisualTreeService::sessions() const {
  auto r = services();
  return r ? r->get<SessionService>() : nullptr;
}
std::shared_ptr<SessionWindowService> VisualTreeService::windows() const {
  auto r = services();
  return r ? r->get<SessionWindowService>() : nullptr;
}
std::shared_ptr<LayerService> VisualTreeService::layers() const {
  auto r = services();
  return r ? r->get<LayerService>() : nullptr;
}

VisualItem* VisualTreeService::root() const { return db()->get<VisualItem>(UuidFromS(WORKSPACE_ROOT_ID)); }

VisualItem* VisualTreeService::makeRoot(const Uuid& id) {
  auto item = VisualItem::createDefaultInitialized(id);
  setRect(item.get(), Rect{0, CANVAS_WIDTH, 0, CANVAS_HEIGHT});
  item->setOrientation(VisualItemOrientation::NORTH, false);
  VisualItem* raw = item.get();
  db()->add(std::move(item));
  return raw;
}

void VisualTreeService::loaded() {
  if (!root()) makeRoot(UuidFromS(WORKSPACE_ROOT_ID));
}

VisualItem* VisualTreeService::createWorkspaceRoot() {
  VisualItem* item = makeRoot(fennik::server::random_uuid());
  auto s = sessions();
  SessionWindow* window = s ? s->createSessionWindow(item->id()) : nullptr;
  if (window) {
    window->setSelectionMode(VisualItemSelectionMode::DESIGN, false);
    if (auto l = layers()) window->setSelectedLayer(l->masterLayer());
  }
  return item;
}

VisualItem* VisualTreeService::create(int x, int y, int w, int h) {
  return create(fennik::server::random_uuid(), Uuid{}, x, y, w, h);
}

VisualItem* VisualTreeService::create(const Uuid& id, int x, int y, int w, int h) {
  return create(id, Uuid{}, x, y, w, h);
}

VisualItem* VisualTreeService::create(const Uuid& id, const Uuid& parentId, int x, int y, int w, int h) {
  if (w < 0 || w > CANVAS_WIDTH || h < 0 || h > CANVAS_HEIGHT) {
    treeLog()->error("Could not create VisualItem because of incompatible Geometry");
    return nullptr;
  }
  if (db()->find(id)) {
    treeLog()->error("Could not create VisualItem {}: the id is taken", fennik::server::UuidToS(id));
    return nullptr;
  }
  int left = std::max(x, 0);
  int top = std::max(y, 0);
  if (left + w > CANVAS_WIDTH) left = CANVAS_WIDTH - w;
  if (top + h > CANVAS_HEIGHT) top = CANVAS_HEIGHT - h;

  auto owned = VisualItem::createDefaultInitialized(id);
  VisualItem* item = owned.get();
  setZ(item, static_cast<std::int32_t>(db()->countOfClass(VisualItem::CLASS_NAME)));
  setWidth(item, floorToGrid(w));
  setHeight(item, floorToGrid(h));
  item->setOrientation(VisualItemOrientation::NORTH, false);
  clampedMove({item}, left, top);

  VisualItem* parent = parentId.is_nil() ? root() : db()->get<VisualItem>(parentId);
  if (parent && parent != item) add(parent, item);
  db()->add(std::move(owned));

  auto s = sessions();
  SessionWindow* window = s ? s->getSessionWindow(parentId) : nullptr;
  if (!window && s) window = s->currentWindow();
  if (window && window->getSelectedLayer()) {
    if (auto l = layers()) l->setVisible(window->getSelectedLayer(), item, true);
  }
  return item;
}

void VisualTreeService::destroy(VisualItem* item) {
  if (!item || item == root()) return;
  if (VisualItem* parent = item->getParent()) {
    parent->removeChildren(item);
    item->setParent(nullptr);
  }
  // Children left behind must not point at a deleted parent.
  const std::vector<VisualItem*> children = item->childrens();
  for (VisualItem* child : children) {
    if (child && child->getParent() == item) child->setParent(nullptr);
  }
  // Any window may still hold the item (selections, copy list), and no layer
  // may keep it: none of them may point at a deleted item.
  if (auto w = windows()) w->forgetItem(item);
  if (auto l = layers()) l->removeFromAllLayers(item);
  // A canvas root takes its session window with it.
  auto s = sessions();
  if (SessionWindow* window = s ? s->getSessionWindow(item->id()) : nullptr) {
    window->setSelectedLayer(nullptr);
    s->destroySessionWindow(item->id());
  }
  db()->deleteEntity(item);
}

VisualItem* VisualTreeService::group(const std::vector<VisualItem*>& items) {
  return group(fennik::server::random_uuid(), items);
}

VisualItem* VisualTreeService::group(const Uuid& id, const std::vector<VisualItem*>& items) {
  auto w = windows();
  if (!w || w->getSelectionMode() != VisualItemSelectionMode::DESIGN) {
    treeLog()->info("Grouping is only allowed in design selection mode");
    return nullptr;
  }
  std::vector<VisualItem*> members = items;
  std::erase(members, nullptr);
  if (!shareOneParent(members)) return nullptr;
  VisualItem* formerParent = members.front()->getParent();

  VisualItem* g = create(id, Uuid{}, 0, 0, 0, 0);
  if (!g) return nullptr;
  setTag(g, VisualItemSelectionMode::DESIGN, true);
  std::int32_t lowest = members.front()->getZ();
  for (const VisualItem* m : members) lowest = std::min(lowest, m->getZ());
  setZ(g, lowest);

  for (VisualItem* m : members) add(g, m);
  add(formerParent, g);
  if (!isIndexReparationPostponed()) repairIndexesFromWorkspace();
  fitToChildren(g);

  w->deselectAll();
  w->select(g);
  return g;
}

VisualItem* VisualTreeService::groupSelected() { return group(getSelectedItems()); }

void VisualTreeService::ungroup(VisualItem* item) {
  auto w = windows();
  if (!w || w->getSelectionMode() != VisualItemSelectionMode::DESIGN) {
    treeLog()->info("Ungrouping is only allowed in design selection mode");
    return;
  }
  // Only groups come apart: ungrouping a plain item must not delete it.
  if (!item || item == root() || item->childrens().empty()) return;
  VisualItem* parent = item->getParent();
  const std::vector<VisualItem*> children = item->childrens();
  for (VisualItem* child : children) {
    if (!child) continue;
    add(parent, child);
    w->select(child);
  }
  destroy(item);
}

void VisualTreeService::ungroupSelected() {
  const std::vector<VisualItem*> selected = getSelectedItems();
  for (VisualItem* item : selected) ungroup(item);
}

void VisualTreeService::add(VisualItem* parent, VisualItem* item) {
  if (!parent || !item || parent == item || item->getParent() == parent) return;
  // Putting an item into its own subtree would cut the tree loose.
  for (VisualItem* p = parent; p; p = p->getParent()) {
    if (p == item) return;
  }
  if (VisualItem* old = item->getParent()) {
    old->removeChildren(item);
    fitToChildren(old);
  }
  item->setParent(parent);
  parent->addChildren(item);
  fitToChildren(parent);
  if (!isIndexReparationPostponed()) repairIndexes(findRoot(parent));
}

std::vector<VisualItem*> VisualTreeService::find(const std::vector<Uuid>& ids) const {
  std::vector<VisualItem*> found;
  for (const Uuid& id : ids) {
    if (VisualItem* item = db()->get<VisualItem>(id)) found.push_back(item);
  }
  return found;
}

void VisualTreeService::setTag(VisualItem* item, VisualItemSelectionMode mode, bool set) {
  if (!item) return;
  const int bit = 1 << static_cast<int>(mode);
  const int tags = set ? (item->getTags() | bit) : (item->getTags() & ~bit);
  if (tags != item->getTags()) item->setTags(tags, false);
}

void VisualTreeService::setVisible(VisualItem* item, bool visible) {
  if (item && item->getVisible() != visible) item->setVisible(visible, false);
}

void VisualTreeService::fitToChildren(VisualItem* item) {
  if (!item || !item->getParent() || item->childrens().empty()) return;
  std::vector<VisualItem*> descendants;
  for (VisualItem* child : item->childrens()) forEachInSubtree(child, [&](VisualItem* d) { descendants.push_back(d); });
  setRect(item, boundingBox(descendants));
}

void VisualTreeService::refitSubtree(VisualItem* item) {
  if (!item) return;
  for (VisualItem* child : item->childrens()) refitSubtree(child);
  fitToChildren(item);
}

// --- stacking order ---

void VisualTreeService::startPostponeIndexReparation() { ++postpone_; }

void VisualTreeService::endPostponeIndexReparation() {
  --postpone_;
  if (postpone_ < 1) {
    postpone_ = 0;
    repairIndexesFromWorkspace();
  }
}

void VisualTreeService::repairIndexesFromWorkspace() { repairIndexes(root()); }

void VisualTreeService::repairIndexes(VisualItem* treeRoot) {
  if (!treeRoot) return;
  // Iterative post-order: deep canvases must not exhaust the stack.
  struct Frame {
    VisualItem* item;
    std::vector<VisualItem*> children;
    std::size_t next;
  };
  std::int32_t counter = 1;
  std::vector<Frame> stack;
  stack.push_back({treeRoot, sortedByZ(treeRoot->childrens()), 0});
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.next < top.children.size()) {
      VisualItem* child = top.children[top.next++];
      stack.push_back({child, sortedByZ(child->childrens()), 0});
      continue;
    }
    if (top.item != treeRoot) setZ(top.item, counter++);
    stack.pop_back();
  }
}

// --- selection ---

std::vector<VisualItem*> VisualTreeService::getSelectedItems() const {
  auto s = sessions();
  const SessionWindow* window = s ? s->currentWindow() : nullptr;
  return window ? window->selectedDesignItems().toVector() : std::vector<VisualItem*>{};
}

std::vector<VisualItem*> VisualTreeService::getTopLevelItemsOnLayer(const Layer* layer) const {
  if (!layer || layer->visualItems().empty()) return {};
  const std::vector<VisualItem*>& members = layer->visualItems();
  const std::unordered_set<const VisualItem*> onLayer(members.begin(), members.end());
  VisualItem* first = members.front();
  VisualItem* top = findRoot(first);
  if (!top) return {};
  std::vector<VisualItem*> result;
  for (VisualItem* child : top->childrens()) {
    if (child && onLayer.count(child)) result.push_back(child);
  }
  return result;
}

std::vector<VisualItem*> VisualTreeService::getTopLevelItemsOnlyVisibleOnLayer(const Layer* layer) const {
  std::vector<VisualItem*> result;
  auto l = layers();
  if (!layer || !l) return result;
  for (VisualItem* item : getTopLevelItemsOnLayer(layer)) {
    if (l->layerCount(item) == 1) result.push_back(item);
  }
  return result;
}

void VisualTreeService::selectAll(bool select) {
  auto w = windows();
  auto s = sessions();
  if (!w || !s) return;
  w->deselectAll();
  if (!select) return;
  const SessionWindow* window = s->currentWindow();
  if (!window) return;
  const VisualItemSelectionMode mode = window->getSelectionMode();
  const int bit = 1 << static_cast<int>(mode);
  std::vector<VisualItem*> visit;
  for (VisualItem* top : getTopLevelItemsOnLayer(window->getSelectedLayer())) {
    if (mode == VisualItemSelectionMode::DEVICE) {
      forEachInSubtree(top, [&](VisualItem* i) { visit.push_back(i); });
    } else {
      visit.push_back(top);
    }
  }
  for (VisualItem* item : visit) {
    if (item->getTags() & bit) selectSingle(item, true);
  }
}

void VisualTreeService::selectSingle(VisualItem* item, bool select) {
  auto w = windows();
  auto s = sessions();
  if (!w || !s || !item) return;
  const std::vector<VisualItem*>& selected = w->selectedItems();
  if (!selected.empty() && selected.front()) {
    VisualItem* otherRoot = findRoot(selected.front());
    if (otherRoot != findRoot(item)) {
      treeLog()->info("Non-sibling selection is not allowed.");
      w->deselectAllFromRoot(otherRoot);
    }
  }
  const SessionWindow* window = s->currentWindow();
  auto l = layers();
  if (select && window && window->getSelectedLayer() && l && !l->contains(window->getSelectedLayer(), item)) {
    treeLog()->info("Selection outside of current layer not allowed.");
    return;
  }
  w->deselect(item);
  if (select) w->select(item);
}

}  // namespace qor::server
