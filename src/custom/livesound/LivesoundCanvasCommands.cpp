// The canvas commands of the livesound route: selecting, moving, rotating,
// aligning, grouping, deleting, duplicating, copying and pasting canvas
// items, wrapping the selected devices into a device group, resizing, and
// layer membership. Only ids, texts and vectors are required (and the mode
// of "/sessionSetSelectionMode"); a number or flag left out counts as 0 or
// false. Every id is looked up before anything changes.
#include "custom/livesound/LivesoundController.h"
#include "custom/livesound/LivesoundService.h"
#include "qor/server/entities/Layer.h"
#include "qor/server/entities/SessionWindow.h"
#include "qor/server/entities/VisualItem.h"
#include "qor/server/fbs/LivesoundCommands_generated.h"
#include "service/SessionService.h"
#include "service/SessionWindowService.h"
#include "wire/Command.h"

#include <stdexcept>

namespace qor::server {

using wire::addCommand;
using wire::CommandJob;
namespace cmd = fbs::cmd;

namespace {

// The session window a command acts in, named by the root item it shows
// (as "/discoveredDeviceAddAll" takes it) or by its own id, made current.
// A window the current session does not have fails the job.
void useWindow(CommandJob& job, const flatbuffers::String* text) {
  const fennik::server::Uuid id = job.uuid(text);
  if (job.context()->db()->get<SessionWindow>(id)) {
    job.service<SessionWindowService>().setCurrentSessionWindow(id);
    return;
  }
  auto& sessions = job.service<SessionService>();
  if (!sessions.getSessionWindow(id)) throw std::runtime_error("Couldn't find item");
  sessions.setCurrentSessionWindow(id);
}

std::vector<VisualItem*> itemsOf(CommandJob& job,
                                 const flatbuffers::Vector<flatbuffers::Offset<flatbuffers::String>>* ids) {
  std::vector<VisualItem*> items;
  if (!ids) return items;
  items.reserve(ids->size());
  for (const auto* id : *ids) items.push_back(job.entity<VisualItem>(id));
  return items;
}

// A command that only calls one operation without arguments.
template <class Args>
void addPlain(fennik::server::IFennikController& controller, const std::string& path,
              void (LivesoundService::*operation)(),
              fennik::server::CallSite where = fennik::server::CallSite::current()) {
  addCommand<Args>(
      controller, path, {},
      [operation](CommandJob& job, const Args&) { (job.service<LivesoundService>().*operation)(); }, where);
}

}  // namespace

void addCanvasCommands(fennik::server::IFennikController& controller) {
  addCommand<cmd::SessionSetSelectionModeArgs>(
      controller, "/sessionSetSelectionMode",
      {cmd::SessionSetSelectionModeArgs::VT_SESSIONWINDOW, cmd::SessionSetSelectionModeArgs::VT_MODE},
      [](CommandJob& job, const cmd::SessionSetSelectionModeArgs& a) {
        useWindow(job, a.sessionWindow());
        job.service<LivesoundService>().sessionSetSelectionMode(static_cast<VisualItemSelectionMode>(*a.mode()));
      });

  addCommand<cmd::VisualItemSelectArgs>(controller, "/visualItemSelect", {cmd::VisualItemSelectArgs::VT_SESSIONWINDOW},
                                        [](CommandJob& job, const cmd::VisualItemSelectArgs& a) {
                                          const std::vector<VisualItem*> items = itemsOf(job, a.items());
                                          useWindow(job, a.sessionWindow());
                                          auto& livesound = job.service<LivesoundService>();
                                          if (a.all() && !a.deselect())
                                            livesound.visualItemSelectAll();
                                          else if (a.all())
                                            livesound.visualItemDeselectAll();
                                          else if (!a.deselect())
                                            livesound.visualItemSelect(items);
                                          else
                                            livesound.visualItemDeselect(items);
                                        });

  addCommand<cmd::VisualItemAlignSelectedArgs>(
      controller, "/visualItemAlignSelected", {}, [](CommandJob& job, const cmd::VisualItemAlignSelectedArgs& a) {
        job.service<LivesoundService>().visualItemAlignSelected(static_cast<VisualItemAlignMode>(a.mode()));
      });

  addCommand<cmd::VisualItemMoveSelectedArgs>(controller, "/visualItemMoveSelected", {},
                                              [](CommandJob& job, const cmd::VisualItemMoveSelectedArgs& a) {
                                                job.service<LivesoundService>().visualItemMoveSelected(a.dx(), a.dy());
                                              });

  addCommand<cmd::VisualItemRotateSelectedArgs>(controller, "/visualItemRotateSelected", {},
                                                [](CommandJob& job, const cmd::VisualItemRotateSelectedArgs& a) {
                                                  job.service<LivesoundService>().visualItemRotateSelected(a.degrees());
                                                });

  addPlain<cmd::VisualItemGroupSelectedArgs>(controller, "/visualItemGroupSelected",
                                             &LivesoundService::visualItemGroupSelected);
  addPlain<cmd::VisualItemUngroupSelectedArgs>(controller, "/visualItemUngroupSelected",
                                               &LivesoundService::visualItemUngroupSelected);
  addPlain<cmd::VisualItemDestroySelectedArgs>(controller, "/visualItemDestroySelected",
                                               &LivesoundService::visualItemDestroySelected);
  addPlain<cmd::VisualItemCopySelectedArgs>(controller, "/visualItemCopySelected",
                                            &LivesoundService::visualItemCopySelected);
  addPlain<cmd::VisualItemPasteArgs>(controller, "/visualItemPaste", &LivesoundService::visualItemPaste);
  addPlain<cmd::VisualItemDuplicateSelectedArgs>(controller, "/visualItemDuplicateSelected",
                                                 &LivesoundService::visualItemDuplicateSelected);

  addCommand<cmd::VisualItemDeviceForSelectedArgs>(
      controller, "/visualItemDeviceForSelected", {cmd::VisualItemDeviceForSelectedArgs::VT_DEVICE},
      [](CommandJob& job, const cmd::VisualItemDeviceForSelectedArgs& a) {
        job.service<LivesoundService>().visualItemDeviceForSelected(job.uuid(a.device()), a.embed());
      });

  addCommand<cmd::VisualItemResizeArgs>(controller, "/visualItemResize", {cmd::VisualItemResizeArgs::VT_ITEM},
                                        [](CommandJob& job, const cmd::VisualItemResizeArgs& a) {
                                          job.service<LivesoundService>().visualItemResize(
                                              job.entity<VisualItem>(a.item()), a.x(), a.y(), a.width(), a.height());
                                        });

  addCommand<cmd::VisualItemSetVisibleInLayerArgs>(
      controller, "/visualItemSetVisibleInLayer",
      {cmd::VisualItemSetVisibleInLayerArgs::VT_LAYER, cmd::VisualItemSetVisibleInLayerArgs::VT_ITEM},
      [](CommandJob& job, const cmd::VisualItemSetVisibleInLayerArgs& a) {
        Layer* layer = job.entity<Layer>(a.layer());
        VisualItem* item = job.entity<VisualItem>(a.item());
        job.service<LivesoundService>().visualItemSetVisibleInLayer(layer, item, a.visible());
      });

  addCommand<cmd::VisualItemChangeLayerMembershipOfSelectionArgs>(
      controller, "/visualItemChangeLayerMembershipOfSelection",
      {cmd::VisualItemChangeLayerMembershipOfSelectionArgs::VT_LAYER},
      [](CommandJob& job, const cmd::VisualItemChangeLayerMembershipOfSelectionArgs& a) {
        job.service<LivesoundService>().visualItemChangeLayerMembershipOfSelection(job.entity<Layer>(a.layer()),
                                                                                   a.visible());
      });
}

}  // namespace qor::server
