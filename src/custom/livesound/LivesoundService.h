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

class DiscoveredDevice;
class LayerService;
class SessionService;
class SessionWindowService;
class VisualTreeService;

class LivesoundService : public fennik::server::Service {
 public:
  using Service::Service;
  std::string serviceName() const override { return "qor::server::LivesoundService"; }

  // Prepares an opened or new project: the project entity, the master
  // session and its window, made current; group devices that lost their
  // visual item are removed.
  void loaded() override;
  // The fixed ids loaded() finds or makes (master session, workspace root,
  // master layer) must not name an entity of another type in an opened file.
  void checkLoad(const fennik::server::Database& incoming) const override;

  // --- adding and removing devices (LivesoundDevices.cpp) ---
  // A new device of the type, named from the project's counters, connected to
  // the project-wide features, its visual item moved by (x, y) or placed
  // automatically and selected alone. Null for a null or unknown type.
  Device* deviceAdd(DeviceType* type, int x, int y, bool autoPlace);
  // The client's form: `count` devices of the type that (kind, id) names
  // (kind "SpeakerMode": id is a JSON object with a string "product.id";
  // kind "Panel": id is a panel template; else id is the type's id text).
  // All new devices end selected. Throws the JSON library's error for a
  // "SpeakerMode" id that is not such an object.
  std::vector<Device*> deviceAdd(const std::string& kind, const std::string& id, int count, int x, int y,
                                 bool autoPlace);
  // Applies a panel template (its id, "<family>/<name>") to the panel; an
  // unknown template is logged and changes nothing. Null does nothing.
  void panelSetTemplate(FtPanel* panel, const std::string& templateId);
  // Hands a firmware file (a path on the server's machine) to the device:
  // sets its FirmwareLoadFilePath, which the device's binding turns into a
  // firmware update. The same file again starts the update again. Null does
  // nothing.
  void firmwareLoadFW(FtDeviceInfo* info, const std::string& path);
  // Removes a group device (single devices leave through their visual items).
  void deviceRemove(Device* device);
  // Gives a group device without visual item one of 128 x 80 at (x, y).
  void deviceGroupEmbed(Device* group, int x, int y);
  // Unmaps a device: default name with its old number, no device id, address or firmware.
  void deviceMappingClear(Device* device);
  // Nothing: automatic mapping by device id is not offered.
  void deviceMappingLoadAutomaticByDeviceId(Device* device);
  void testcaseBarrier(const std::string& key);

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
  // Removes a device and everything of it: project-feature membership,
  // connections, driver, features, visual item (with its place in windows,
  // selections and layers) and its membership in groups.
  virtual void deviceDestroy(Device* device);
  // A copy of the device, named from the counters (clipboard commands).
  Device* deviceDuplicate(Device* device);

  // --- selection, clipboard and layout (LivesoundSelection.cpp, LivesoundClipboard.cpp) ---
  // They act on the selection of the current session window and do nothing
  // on an empty selection; after every change of the selection the window's
  // IsSelectionGroupable is brought up to date.
  // DESIGN and DEVICE switch the current window's mode; other values are ignored.
  void sessionSetSelectionMode(VisualItemSelectionMode mode);
  void visualItemSelectAll();
  void visualItemDeselectAll();
  void visualItemSelect(const std::vector<VisualItem*>& items);
  void visualItemDeselect(const std::vector<VisualItem*>& items);
  // The devices of the selected items, in selection order (items without
  // device, such as design groups, are skipped).
  std::vector<Device*> getSelectedDevices() const;
  bool visualItemIsSelectionGroupable() const;
  void updateSessionGroupable();
  void visualItemMoveSelected(int dx, int dy);
  void visualItemRotateSelected(int degrees);
  void visualItemAlignSelected(VisualItemAlignMode mode);
  // Groups the selected items (design mode) and selects the new group alone;
  // a refused grouping changes nothing.
  void visualItemGroupSelected();
  void visualItemUngroupSelected();
  // Copies of the selected items next to their originals, moved by (16, 16)
  // and selected; copied devices are named from the counters in the order of
  // the originals' numbers.
  void visualItemDuplicateSelected();
  // The selection becomes the window's clipboard (references, not data) and
  // the paste step starts again.
  void visualItemCopySelected();
  // Copies of the clipboard's items as they are now, 32 units further right
  // and down than the originals with every paste of the same clipboard.
  void visualItemPaste();
  // A device group with this id over the selected devices; with embed (and a
  // visible group) drawn at the top left of the selection. An id that is
  // taken changes nothing.
  void visualItemDeviceForSelected(const fennik::server::Uuid& id, bool embed);
  void visualItemResize(VisualItem* item, int x, int y, int w, int h);
  // Sets the item's (and its descendants') membership of the layer; an item
  // that leaves the layer shown in the current window is deselected.
  void visualItemSetVisibleInLayer(Layer* layer, VisualItem* item, bool visible);
  void visualItemChangeLayerMembershipOfSelection(Layer* layer, bool visible);

