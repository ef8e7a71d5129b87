#pragma once
// The text of every wire table and enumeration in one FlatBuffers schema, for
// clients that print tables as JSON or build them from JSON.

namespace qor::server::wire {

const char* entityWireSchema();

}  // namespace qor::server::wire

namespace qor::server::wire {

// The argument tables of the livesound commands.
const char* commandWireSchema();

}  // namespace qor::server::wire

namespace qor::server::wire {

// The table of discovered devices (the host's entities, not the project's).
const char* discoveredDeviceWireSchema();

}  // namespace qor::server::wire
