#pragma once
// User notifications: failures and events a person at a client must see.
// Kept in a bounded history and pushed to listeners (the network layer).

#include "fennik/server/core/Uuid.h"

#include <boost/signals2/signal.hpp>

#include <chrono>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace fennik::server {

enum class NotificationType { Info = 0, Warning = 1, Error = 2 };

const char* toString(NotificationType type);

struct Notification {
  Uuid id{};
  std::string title;
  std::string text;
  NotificationType type;
  std::chrono::system_clock::time_point time;
};

class NotificationService {
 public:
  explicit NotificationService(std::size_t historyLimit = 200);

  // Issues a notification: logs it, keeps it, and tells the listeners.
  Notification create(const std::string& title, const std::string& text, NotificationType type);
  std::vector<Notification> history() const;
  boost::signals2::connection onCreated(std::function<void(const Notification&)> slot);

 private:
  std::size_t limit_;
  mutable std::mutex mutex_;
  std::deque<Notification> history_;
  boost::signals2::signal<void(const Notification&)> created_;
};

}  // namespace fennik::server