  // --- devices on the network (LivesoundDiscovery.cpp) ---
  // A new search of the network; the discovered-device list is recomputed.
  void startRefreshDiscoveredDevices();
  // A project device of the discovered device's model, mapped onto it and
  // named as the device is; null when its model is unknown or the network
  // device is in the project already.
  Device* discoveredDeviceAdd(DiscoveredDevice* found, int x, int y);
  // Adds every discovered device (by name), placed side by side and selected.
  void discoveredDeviceAddAll(int x, int y);
  // Adds the given discovered devices in order; the new ones end selected.
  void discoveredDeviceAddExtended(const std::vector<DiscoveredDevice*>& found, int x, int y);
  // Toggles the identify (find) state of a discovered device and tells the device.
  void deviceFind(const fennik::server::Uuid& discoveredId, bool flag);
  // The unmapped discovered devices of the device's model whose name holds
  // the filter (any case); all of them for an empty filter.
  std::vector<DiscoveredDevice*> deviceMappingSearch(Device* device, const std::string& filter);
  // Maps the device onto the discovered device: its physical id, name,
  // address and firmware.
  void deviceMappingLoad(Device* device, const fennik::server::Uuid& discoveredId);
  // Starts the audio network's routing application unless it runs already.
  void openDanteController();

  // --- wiring: connectors and amplifier modes (LivesoundConnectors.cpp) ---
  // The connector dialogue (docs/wiring.md). Every wire made or released by
  // a selection is mirrored in the two devices' channel features, then the
  // links between amplifier channels are rebuilt. Null does nothing.
  void connectorStart(FtConnector* connector);
  void connectorSelect(FtConnector* connector);
  void connectorFinish();
  // Switches an amplifier mode and releases the wiring of every channel it
  // covers. A null, disabled or already so switched mode changes nothing.
  void amplifierModeActivate(FtAmplifierMode* mode, bool active);
  // Rebuilds every link between amplifier channels from the wiring (public
  // for the benchmarks).
  void repairLinked();

  // --- speakers ---
  // Installs an uploaded speaker database and tells the user how it went
  // (a "Speaker Database" notification); empty bytes do nothing.
  void speakerDatabaseInstallFile(const std::string& bytes);
  // Sets a speaker's (or each member's of a speaker group) mode: the groups
  // it belongs to are rebuilt around the new features, and its connections
  // to amplifier channels go. Null does nothing.
  void speakerModeSetMode(FtSpeakerMode* mode, const std::string& modeId);
  // Copies an SPS file (a path on the server's machine) into the project and
  // lets the speaker setting run it. A file that is not an SPS file is
  // logged and changes nothing.
  void speakerSettingLoadSps(FtSpeakerSetting* setting, const std::string& path);
  // The setting runs no SPS file any more: back to its speaker database's
  // DSP chain, or, without one, to no setting (the nil chain id).
  void speakerSettingClear(FtSpeakerSetting* setting);

 protected:
  // Items whose canvas root is the clipboard workspace survive; a group's
  // members go before the group item.
  void visualItemDestroy(const std::vector<VisualItem*>& items);
  Device* deviceOf(const VisualItem* item) const;

 private:
  // Copies of the items, aligned with them (null where a copy failed).
  std::vector<VisualItem*> visualItemDuplicate(const std::vector<VisualItem*>& items);
  // The device of each item (null for none), one lookup for the whole list.
  std::vector<Device*> devicesOf(const std::vector<VisualItem*>& items) const;
  // Puts a duplicated device's item on the canvas where the original lies.
  void placeCopy(const VisualItem* original, VisualItem* copy);

  void setDefaultDeviceName(FtDeviceInfo* info, DeviceTypeImplementation implementation);
  void setDefaultDeviceNameForGroup(FtDeviceInfo* info);
  void setDefaultPowerOnDelay(Device* device);
  void connectToProjectFeatures(Device* device, bool connect);
  void disconnectAllConnectors(Device* device);
  // Mirrors a wire from source (the amplifier side) to sink in the features
  // of their devices (LivesoundConnectionMirror.cpp).
  void mirrorConnection(FtConnector* source, FtConnector* sink, bool connected);
  Device* createOfType(DeviceType* type);
  void removeVisualItem(Device* device);
  void placeInTree(VisualItem* item);
  void removeGroupsWithoutVisualItem();
  void flagDiscoveredDevicesDirty();
  LivesoundProject* project() const;

  // The project entity, the master session and its window (loaded).
  void prepareProject();
  // Sets the project's isDanteControllerAvailable (loaded).
  void markDanteControllerAvailability();
  std::shared_ptr<SessionService> sessions() const;
  std::shared_ptr<SessionWindowService> windows() const;
  std::shared_ptr<LayerService> layers() const;
  std::shared_ptr<VisualTreeService> tree() const;
};

}  // namespace qor::server
