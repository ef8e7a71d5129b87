#pragma once
// The livesound command route ("qor::server::Livesound"): the module's
// commands as custom methods (method 2), one argument table each. Commands
// are declared in LivesoundController.cpp, one small block per command.

#include "fennik/server/ksp/IKspController.h"

#include <string>
#include <vector>

namespace qor::server {

class LivesoundController : public fennik::server::IFennikController {
 public:
  static constexpr const char* ROUTE = "qor::server::Livesound";

  explicit LivesoundController(std::string route = ROUTE);
};

// The device commands (LivesoundDeviceCommands.cpp).
void addDeviceCommands(fennik::server::IFennikController& controller);
// The canvas commands: selection, clipboard, layout, layers (LivesoundCanvasCommands.cpp).
void addCanvasCommands(fennik::server::IFennikController& controller);
// The wiring commands: connector dialogue, amplifier modes (LivesoundWiringCommands.cpp).
void addWiringCommands(fennik::server::IFennikController& controller);

// The paths of the livesound commands in their registration order, and the
// step that re-mounts the declared commands in that order (LivesoundCommandOrder.cpp).
const std::vector<std::string>& livesoundCommandOrder();
void mountInCommandOrder(fennik::server::IFennikController& controller);

}  // namespace qor::server
