#pragma once
// Starting the audio network's routing application (Dante Controller) on
// the server's machine. Its executable is whatever the environment variable
// QORSERVER_DANTE_CONTROLLER names (qorserver sets it from its
// --dante-controller option); without one the application counts as not
// installed.

#include <string>

namespace qor::server {

inline constexpr const char* DANTE_CONTROLLER_VARIABLE = "QORSERVER_DANTE_CONTROLLER";

// True when an executable file is configured.
bool isDanteControllerAvailable();
// Starts it unless a process of the same executable name already runs
// (names compared ignoring letter case). Never throws; failures are logged.
void launchDanteController();

}  // namespace qor::server
