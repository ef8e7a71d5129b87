#pragma once
// Layers: named sets of visual items that a canvas can show or hide. The
// master layer ("Master", fixed id) exists from the first request for it and
// cannot be destroyed; items left only on a destroyed layer move to it.

#include "qor/server/services/LayerServiceBase.h"

#include <vector>

namespace qor::server {

class LayerService : public LayerServiceBase {
 public:
  static constexpr const char* MASTER_LAYER_ID = "d5fefc2e-670e-48e6-8353-094e236e95b2";
  static constexpr const char* MASTER_LAYER_NAME = "Master";

  using LayerServiceBase::LayerServiceBase;

  // The master layer, created when missing.
  Layer* masterLayer();
  bool isMaster(const Layer* layer) const;

  // A new deletable layer named "Layer", indexed one above the highest index.
  Layer* create() override;

  // The project file keeps a layer's index and items only: its name and
  // whether it may be deleted come back as at its creation ("Master" and
  // not deletable for the master layer, "Layer" and deletable otherwise).
  void loaded() override;

  // Deletes the layer (never the master layer); items that are on no other
  // layer are put on the master layer first, with a warning.
  void destroy(Layer* layer) override;

  // Adds (visible) or removes the item and all its descendants.
  void setVisible(Layer* layer, VisualItem* item, bool visible);
  void removeFromAllLayers(VisualItem* item);
  bool contains(const Layer* layer, const VisualItem* item) const;
  // How many layers hold the item.
  std::size_t layerCount(const VisualItem* item) const;
};

}  // namespace qor::server
