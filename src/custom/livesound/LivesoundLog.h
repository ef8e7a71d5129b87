#pragma once
// Shared by the files of LivesoundService: the module logger and the trace
// line every command writes first.

#include "fennik/server/core/Logging.h"

namespace qor::server::livesound {

inline auto log() { return fennik::server::getLogger(fennik::server::MODULE_LOGGER); }

// Items under this workspace root are the clipboard's, not the canvas's.
inline constexpr const char* CLIPBOARD_WORKSPACE_ID = "60D538C9-71E2-47C2-833D-741C18B2FF80";

}  // namespace qor::server::livesound

#define LIVESOUND_TRACE(name) ::qor::server::livesound::log()->trace("qor::server::LivesoundService::" name)
