#pragma once
// The project `qorserver --demo` shows a newcomer: a few devices of the demo
// network mapped into the project and one amplifier designed offline, made
// with the same commands a client sends.

#include "fennik/devices/SimulatedNetwork.h"
#include "fennik/server/ksp/IKspDispatcher.h"

#include <memory>

namespace qor::app {

// Adds the devices unless the project has some already (an opened project
// is left as it is). Failures are logged; the server runs on regardless.
void buildDemoProject(fennik::server::IKspDispatcher& dispatcher, const fennik::devices::SimulatedNetwork& network);

}  // namespace qor::app
