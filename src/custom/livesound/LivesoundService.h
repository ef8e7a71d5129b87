#pragma once
// The command layer of the project editor: the livesound controller turns
// client requests into calls of these operations on the event loop. Every
// command first writes a trace line with its qualified name.

#include "qor/server/entities/Enums.h"
#include "qor/server/entities/Forward.h"

#include "fennik/server/core/Uuid.h"
#include "fennik/server/service/Service.h"

#include <memory>
#include <string>
#include <vector>

namespace qor::server {

class LayerService;
class SessionService;
class SessionWindowService;
class VisualTreeService;

class LivesoundService : public fennik::server::Service {
 public:
  using Service::Service;
  std::string serviceName() const override { return "qor::server::LivesoundService"; }

  // Prepares an opened or new project: the project entity, the master
  // session and its window, made current.
  void loaded() override;

  // --- layers and highlights ---
  // A new layer, indexed above the others, selected in the current window.
  Layer* layerAdd();
  // Deselects everything, then shows the layer in the current window.
  void layerSelect(Layer* layer);
  // Deletes the items that are only on this layer, then the layer itself.
  void layerDestroy(Layer* layer);
  void visualHighlight(const fennik::server::Uuid& device, const fennik::server::Uuid& feature,
                       LivesoundVisualHighlightScope scope);

  // --- deleting from the canvas ---
  void visualItemDestroySelected();
  // Removes a device together with its visual item.
  virtual void deviceDestroy(Device* device);

 protected:
  // Items whose canvas root is the clipboard workspace survive; a group's
  // members go before the group item.
  void visualItemDestroy(const std::vector<VisualItem*>& items);
  Device* deviceOf(const VisualItem* item) const;

 private:
  std::shared_ptr<SessionService> sessions() const;
  std::shared_ptr<SessionWindowService> windows() const;
  std::shared_ptr<LayerService> layers() const;
  std::shared_ptr<VisualTreeService> tree() const;
};

}  // namespace qor::server
