// LivesoundService: layers and highlights.
#include "custom/livesound/LivesoundService.h"

#include "custom/HighlightService.h"
#include "custom/VisualTreeService.h"
#include "custom/livesound/LivesoundLog.h"
#include "service/LayerService.h"
#include "service/SessionWindowService.h"

#include "qor/server/entities/SessionWindow.h"

#include "fennik/server/service/ServiceResolver.h"

namespace qor::server {

using fennik::server::Uuid;

Layer* LivesoundService::layerAdd() {
  LIVESOUND_TRACE("layerAdd");
  Layer* layer = layers()->create();
  layerSelect(layer);
  return layer;
}

void LivesoundService::layerSelect(Layer* layer) {
  LIVESOUND_TRACE("layerSelect");
  tree()->selectAll(false);
  SessionWindow* window = windows()->currentSessionWindow();
  if (window && window->getSelectedLayer() != layer) window->setSelectedLayer(layer);
}

void LivesoundService::layerDestroy(Layer* layer) {
  LIVESOUND_TRACE("layerDestroy");
  auto l = layers();
  if (!layer || l->isMaster(layer)) return;
  SessionWindow* window = windows()->currentSessionWindow();
  Layer* remembered = window ? window->getSelectedLayer() : nullptr;
  if (remembered == layer) remembered = l->masterLayer();
  auto t = tree();
  t->selectAll(false);
  // Selecting is refused outside the selected layer: show this one meanwhile.
  if (window) window->setSelectedLayer(layer);
  for (VisualItem* item : t->getTopLevelItemsOnlyVisibleOnLayer(layer)) t->selectSingle(item, true);
  visualItemDestroySelected();
  l->destroy(layer);
  if (window && window->getSelectedLayer() != remembered) window->setSelectedLayer(remembered);
}

void LivesoundService::visualHighlight(const Uuid& device, const Uuid& feature, LivesoundVisualHighlightScope scope) {
  LIVESOUND_TRACE("visualHighlight");
  if (auto highlights = services()->get<HighlightService>()) highlights->visualHighlight(device, feature, scope);
}

}  // namespace qor::server
