#pragma once
// Sessions: the viewer's canvas state, one window per canvas root. The
// service knows the current session; the master session with its fixed id
// is the one every project has.

#include "qor/server/services/SessionServiceBase.h"

namespace qor::server {

class SessionWindowService;

class SessionService : public SessionServiceBase {
 public:
  static constexpr const char* MASTER_SESSION_ID = "f1858cb6-20d2-43bf-a817-61548631ae6e";
  static constexpr const char* MASTER_ROOT_ID = "c3bca550-a3df-4d37-a8e4-bd545d12b0cb";

  using SessionServiceBase::SessionServiceBase;

  // A new current session with its window on the master root, made current.
  Session* create() override;
  Session* create(const fennik::server::Uuid& id);
  // The master session, created with its fixed id when missing.
  Session* createMaster();

  // Current session = the session with that id (none for an unknown id).
  void setCurrentSession(const fennik::server::Uuid& id);
  // Current session = the master session.
  void unsetCurrentSession();
  // Deletes the session and its windows; the master session stays.
  void clearSession(const fennik::server::Uuid& id);

  Session* currentSession() const;
  SessionWindow* currentWindow() const;

  // The current session's window on the given root, or null.
  SessionWindow* getSessionWindow(const fennik::server::Uuid& root) const;
  SessionWindow* createSessionWindow(const fennik::server::Uuid& root);
  void destroySessionWindow(const fennik::server::Uuid& root);
  void setCurrentSessionWindow(const fennik::server::Uuid& root);

  void unloaded() override { currentId_ = {}; }

 private:
  std::shared_ptr<SessionWindowService> windows() const;

  fennik::server::Uuid currentId_{};
};

}  // namespace qor::server
