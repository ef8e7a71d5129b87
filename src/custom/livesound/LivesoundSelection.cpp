// LivesoundService: the selection of the current session window and what a
// canvas does with it — select, move, rotate, align, group, delete, resize,
// and put items on layers.
#include "custom/livesound/LivesoundService.h"

#include "custom/VisualTreeService.h"
#include "custom/livesound/LivesoundLog.h"
#include "service/DeviceService.h"
#include "service/LayerService.h"
#include "service/SessionWindowService.h"

#include "qor/server/entities/Device.h"
#include "qor/server/entities/SessionWindow.h"

#include "fennik/server/entity/Database.h"
#include "fennik/server/service/ServiceResolver.h"

#include <unordered_map>

namespace qor::server {

using fennik::server::Uuid;
using fennik::server::UuidFromS;

void LivesoundService::sessionSetSelectionMode(VisualItemSelectionMode mode) {
  LIVESOUND_TRACE("sessionSetSelectionMode");
  if (mode != VisualItemSelectionMode::DESIGN && mode != VisualItemSelectionMode::DEVICE) return;
  if (windows()->getSelectionMode() == mode) return;
  windows()->setSelectionMode(mode);
  // The other mode has its own selection list.
  updateSessionGroupable();
}

void LivesoundService::visualItemSelectAll() {
  LIVESOUND_TRACE("visualItemSelectAll");
  tree()->selectAll(true);
  updateSessionGroupable();
}

void LivesoundService::visualItemDeselectAll() {
  LIVESOUND_TRACE("visualItemDeselectAll");
  tree()->selectAll(false);
  updateSessionGroupable();
}

void LivesoundService::visualItemSelect(const std::vector<VisualItem*>& items) {
  LIVESOUND_TRACE("visualItemSelect");
  auto t = tree();
  for (VisualItem* item : items) t->selectSingle(item, true);
  updateSessionGroupable();
}

void LivesoundService::visualItemDeselect(const std::vector<VisualItem*>& items) {
  LIVESOUND_TRACE("visualItemDeselect");
  auto t = tree();
  for (VisualItem* item : items) t->selectSingle(item, false);
  updateSessionGroupable();
}

std::vector<Device*> LivesoundService::devicesOf(const std::vector<VisualItem*>& items) const {
  std::unordered_map<const VisualItem*, Device*> byItem;
  for (Device* device : db()->all<Device>()) {
    if (device->getVisualItem()) byItem.emplace(device->getVisualItem(), device);
  }
  std::vector<Device*> devices;
  devices.reserve(items.size());
  for (const VisualItem* item : items) {
    auto it = item ? byItem.find(item) : byItem.end();
    devices.push_back(it == byItem.end() ? nullptr : it->second);
  }
  return devices;
}

std::vector<Device*> LivesoundService::getSelectedDevices() const {
  std::vector<Device*> devices = devicesOf(windows()->selectedItems());
  std::erase(devices, nullptr);
  return devices;
}

bool LivesoundService::visualItemIsSelectionGroupable() const {
  auto devices = services()->get<DeviceService>();
  return devices && devices->isGroupingAllowed(getSelectedDevices());
}

void LivesoundService::updateSessionGroupable() {
  SessionWindow* window = windows()->currentSessionWindow();
  if (!window) return;
  const bool groupable = visualItemIsSelectionGroupable();
  if (window->getIsSelectionGroupable() != groupable) window->setIsSelectionGroupable(groupable, false);
}

void LivesoundService::visualItemMoveSelected(int dx, int dy) {
  LIVESOUND_TRACE("visualItemMoveSelected");
  tree()->moveSelected(dx, dy);
}

void LivesoundService::visualItemRotateSelected(int degrees) {
  LIVESOUND_TRACE("visualItemRotateSelected");
  tree()->rotateSelected(degrees);
}

void LivesoundService::visualItemAlignSelected(VisualItemAlignMode mode) {
  LIVESOUND_TRACE("visualItemAlignSelected");
  tree()->alignSelected(mode);
}

void LivesoundService::visualItemGroupSelected() {
  LIVESOUND_TRACE("visualItemGroupSelected");
  auto t = tree();
  VisualItem* group = t->groupSelected();
  // A refused grouping (device mode, items of different parents) keeps the selection.
  if (!group) return;
  visualItemDeselectAll();
  t->selectSingle(group, true);
  updateSessionGroupable();
}

void LivesoundService::visualItemUngroupSelected() {
  LIVESOUND_TRACE("visualItemUngroupSelected");
  tree()->ungroupSelected();
  updateSessionGroupable();
}

void LivesoundService::visualItemDestroySelected() {
  LIVESOUND_TRACE("visualItemDestroySelected");
  const std::vector<VisualItem*> selected = windows()->selectedItems();
  if (selected.empty()) return;
  visualItemDestroy(selected);
  updateSessionGroupable();
}

void LivesoundService::visualItemDestroy(const std::vector<VisualItem*>& items) {
  const Uuid clipboard = UuidFromS(livesound::CLIPBOARD_WORKSPACE_ID);
  auto t = tree();
  const std::vector<VisualItem*> copy = items;
  for (VisualItem* item : copy) {
    // An item destroyed earlier in this walk (as a member of a group) is gone.
    if (!item || !db()->find(item->id())) continue;
    if (t->findRoot(item)->id() == clipboard) continue;
    if (Device* device = deviceOf(item)) {
      deviceDestroy(device);
      continue;
    }
    visualItemDestroy(item->childrens());
    t->destroy(item);
  }
}

void LivesoundService::visualItemResize(VisualItem* item, int x, int y, int w, int h) {
  LIVESOUND_TRACE("visualItemResize");
  tree()->resize(item, x, y, w, h);
}

void LivesoundService::visualItemSetVisibleInLayer(Layer* layer, VisualItem* item, bool visible) {
  LIVESOUND_TRACE("visualItemSetVisibleInLayer");
  if (!layer || !item) return;
  auto l = layers();
  l->setVisible(layer, item, visible);
  // Only items of the layer shown may stay selected.
  const SessionWindow* window = windows()->currentSessionWindow();
  if (window && window->getSelectedLayer() && !l->contains(window->getSelectedLayer(), item))
    visualItemDeselect({item});
}

void LivesoundService::visualItemChangeLayerMembershipOfSelection(Layer* layer, bool visible) {
  LIVESOUND_TRACE("visualItemChangeLayerMembershipOfSelection");
  const std::vector<VisualItem*> selected = windows()->selectedItems();
  for (VisualItem* item : selected) visualItemSetVisibleInLayer(layer, item, visible);
}

}  // namespace qor::server
