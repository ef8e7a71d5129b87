#pragma once
// Collects what the module's logger writes while it lives, so tests can
// check the messages users will see in the log.

#include "fennik/server/core/Logging.h"

#include <spdlog/sinks/ringbuffer_sink.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace qor::server::testing {

class LogCapture {
 public:
  LogCapture() : sink_(std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(256)) {
    sink_->set_pattern("%v");
    logger_->sinks().push_back(sink_);
    previous_ = logger_->level();
    logger_->set_level(spdlog::level::trace);
  }
  ~LogCapture() {
    auto& sinks = logger_->sinks();
    sinks.erase(std::remove(sinks.begin(), sinks.end(), sink_), sinks.end());
    logger_->set_level(previous_);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<std::string> lines() const { return sink_->last_formatted(); }
  bool contains(const std::string& text) const {
    const auto all = lines();
    return std::any_of(all.begin(), all.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
  }

 private:
  std::shared_ptr<spdlog::logger> logger_ = fennik::server::getLogger(fennik::server::MODULE_LOGGER);
  std::shared_ptr<spdlog::sinks::ringbuffer_sink_mt> sink_;
  spdlog::level::level_enum previous_{};
};

}  // namespace qor::server::testing
