#include "fennik/server/core/Logging.h"

#include <spdlog/sinks/stdout_color_sinks.h>

#include <atomic>
#include <mutex>
#include <string>

namespace fennik::server {

namespace {

std::mutex loggersMutex;
std::atomic<spdlog::level::level_enum> currentLevel{spdlog::level::info};

std::string loggerName(LoggerID id) {
  switch (id) {
    case HOST_LOGGER:
      return "host";
    case MODULE_LOGGER:
      return "livesound";
    case DEVICE_LOGGER:
      return "devices";
    default:
      return "logger" + std::to_string(id);
  }
}

}  // namespace

std::shared_ptr<spdlog::logger> getLogger(LoggerID id) {
  const auto name = loggerName(id);
  if (auto existing = spdlog::get(name)) return existing;
  std::lock_guard lock(loggersMutex);
  if (auto existing = spdlog::get(name)) return existing;
  auto logger = spdlog::stdout_color_mt(name);
  logger->set_pattern("[%Y-%m-%d %H:%M:%S.%e] [%n] [%l] %v");
  logger->set_level(currentLevel.load());
  logger->flush_on(spdlog::level::info);
  return logger;
}

void setLogLevel(spdlog::level::level_enum level) {
  std::lock_guard lock(loggersMutex);
  currentLevel = level;
  spdlog::apply_all([level](const std::shared_ptr<spdlog::logger>& l) { l->set_level(level); });
}

}  // namespace fennik::server
