#include "service/LayerService.h"

#include "custom/canvas/CanvasGeometry.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"

#include <algorithm>
#include <limits>

namespace qor::server {

using fennik::server::UuidFromS;

Layer* LayerService::masterLayer() {
  const auto id = UuidFromS(MASTER_LAYER_ID);
  if (Layer* existing = find(id)) return existing;
  auto layer = createDefaultInitialized(id);
  layer->setName(MASTER_LAYER_NAME, false);
  layer->setIsDeletable(false, false);
  Layer* raw = layer.get();
  db()->add(std::move(layer));
  return raw;
}

bool LayerService::isMaster(const Layer* layer) const { return layer && layer->id() == UuidFromS(MASTER_LAYER_ID); }

Layer* LayerService::create() {
  std::int32_t highest = 0;
  for (const Layer* layer : all()) highest = std::max(highest, layer->getIndex());
  auto layer = createDefaultInitialized(fennik::server::random_uuid());
  layer->setIndex(highest + 1, false);
  layer->setName("Layer", false);
  layer->setIsDeletable(true, false);
  Layer* raw = layer.get();
  db()->add(std::move(layer));
  return raw;
}

void LayerService::loaded() {
  LayerServiceBase::loaded();
  for (Layer* layer : all()) {
    const bool master = isMaster(layer);
    if (layer->getName().empty()) layer->setName(master ? MASTER_LAYER_NAME : "Layer", false);
    layer->setIsDeletable(!master, false);
  }
}

void LayerService::destroy(Layer* layer) {
  if (!layer || isMaster(layer)) return;
  const std::vector<VisualItem*> items = layer->visualItems();
  Layer* master = items.empty() ? nullptr : masterLayer();
  for (VisualItem* item : items) {
    if (!item || layerCount(item) > 1) continue;
    fennik::server::getLogger(fennik::server::MODULE_LOGGER)
        ->warn("Item still on layer right before layer gets destroyed. So we are moving this element to master layer.");
    setVisible(master, item, true);
  }
  db()->deleteEntity(layer);
}

void LayerService::setVisible(Layer* layer, VisualItem* item, bool visible) {
  if (!layer || !item) return;
  canvas::forEachInSubtree(item, [&](VisualItem* i) {
    const bool present = contains(layer, i);
    if (visible && !present) layer->addVisualItem(i);
    if (!visible && present) layer->removeVisualItem(i);
  });
}

void LayerService::removeFromAllLayers(VisualItem* item) {
  if (!item) return;
  for (Layer* layer : all()) {
    if (contains(layer, item)) layer->removeVisualItem(item);
  }
}

bool LayerService::contains(const Layer* layer, const VisualItem* item) const {
  if (!layer || !item) return false;
  const auto& items = layer->visualItems();
  return std::find(items.begin(), items.end(), item) != items.end();
}

std::size_t LayerService::layerCount(const VisualItem* item) const {
  std::size_t count = 0;
  for (const Layer* layer : all()) count += contains(layer, item) ? 1 : 0;
  return count;
}

}  // namespace qor::server
