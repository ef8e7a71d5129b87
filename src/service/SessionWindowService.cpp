#include "service/SessionWindowService.h"

#include "custom/canvas/CanvasGeometry.h"

#include "fennik/server/entity/Database.h"

#include <algorithm>

namespace qor::server {

using fennik::server::Uuid;

namespace {

bool holds(const std::vector<VisualItem*>& list, const VisualItem* item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

SessionWindow* SessionWindowService::create(const Uuid& root) {
  auto window = createDefaultInitialized(fennik::server::random_uuid());
  window->setRootVisualItemId(fennik::server::UuidToS(root), false);
  SessionWindow* raw = window.get();
  db()->add(std::move(window));
  return raw;
}

SessionWindow* SessionWindowService::currentSessionWindow() const { return find(currentId_); }

void SessionWindowService::setCurrentSessionWindow(const Uuid& windowId) {
  currentId_ = find(windowId) ? windowId : Uuid{};
}

VisualItemSelectionMode SessionWindowService::getSelectionMode() const {
  const SessionWindow* window = currentSessionWindow();
  return window ? window->getSelectionMode() : VisualItemSelectionMode::NONE;
}

void SessionWindowService::setSelectionMode(VisualItemSelectionMode mode) {
  SessionWindow* window = currentSessionWindow();
  if (window && window->getSelectionMode() != mode) window->setSelectionMode(mode, false);
}

fennik::server::ListView<VisualItem*> SessionWindowService::selectedItems() const {
  const SessionWindow* window = currentSessionWindow();
  if (!window) return {};
  switch (window->getSelectionMode()) {
    case VisualItemSelectionMode::DESIGN:
      return window->selectedDesignItems();
    case VisualItemSelectionMode::DEVICE:
      return window->selectedDeviceItems();
    default:
      return {};
  }
}

void SessionWindowService::select(VisualItem* item) {
  SessionWindow* window = currentSessionWindow();
  if (!window || !item) return;
  switch (window->getSelectionMode()) {
    case VisualItemSelectionMode::DESIGN:
      if (holds(window->selectedDesignItems(), item)) window->removeSelectedDesignItem(item);
      window->addSelectedDesignItem(item);
      break;
    case VisualItemSelectionMode::DEVICE:
      if (holds(window->selectedDeviceItems(), item)) window->removeSelectedDeviceItem(item);
      window->addSelectedDeviceItem(item);
      break;
    default:
      break;
  }
}

void SessionWindowService::deselect(VisualItem* item) {
  SessionWindow* window = currentSessionWindow();
  if (!window || !item) return;
  switch (window->getSelectionMode()) {
    case VisualItemSelectionMode::DESIGN:
      if (holds(window->selectedDesignItems(), item)) window->removeSelectedDesignItem(item);
      break;
    case VisualItemSelectionMode::DEVICE:
      if (holds(window->selectedDeviceItems(), item)) window->removeSelectedDeviceItem(item);
      break;
    default:
      break;
  }
}

void SessionWindowService::deselectAll() {
  // One removal per item, front first, so listeners see each one go.
  while (!selectedItems().empty()) {
    const std::size_t before = selectedItems().size();
    deselect(selectedItems().front());
    if (selectedItems().size() >= before) break;  // a null entry cannot be removed by pointer
  }
}

void SessionWindowService::deselectAllFromRoot(VisualItem* root) {
  const std::vector<VisualItem*> selected = selectedItems();
  for (VisualItem* item : selected) {
    if (item && canvas::topAncestor(item) == root) deselect(item);
  }
}

void SessionWindowService::setVisualHighlightIds(SessionWindow* window, const std::string& ids) {
  if (window && window->getVisualHighlightIds() != ids) window->setVisualHighlightIds(ids, false);
}

void SessionWindowService::forgetItem(VisualItem* item) {
  if (!item) return;
  for (SessionWindow* window : all()) {
    if (holds(window->selectedDesignItems(), item)) window->removeSelectedDesignItem(item);
    if (holds(window->selectedDeviceItems(), item)) window->removeSelectedDeviceItem(item);
    if (holds(window->selectedDesignItemForCopys(), item)) window->removeSelectedDesignItemForCopy(item);
  }
}

}  // namespace qor::server
