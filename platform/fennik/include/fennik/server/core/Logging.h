#pragma once
// Loggers handed out by the host. Logger 0 is the host's own, logger 1 the
// live-sound module's, logger 2 the device drivers'.

#include <spdlog/spdlog.h>

#include <memory>

namespace fennik::server {

using LoggerID = int;

inline constexpr LoggerID HOST_LOGGER = 0;
inline constexpr LoggerID MODULE_LOGGER = 1;
inline constexpr LoggerID DEVICE_LOGGER = 2;

// The logger with this id, created on first use (console sink, shared level).
std::shared_ptr<spdlog::logger> getLogger(LoggerID id);

// Sets the level of every logger, present and future ("trace" ... "off").
void setLogLevel(spdlog::level::level_enum level);

}  // namespace fennik::server
