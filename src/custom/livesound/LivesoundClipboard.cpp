// LivesoundService: duplicating, copying and pasting canvas items, and
// wrapping the selected devices into a device group. The clipboard holds no
// data: the current window keeps references to the copied items and a paste
// counter, and a paste copies the items as they are at that moment.
#include "custom/livesound/LivesoundService.h"

#include "custom/VisualTreeService.h"
#include "custom/canvas/CanvasGeometry.h"
#include "custom/livesound/LivesoundLog.h"
#include "service/DeviceService.h"
#include "service/FtConnectorService.h"
#include "service/LayerService.h"
#include "service/SessionWindowService.h"

#include "qor/server/entities/Device.h"
#include "qor/server/entities/FtDeviceInfo.h"
#include "qor/server/entities/SessionWindow.h"

#include "fennik/server/entity/Database.h"
#include "fennik/server/service/ServiceResolver.h"

#include <algorithm>
#include <numeric>
#include <optional>

namespace qor::server {

using fennik::server::Uuid;

namespace {

// A duplicate lands this far right and down of its original.
constexpr int DUPLICATE_OFFSET = 16;
// Each paste of the same clipboard lands this much further right and down.
constexpr int PASTE_STEP = 32;

std::vector<VisualItem*> presentItems(std::vector<VisualItem*> items) {
  std::erase(items, nullptr);
  return items;
}

// Brackets bulk tree changes so the stacking order is renumbered once.
class PostponedIndexes {
 public:
  explicit PostponedIndexes(VisualTreeService& tree) : tree_(tree) { tree_.startPostponeIndexReparation(); }
  ~PostponedIndexes() { tree_.endPostponeIndexReparation(); }
  PostponedIndexes(const PostponedIndexes&) = delete;
  PostponedIndexes& operator=(const PostponedIndexes&) = delete;

 private:
  VisualTreeService& tree_;
};

}  // namespace

void LivesoundService::placeCopy(const VisualItem* original, VisualItem* copy) {
  // How a device class builds the copy's item differs (some leave it off the
  // canvas, some at the origin): it joins the canvas of the current window
  // and takes the original's place, size, orientation and selectability.
  if (!copy->getParent()) {
    placeInTree(copy);
  } else if (const SessionWindow* window = windows()->currentSessionWindow(); window && window->getSelectedLayer()) {
    layers()->setVisible(window->getSelectedLayer(), copy, true);
  }
  if (copy->getTags() != original->getTags()) copy->setTags(original->getTags(), false);
  if (copy->getOrientation() != original->getOrientation()) copy->setOrientation(original->getOrientation(), false);
  canvas::setWidth(copy, original->getWidth());
  canvas::setHeight(copy, original->getHeight());
  tree()->moveAbsolute(copy, original->getX(), original->getY());
}

std::vector<VisualItem*> LivesoundService::visualItemDuplicate(const std::vector<VisualItem*>& items) {
  auto t = tree();
  const std::vector<Device*> devices = devicesOf(items);
  // Copies are made in the order of the originals' device numbers, so that
  // their default names follow it; items without a numbered device come last.
  auto number = [&](std::size_t i) -> std::optional<std::int32_t> {
    const FtDeviceInfo* info = devices[i] ? devices[i]->getDeviceInfo() : nullptr;
    return info ? std::optional(info->getDeviceIntId()) : std::nullopt;
  };
  std::vector<std::size_t> order(items.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const auto na = number(a);
    const auto nb = number(b);
    return na && (!nb || *na < *nb);
  });

  std::vector<VisualItem*> copies(items.size(), nullptr);
  for (std::size_t i : order) {
    VisualItem* original = items[i];
    if (!original) continue;
    if (Device* device = devices[i]) {
      Device* copy = deviceDuplicate(device);
      VisualItem* item = copy ? copy->getVisualItem() : nullptr;
      if (item) placeCopy(original, item);
      copies[i] = item;
      continue;
    }
    // A design group: copies of its members in a new item of its rectangle.
    const std::vector<VisualItem*> members = visualItemDuplicate(original->childrens());
    VisualItem* group = t->create(original->getX(), original->getY(), original->getWidth(), original->getHeight());
    if (!group) continue;
    if (group->getTags() != original->getTags()) group->setTags(original->getTags(), false);
    for (VisualItem* member : members) {
      if (member) t->add(group, member);
    }
    copies[i] = group;
  }
  return copies;
}

