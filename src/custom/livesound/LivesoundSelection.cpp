// LivesoundService: deleting what is selected on the canvas.
#include "custom/livesound/LivesoundService.h"

#include "custom/VisualTreeService.h"
#include "custom/livesound/LivesoundLog.h"
#include "service/SessionWindowService.h"

#include "qor/server/entities/Device.h"

#include "fennik/server/entity/Database.h"

namespace qor::server {

using fennik::server::Uuid;
using fennik::server::UuidFromS;

void LivesoundService::visualItemDestroySelected() {
  LIVESOUND_TRACE("visualItemDestroySelected");
  const std::vector<VisualItem*> selected = windows()->selectedItems();
  visualItemDestroy(selected);
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

}  // namespace qor::server
