#pragma once
// A panel driver's state as text, for keeping it in a project: its model,
// the physical id of its panel and the panel's values (panel JSON, name,
// collected flags, IP mode, holding of collected errors). The text is a JSON
// object; reading it back checks every member, since a project file comes
// from outside.

#include "fennik/devices/PanelDriver.h"

#include <memory>
#include <string>
#include <string_view>

namespace fennik::devices {

class PanelDriverSerializer {
 public:
  static std::string serialize(const IPanelDriver& driver);
  // A new driver in that state (offline). Throws std::runtime_error with a
  // message saying what is wrong: not JSON, not an object, a member missing
  // or of the wrong type, a model the network does not know.
  static std::unique_ptr<PanelDriver> deserialize(const std::shared_ptr<SimulatedNetwork>& network,
                                                  std::string_view text);
};

}  // namespace fennik::devices