void LivesoundService::visualItemDuplicateSelected() {
  LIVESOUND_TRACE("visualItemDuplicateSelected");
  const std::vector<VisualItem*> selected = windows()->selectedItems();
  if (selected.empty()) return;
  auto t = tree();
  {
    PostponedIndexes bulk(*t);
    const std::vector<VisualItem*> copies = visualItemDuplicate(selected);
    // The copies move as one block, whichever selection mode is on; moved
    // before they join their originals' parents, so those groups fit them.
    t->move(presentItems(copies), DUPLICATE_OFFSET, DUPLICATE_OFFSET);
    t->selectAll(false);
    for (std::size_t i = 0; i < copies.size(); ++i) {
      if (!copies[i]) continue;
      if (VisualItem* parent = selected[i] ? selected[i]->getParent() : nullptr) t->add(parent, copies[i]);
      t->selectSingle(copies[i], true);
    }
  }
  updateSessionGroupable();
  // The copies' connectors are new: an open connector dialogue offers them.
  if (auto connectors = services()->get<FtConnectorService>()) connectors->update();
}

void LivesoundService::visualItemCopySelected() {
  LIVESOUND_TRACE("visualItemCopySelected");
  const std::vector<VisualItem*> selected = windows()->selectedItems();
  SessionWindow* window = windows()->currentSessionWindow();
  if (selected.empty() || !window) return;
  // Emptied from the back, one entry at a time, so listeners see each go.
  while (!window->selectedDesignItemForCopys().empty() && window->selectedDesignItemForCopys().back()) {
    window->removeSelectedDesignItemForCopy(window->selectedDesignItemForCopys().back());
  }
  if (!window->selectedDesignItemForCopys().empty()) window->setSelectedDesignItemForCopyIds({});
  window->setSelectedDesignItemForCopyPositionIndex(0, false);
  for (VisualItem* item : selected) window->addSelectedDesignItemForCopy(item);
}

void LivesoundService::visualItemPaste() {
  LIVESOUND_TRACE("visualItemPaste");
  SessionWindow* window = windows()->currentSessionWindow();
  if (!window) return;
  const std::vector<VisualItem*> copied = window->selectedDesignItemForCopys();
  if (copied.empty()) return;
  auto t = tree();
  {
    PostponedIndexes bulk(*t);
    const std::vector<VisualItem*> copies = visualItemDuplicate(copied);
    const std::int32_t step = window->getSelectedDesignItemForCopyPositionIndex() + 1;
    window->setSelectedDesignItemForCopyPositionIndex(step, false);
    // Each copy lands beside its original, in the original's parent (moved
    // before it joins, so a group parent fits it).
    for (std::size_t i = 0; i < copies.size(); ++i) {
      VisualItem* parent = copied[i] ? copied[i]->getParent() : nullptr;
      if (!copies[i] || !parent) continue;
      t->move({copies[i]}, PASTE_STEP * step, PASTE_STEP * step);
      t->add(parent, copies[i]);
    }
    t->selectAll(false);
    for (VisualItem* copy : copies) t->selectSingle(copy, true);
  }
  updateSessionGroupable();
}

void LivesoundService::visualItemDeviceForSelected(const Uuid& id, bool embed) {
  LIVESOUND_TRACE("visualItemDeviceForSelected");
  const std::vector<VisualItem*> selected = windows()->selectedItems();
  if (selected.empty()) return;
  if (id.is_nil() || db()->find(id)) {
    livesound::log()->error("No device group {} made: the id is nil or taken", fennik::server::UuidToS(id));
    return;
  }
  const canvas::Rect box = canvas::boundingBox(presentItems(selected));
  Device* group = services()->get<DeviceService>()->createGroup(id, getSelectedDevices());
  if (embed && group && group->getIsVisual()) deviceGroupEmbed(group, box.left, box.top);
  updateSessionGroupable();
}

}  // namespace qor::server
