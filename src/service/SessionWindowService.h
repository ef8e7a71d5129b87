#pragma once
// Session windows: one per canvas root, each with its own selection mode,
// selections, selected layer, copy list and highlight list. This service
// knows the current window, on which every selection command acts.

#include "qor/server/services/SessionWindowServiceBase.h"

#include <string>
#include <vector>

namespace qor::server {

class SessionWindowService : public SessionWindowServiceBase {
 public:
  using SessionWindowServiceBase::SessionWindowServiceBase;

  // A new window showing the given root, in the database.
  SessionWindow* create(const fennik::server::Uuid& root);

  SessionWindow* currentSessionWindow() const;
  // An unknown id leaves no current window.
  void setCurrentSessionWindow(const fennik::server::Uuid& windowId);

  VisualItemSelectionMode getSelectionMode() const;
  void setSelectionMode(VisualItemSelectionMode mode);

  // The current mode's selection: design items, device items, or (mode NONE
  // or no window) an empty list.
  fennik::server::ListView<VisualItem*> selectedItems() const;
  // Moves the item to the end of the current mode's selection.
  void select(VisualItem* item);
  void deselect(VisualItem* item);
  void deselectAll();
  // Deselects every selected item whose canvas root is root.
  void deselectAllFromRoot(VisualItem* root);

  void setVisualHighlightIds(SessionWindow* window, const std::string& ids);

  // Drops the item from every list of every window (the item is going away).
  void forgetItem(VisualItem* item);

  void unloaded() override { currentId_ = {}; }

 private:
  fennik::server::Uuid currentId_{};
};

}  // namespace qor::server
