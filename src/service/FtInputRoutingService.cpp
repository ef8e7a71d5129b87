#include "service/FtInputRoutingService.h"

#include "service/GroupWalk.h"

#include "qor/server/entities/FtInputSource.h"

#include <algorithm>

namespace qor::server {

namespace {

bool sameSource(const FtInputSource* a, const FtInputSource* b) {
  return a && b && a->getIndex() == b->getIndex() && a->getKey() == b->getKey();
}

bool offers(fennik::server::ListView<FtInputSource*> list, const FtInputSource* source) {
  return std::any_of(list.begin(), list.end(), [source](const FtInputSource* s) { return sameSource(s, source); });
}

// Replaces the relation list with the wanted entries when they differ.
void replaceList(const std::vector<FtInputSource*>& current, const std::vector<FtInputSource*>& wanted,
                 FtInputRouting* routing, void (FtInputRouting::*add)(FtInputSource*),
                 void (FtInputRouting::*remove)(FtInputSource*)) {
  if (current == wanted) return;
  const std::vector<FtInputSource*> old = current;
  for (FtInputSource* s : old) {
    if (s) (routing->*remove)(s);
  }
  for (FtInputSource* s : wanted) (routing->*add)(s);
}

}  // namespace

void FtInputRoutingService::changeSelection(FtInputRouting* routing, FtInputSource* source, bool select) {
  if (!routing || !source) return;
  const std::vector<FtInputRouting*> targets = groupwalk::targetsOf(routing);
  for (FtInputRouting* target : targets) {
    const std::vector<FtInputSource*> all = target->allInputSources();
    for (FtInputSource* candidate : all) {
      if (!sameSource(candidate, source)) continue;
      setSendSelectedInputSourcesToDriver(target, true, false);
      const bool selected = offers(target->selectedInputSources(), candidate);
      if (select && !selected) target->addSelectedInputSources(candidate);
      if (!select && selected) target->removeSelectedInputSources(candidate);
    }
    if (target->getSendSelectedInputSourcesToDriver()) setSendSelectedInputSourcesToDriver(target, false, false);
  }
  groupwalk::recalcAncestors(*this, targets);
}

void FtInputRoutingService::selectInputSource(FtInputRouting* routing, FtInputSource* source) {
  changeSelection(routing, source, true);
}

void FtInputRoutingService::deSelectInputSource(FtInputRouting* routing, FtInputSource* source) {
  changeSelection(routing, source, false);
}

bool FtInputRoutingService::isSelected(const FtInputRouting* routing, const FtInputSource* source) const {
  return routing && offers(routing->selectedInputSources(), source);
}

void FtInputRoutingService::clearInputRouting(FtInputRouting* routing) {
  if (!routing) return;
  const std::vector<FtInputRouting*> targets = groupwalk::targetsOf(routing);
  for (FtInputRouting* target : targets) {
    setSendSelectedInputSourcesToDriver(target, true, false);
    const std::vector<FtInputSource*> selected = target->selectedInputSources();
    for (FtInputSource* s : selected) {
      if (s) target->removeSelectedInputSources(s);
    }
    setSendSelectedInputSourcesToDriver(target, false, false);
  }
  groupwalk::recalcAncestors(*this, targets);
}

void FtInputRoutingService::mergeLists(FtInputRouting* routing) {
  if (!routing) return;
  std::vector<FtInputRouting*> members;
  for (FtInputRouting* m : routing->childrenShareds()) {
    if (m) members.push_back(m);
  }
  if (members.empty()) return;
  // A source counts when every member offers (or has selected) one with the
  // same index and family; the group lists the first member's entity.
  auto common = [&members](fennik::server::ListView<FtInputSource*> (FtInputRouting::*list)() const) {
    std::vector<FtInputSource*> out;
    for (FtInputSource* s : (members.front()->*list)()) {
      if (!s) continue;
      const bool everywhere = std::all_of(members.begin() + 1, members.end(),
                                          [&](const FtInputRouting* m) { return offers((m->*list)(), s); });
      if (everywhere) out.push_back(s);
    }
    return out;
  };
  replaceList(routing->allInputSources(), common(&FtInputRouting::allInputSources), routing,
              &FtInputRouting::addAllInputSources, &FtInputRouting::removeAllInputSources);
  replaceList(routing->possibleInputSources(), common(&FtInputRouting::possibleInputSources), routing,
              &FtInputRouting::addPossibleInputSources, &FtInputRouting::removePossibleInputSources);
  const std::vector<FtInputSource*> selected = common(&FtInputRouting::selectedInputSources);
  replaceList(routing->selectedInputSources(), selected, routing, &FtInputRouting::addSelectedInputSources,
              &FtInputRouting::removeSelectedInputSources);
  // Consistent when every member has selected exactly the common sources.
  const bool consistent = std::all_of(members.begin(), members.end(), [&](const FtInputRouting* m) {
    return m->getSelectedInputSourcesConsistent() && m->selectedInputSources().size() == selected.size();
  });
  if (routing->getSelectedInputSourcesConsistent() != consistent) {
    routing->setSelectedInputSourcesConsistent(consistent, false);
  }
}

}  // namespace qor::server
