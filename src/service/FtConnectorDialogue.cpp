// The connector dialogue: a client starts at one channel connector, selects
// the connectors to wire to it (or to unwire), and finishes. The dialogue
// is shown in the session window that was current at its start.

#include "service/FtConnectorService.h"

#include "service/SessionWindowService.h"

#include "qor/server/entities/Device.h"
#include "qor/server/entities/SessionWindow.h"

#include "fennik/server/entity/Database.h"
#include "fennik/server/service/ServiceResolver.h"

namespace qor::server {

FtConnector* FtConnectorService::startedConnector() const {
  return startedId_.is_nil() ? nullptr : db()->get<FtConnector>(startedId_);
}

SessionWindow* FtConnectorService::dialogueWindow() const {
  return windowId_.is_nil() ? nullptr : db()->get<SessionWindow>(windowId_);
}

void FtConnectorService::connectorStart(FtConnector* connector) {
  connectorFinish();
  const Device* device = deviceOf(connector);
  if (!isChannelConnector(connector) || !device || device->getIsGroup()) return;
  startedId_ = connector->id();
  auto windows = services()->get<SessionWindowService>();
  SessionWindow* window = windows ? windows->currentSessionWindow() : nullptr;
  windowId_ = window ? window->id() : fennik::server::Uuid{};
  updatePossibleConnections();
}

void FtConnectorService::connectorSelect(FtConnector* connector) {
  FtConnector* started = startedConnector();
  if (!connector || !started) return;
  if (connector == started) {
    releaseAll(started);
  } else if (connector->getSignalSource() == started) {
    unwire(connector);
  } else if (started->getSignalSource() == connector) {
    unwire(started);
  } else if (canConnect(started, connector)) {
    const bool startedIsFed = started->getPlacement() == FtConnectorPlacement::SPEAKER_INPUT &&
                              connector->getPlacement() == FtConnectorPlacement::AMP_OUTPUT;
    if (startedIsFed)
      wire(connector, started);
    else
      wire(started, connector);
  } else {
    return;
  }
  updatePossibleConnections();
}

void FtConnectorService::connectorFinish() {
  clearWindow(dialogueWindow());
  startedId_ = {};
  windowId_ = {};
}

void FtConnectorService::clearWindow(SessionWindow* window) {
  if (!window) return;
  const std::vector<FtConnector*> possible = window->possibleConnectors();
  for (FtConnector* c : possible) window->removePossibleConnector(c);
  const std::vector<FtConnector*> selected = window->selectedConnectors();
  for (FtConnector* c : selected) window->removeSelectedConnector(c);
}

void FtConnectorService::updatePossibleConnections() {
  FtConnector* started = startedConnector();
  SessionWindow* window = dialogueWindow();
  if (!started || !window) return;
  // Selected: the started connector and what is wired to it; possible: what
  // it may be wired to besides.
  std::vector<FtConnector*> selected{started};
  std::vector<FtConnector*> possible;
  if (FtConnector* source = started->getSignalSource()) selected.push_back(source);
  for (FtConnector* c : all()) {
    if (c->getSignalSource() == started)
      selected.push_back(c);
    else if (c != started->getSignalSource() && canConnect(started, c))
      possible.push_back(c);
  }
  // Rewritten only when changed, so that clients hear of real changes only.
  if (window->selectedConnectors() != selected) {
    const std::vector<FtConnector*> old = window->selectedConnectors();
    for (FtConnector* c : old) window->removeSelectedConnector(c);
    for (FtConnector* c : selected) window->addSelectedConnector(c);
  }
  if (window->possibleConnectors() != possible) {
    const std::vector<FtConnector*> old = window->possibleConnectors();
    for (FtConnector* c : old) window->removePossibleConnector(c);
    for (FtConnector* c : possible) window->addPossibleConnector(c);
  }
}

}  // namespace qor::server
