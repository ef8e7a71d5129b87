#pragma once
// Wall panels: the service creates, wires, stores and destroys panel
// devices itself (no device-type module supplies them), one panel driver per
// panel device. Two panel device types with fixed ids: the panel (landscape,
// 104 x 80, family "MZD") and its portrait variant (80 x 104, family "RLX").
//
// Wiring follows the device classes: a user's change of a feature goes to
// the driver; the driver's reports only post a job to the loop, which finds
// the feature again and writes the driver's value as an external write.
//
// The drivers live in the project's "PanelService" sub-container: one entry
// per panel device (the driver's serialized state) and "driverIds". Opening
// a project checks every entry before anything is used; a damaged one throws
// (DriverStoreError naming the entry) and the open leaves the running project
// as it was.

#include "custom/panels/PanelTemplates.h"

#include "fennik/devices/PanelDriver.h"
#include "fennik/server/core/Uuid.h"
#include "fennik/server/service/Service.h"

#include <boost/signals2/connection.hpp>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fennik::devices {
class SimulatedNetwork;
}

namespace qor::server {

class Device;
class DeviceType;
class FtPanel;

class PanelService : public fennik::server::Service {
 public:
  using Driver = fennik::devices::IPanelDriver;

  // The panel type: label, model and vendor "Panel".
  static const fennik::server::Uuid PANEL_TYPE_ID;
  // The portrait variant: label and model "Panel RLX", vendor "Panel".
  static const fennik::server::Uuid PANEL_VARIANT_TYPE_ID;
  static constexpr const char* DRIVER_FOLDER = "PanelService";
  static constexpr int PANEL_WIDTH = 104;
  static constexpr int PANEL_HEIGHT = 80;

  PanelService(std::shared_ptr<fennik::server::Database> db, std::shared_ptr<fennik::server::EntityLoop> loop,
               std::shared_ptr<fennik::server::ServiceResolver> services);
  ~PanelService() override;

  std::string serviceName() const override { return "fennik::server::PanelService"; }

  // The network the panels are on; registers the panel models with it.
  // Without one, panels are designed offline: they get no driver.
  void attachNetwork(std::shared_ptr<fennik::devices::SimulatedNetwork> network);

  // A new panel device of a panel type with its features and a new driver;
  // its visual item (104 x 80, or 80 x 104 for the variant) is at (x, y) and
  // not yet in the tree: the caller places it (the livesound service hangs
  // it into the current window's canvas and layer). Null for a type that is
  // no panel type.
  Device* create(DeviceType* type, int x, int y);
  // Unhooks the visual item from the tree, destroys features, driver and device.
  void destroy(Device* device);
  // A new panel of the same type (and panel JSON) whose visual item joins
  // the parent group of the source's.
  Device* duplicate(Device* device);
  // Asks the panel on the network with that physical id (of that model) to
  // identify itself, or to stop; false when there is no network or no such model.
  bool find(const std::string& model, const std::string& physicalId, bool active);

  // The panel's driver; null when the device has none.
  Driver* driver(const fennik::server::Uuid& deviceId) const;
  // Makes sure both panel types are in the database.
  void ensureDeviceTypes();
  // The type ids the service makes panels of.
  static bool isPanelType(const fennik::server::Uuid& typeId);

  // Templates: those of a family ("MZD", "RLX") in their order; the family
  // of a panel type; the type a template is for (by its panel JSON's
  // "schema"); applying one sets the panel's JSON (false: no such template).
  std::vector<const PanelTemplate*> templates(const std::string& family) const;
  const PanelTemplate* findTemplate(const std::string& id) const;
  static std::string familyOf(const fennik::server::Uuid& typeId);
  std::optional<fennik::server::Uuid> deviceTypeIdForTemplate(const std::string& id) const;
  // The panel type of a panel model on the network: "MZD" the panel, a
  // model of the RLX family ("RLX-1") the variant; none for other models.
  static std::optional<fennik::server::Uuid> deviceTypeIdForModel(const std::string& networkModel);
  bool applyTemplate(FtPanel* panel, const std::string& id);

  void load(fennik::server::FileContainer& container) override;
  void loaded() override;
  void save(fennik::server::FileContainer& container) override;
  void unload() override;
  void unloaded() override;

 private:
  struct Panel {
    std::shared_ptr<Driver> driver;
    std::vector<boost::signals2::scoped_connection> connections;
  };

  std::shared_ptr<Driver> newDriver(const fennik::server::Uuid& typeId) const;
  void createFeatures(Device* device, DeviceType* type);
  void describeFeatures(Device* device);
  void connect(Device* device);
  void disconnect(const fennik::server::Uuid& deviceId);
  void keep(const fennik::server::Uuid& deviceId, boost::signals2::connection connection);
  template <class E>
  void report(Device* device, E* feature, const fennik::server::Uuid& key,
              std::function<boost::signals2::connection(Driver&, std::function<void()>)> subscribe,
              std::function<void(E&, Driver&)> refresh);
  void sendPanelJson(const fennik::server::Uuid& deviceId, const std::string& json);
  void refreshState(Device* device);

  std::shared_ptr<fennik::devices::SimulatedNetwork> network_;
  std::map<fennik::server::Uuid, Panel> panels_;
  // Drivers read from the opened project, waiting for loaded().
  std::map<fennik::server::Uuid, std::shared_ptr<Driver>> restored_;
  // Drivers asked to identify a panel on the network, by physical id.
  std::map<std::string, Panel> finders_;
  // The loaded project's container (a copy: it shares the entries the
  // project holds in memory).
  std::shared_ptr<fennik::server::FileContainer> container_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace qor::server
