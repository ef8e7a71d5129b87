#include "service/SessionService.h"

#include "service/SessionWindowService.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/service/ServiceResolver.h"

namespace qor::server {

using fennik::server::Uuid;
using fennik::server::UuidFromS;

std::shared_ptr<SessionWindowService> SessionService::windows() const {
  auto resolver = services();
  return resolver ? resolver->get<SessionWindowService>() : nullptr;
}

Session* SessionService::create() { return create(fennik::server::random_uuid()); }

Session* SessionService::create(const Uuid& id) {
  if (find(id)) return nullptr;  // ids stay unique
  auto session = createDefaultInitialized(id);
  Session* raw = session.get();
  db()->add(std::move(session));
  currentId_ = id;
  if (SessionWindow* window = createSessionWindow(UuidFromS(MASTER_ROOT_ID))) {
    if (auto w = windows()) w->setCurrentSessionWindow(window->id());
  }
  return raw;
}

Session* SessionService::createMaster() {
  const Uuid id = UuidFromS(MASTER_SESSION_ID);
  if (Session* existing = find(id)) return existing;
  return create(id);
}

void SessionService::setCurrentSession(const Uuid& id) { currentId_ = find(id) ? id : Uuid{}; }

void SessionService::unsetCurrentSession() { setCurrentSession(UuidFromS(MASTER_SESSION_ID)); }

void SessionService::clearSession(const Uuid& id) {
  Session* session = find(id);
  if (!session || id == UuidFromS(MASTER_SESSION_ID)) return;
  // Its windows go with it: nothing else refers to them.
  const std::vector<SessionWindow*> owned = session->sessionWindows();
  auto w = windows();
  bool hadCurrentWindow = false;
  for (SessionWindow* window : owned) {
    if (!window) continue;
    if (w && w->currentSessionWindow() == window) {
      w->setCurrentSessionWindow(Uuid{});
      hadCurrentWindow = true;
    }
    db()->deleteEntity(window);
  }
  db()->deleteEntity(session);
  // The viewer falls back to the master session and its main window.
  if (currentId_ == id) unsetCurrentSession();
  if (hadCurrentWindow) setCurrentSessionWindow(UuidFromS(MASTER_ROOT_ID));
}

Session* SessionService::currentSession() const { return find(currentId_); }

SessionWindow* SessionService::currentWindow() const {
  auto w = windows();
  return w ? w->currentSessionWindow() : nullptr;
}

SessionWindow* SessionService::getSessionWindow(const Uuid& root) const {
  const Session* session = currentSession();
  if (!session) return nullptr;
  const std::string text = fennik::server::UuidToS(root);
  for (SessionWindow* window : session->sessionWindows()) {
    if (window && window->getRootVisualItemId() == text) return window;
  }
  return nullptr;
}

SessionWindow* SessionService::createSessionWindow(const Uuid& root) {
  auto w = windows();
  if (!w) return nullptr;
  SessionWindow* window = w->create(root);
  if (Session* session = currentSession()) session->addSessionWindows(window);
  return window;
}

void SessionService::destroySessionWindow(const Uuid& root) {
  SessionWindow* window = getSessionWindow(root);
  if (!window) return;
  currentSession()->removeSessionWindows(window);
  auto w = windows();
  if (w && w->currentSessionWindow() == window) {
    SessionWindow* master = getSessionWindow(UuidFromS(MASTER_ROOT_ID));
    w->setCurrentSessionWindow(master ? master->id() : Uuid{});
  }
  db()->deleteEntity(window);
}

void SessionService::setCurrentSessionWindow(const Uuid& root) {
  SessionWindow* window = getSessionWindow(root);
  auto w = windows();
  if (window && w) w->setCurrentSessionWindow(window->id());
}

}  // namespace qor::server
