#pragma once
// The drawing canvas: visual items in a tree under the workspace root, each
// with an integer rectangle on a grid of 8 inside 16000 x 10000, a stacking
// order (Z) and an orientation. Groups stay fitted to their children, Z is
// renumbered so children lie below their group, and the layout commands move
// whole selections as one block without ever leaving the canvas.

#include "custom/canvas/CanvasGeometry.h"

#include "qor/server/entities/Enums.h"
#include "qor/server/entities/Layer.h"
#include "qor/server/entities/VisualItem.h"

#include "fennik/server/service/Service.h"

#include <memory>
#include <string>
#include <vector>

namespace qor::server {

class LayerService;
class SessionService;
class SessionWindowService;

class VisualTreeService : public fennik::server::Service {
 public:
  static constexpr const char* WORKSPACE_ROOT_ID = "c3bca550-a3df-4d37-a8e4-bd545d12b0cb";

  using Service::Service;
  std::string serviceName() const override { return "fennik::server::VisualTreeService"; }

  // --- the tree ---
  VisualItem* root() const;
  VisualItem* findRoot(VisualItem* item) const { return canvas::topAncestor(item); }
  // Creates the workspace root when the project has none.
  void loaded() override;
  // A further canvas root with a random id and its own session window.
  VisualItem* createWorkspaceRoot();

  VisualItem* create(int x, int y, int w, int h);
  VisualItem* create(const fennik::server::Uuid& id, int x, int y, int w, int h);
  // Null (and an error in the log) when the size does not fit the canvas.
  VisualItem* create(const fennik::server::Uuid& id, const fennik::server::Uuid& parentId, int x, int y, int w, int h);
  // Unhooks the item from its parent, its window's selections and every
  // layer, then deletes it. Its children are left without a parent.
  void destroy(VisualItem* item);

  VisualItem* group(const std::vector<VisualItem*>& items);
  VisualItem* group(const fennik::server::Uuid& id, const std::vector<VisualItem*>& items);
  virtual VisualItem* groupSelected();
  void ungroup(VisualItem* item);
  virtual void ungroupSelected();

  // Reparents item under parent, refitting both parents.
  void add(VisualItem* parent, VisualItem* item);
  std::vector<VisualItem*> find(const std::vector<fennik::server::Uuid>& ids) const;
  void setTag(VisualItem* item, VisualItemSelectionMode mode, bool set);
  void setVisible(VisualItem* item, bool visible);

  // --- selection ---
  std::vector<VisualItem*> getSelectedItems() const;
  std::vector<VisualItem*> getTopLevelItemsOnLayer(const Layer* layer) const;
  std::vector<VisualItem*> getTopLevelItemsOnlyVisibleOnLayer(const Layer* layer) const;
  void selectAll(bool select);
  void selectSingle(VisualItem* item, bool select);

  // --- layout ---
  virtual void alignSelected(VisualItemAlignMode mode);
  void applyAlignment(const std::vector<VisualItem*>& items, VisualItemAlignMode mode);
  void moveSelected(int dx, int dy);
  void rotateSelected(int degrees);
  void move(const std::vector<VisualItem*>& items, int dx, int dy);
  void move(const std::vector<VisualItem*>& items, const VisualItem* target);
  void moveAbsolute(VisualItem* item, int x, int y);
  void rotate(const std::vector<VisualItem*>& items, int degrees);
  void rotate(VisualItem* item, int degrees);
  void resize(VisualItem* item, int x, int y, int w, int h);
  // Moves the item to the first free spot on its canvas's selected layer.
  void autoPlace(VisualItem* item, int margin);

  // --- stacking order ---
  // Nested brackets around bulk additions; the last end renumbers once.
  void startPostponeIndexReparation();
  void endPostponeIndexReparation();
  bool isIndexReparationPostponed() const { return postpone_ >= 1; }
  // Renumbers Z below root: children sorted by Z, post-order, from 1.
  void repairIndexes(VisualItem* root);

 private:
  std::shared_ptr<SessionService> sessions() const;
  std::shared_ptr<SessionWindowService> windows() const;
  std::shared_ptr<LayerService> layers() const;

  VisualItem* makeRoot(const fennik::server::Uuid& id);
  void repairIndexesFromWorkspace();
  void fitToChildren(VisualItem* item);
  void refitSubtree(VisualItem* item);
  void clampedMove(const std::vector<VisualItem*>& items, int dx, int dy);
  void moveInternal(VisualItem* item, int dx, int dy);
  void distribute(const std::vector<VisualItem*>& items, bool horizontal);
  void stack(const std::vector<VisualItem*>& items, bool horizontal);
  void moveInZ(const std::vector<VisualItem*>& items, VisualItemAlignMode mode);

  int postpone_ = 0;
};

}  // namespace qor::server
