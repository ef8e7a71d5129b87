#include "fennik/server/service/NotificationService.h"

#include "fennik/server/core/Logging.h"

namespace fennik::server {

const char* toString(NotificationType type) {
  switch (type) {
    case NotificationType::Info:
      return "info";
    case NotificationType::Warning:
      return "warning";
    case NotificationType::Error:
      return "error";
  }
  return "info";
}

NotificationService::NotificationService(std::size_t historyLimit) : limit_(historyLimit == 0 ? 1 : historyLimit) {}

Notification NotificationService::create(const std::string& title, const std::string& text, NotificationType type) {
  Notification n{random_uuid(), title, text, type, std::chrono::system_clock::now()};
  auto logger = getLogger(HOST_LOGGER);
  auto level = type == NotificationType::Error     ? spdlog::level::err
               : type == NotificationType::Warning ? spdlog::level::warn
                                                   : spdlog::level::info;
  logger->log(level, "Notification [{}] {}: {}", toString(type), title, text);
  {
    std::lock_guard lock(mutex_);
    history_.push_back(n);
    while (history_.size() > limit_) history_.pop_front();
  }
  created_(n);
  return n;
}

std::vector<Notification> NotificationService::history() const {
  std::lock_guard lock(mutex_);
  return {history_.begin(), history_.end()};
}

boost::signals2::connection NotificationService::onCreated(std::function<void(const Notification&)> slot) {
  return created_.connect(std::move(slot));
}

}  // namespace fennik::server
