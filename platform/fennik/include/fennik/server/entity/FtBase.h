#pragma once
// Group support for the services of feature entities and devices: members
// join and leave groups, groups are recalculated up to every ancestor, and a
// destroyed group takes its owned members with it.

#include "fennik/server/entity/Aggregator.h"
#include "fennik/server/entity/Database.h"

#include <unordered_set>
#include <vector>

namespace fennik::server {

template <class I, class E>
class FtBase : public I {
 public:
  using I::I;

  // Makes child a member of group; owned members are destroyed with the
  // group. Re-adding moves the entries to the end of each list.
  virtual void addChild(E* group, E* child, bool owned) {
    if (!group || !child) return;
    if (owned) {
      group->removeChildren(child);
      group->addChildren(child);
    }
    group->removeChildrenShared(child);
    group->addChildrenShared(child);
    child->removeParent(group);
    child->addParent(group);
    recalculate(group);
  }

  virtual void removeChild(E* group, E* child) {
    if (!group || !child) return;
    group->removeChildren(child);
    group->removeChildrenShared(child);
    child->removeParent(group);
    recalculate(group);
  }

  // Aggregates and recalculates every ancestor of e, nearest first. While a
  // project loads, every group is recalculated once when it has finished.
  virtual void recalcParents(E* e) {
    if (!e) return;
    if (loading_) {
      recalcAfterLoad_ = true;
      return;
    }
    detail::forEachAncestorLevel(std::vector<E*>{e}, [this](E* p) { recalcGroup(p); });
  }

  // One group's own recalculation: aggregation, then the service's hook.
  virtual void recalcGroup(E* group) {
    this->aggregateFields(group);
    this->doRecalc(group);
  }

  // Batches recalculation while many members join (grouping devices): until
  // the matching end, joining and leaving only note the group; the end
  // recalculates each noted group once, members before the groups that hold
  // them, then their ancestors once. Nothing noted may be destroyed meanwhile.
  void beginDeferredRecalc() { ++deferDepth_; }
  void endDeferredRecalc() {
    if (deferDepth_ == 0 || --deferDepth_ > 0) return;
    detail::UniqueList<E> pending = std::move(pending_);
    pending_ = {};
    std::vector<E*> order;
    std::unordered_set<E*> visited;
    std::unordered_set<E*> noted(pending.items().begin(), pending.items().end());
    for (E* e : pending.items()) visitPostOrder(e, visited, order);
    std::vector<E*> groups;
    for (E* e : order) {
      if (noted.count(e)) groups.push_back(e);
    }
    for (E* g : groups) recalcGroup(g);
    detail::forEachAncestorLevel(groups, [this](E* p) { recalcGroup(p); });
  }

  void destroy(E* e) override {
    if (!e) return;
    unlinkPeers(e);
    const std::vector<E*> owned = e->childrens();
    for (E* child : owned) destroy(child);
    const std::vector<E*> parents = e->parents();
    unhook(e);
    this->db()->deleteEntity(e);
    for (E* p : parents) {
      if (p) recalculate(p);
    }
  }

  // Takes e out of the group graph: its links, its parents' member lists and
  // its members' parent lists. Nothing is recalculated.
  void unhook(E* e) {
    if (!e) return;
    unlinkPeers(e);
    const std::vector<E*> parents = e->parents();
    for (E* p : parents) {
      if (!p) continue;
      p->removeChildren(e);
      p->removeChildrenShared(e);
    }
    const std::vector<E*> shared = e->childrenShareds();
    for (E* member : shared) {
      if (member) member->removeParent(e);
    }
  }

  // Aggregates every group of the type, members before the groups that hold them.
  virtual void reaggregateAll() {
    for (E* group : groupsPostOrder()) this->aggregateFields(group);
  }

  // A loading project's entities arrive in any order, and connecting its
  // devices reports thousands of values: the groups are brought up to date
  // once, when every service has loaded, instead of after each value.
  void load(FileContainer&) override {
    loading_ = true;
    this->groupsAggregatedLater_ = true;
  }
  void loadedFinished() override {
    finishLoading();
    if (recalcAfterLoad_) {
      recalcAfterLoad_ = false;
      for (E* group : groupsPostOrder()) recalcGroup(group);
    } else {
      reaggregateAll();
    }
  }
  // A load that failed half way ends with the project's close.
  void unloaded() override {
    finishLoading();
    recalcAfterLoad_ = false;
  }

 protected:
  void recalculate(E* group) {
    if (deferDepth_ > 0) {
      pending_.add(group);
      return;
    }
    recalcGroup(group);
    recalcParents(group);
  }

 private:
  static void unlinkPeers(E* e) {
    const std::vector<E*> peers = e->linkeds();
    for (E* peer : peers) {
      if (!peer) continue;
      peer->removeLinked(e);
      e->removeLinked(peer);
    }
  }

  void finishLoading() {
    loading_ = false;
    this->groupsAggregatedLater_ = false;
  }

  // Every entity with members, members before the groups that hold them. A
  // project has far fewer groups than entities: only groups are remembered.
  std::vector<E*> groupsPostOrder() const {
    std::vector<E*> order;
    std::unordered_set<E*> visited;
    for (E* e : this->all()) {
      if (!e->childrenShareds().empty()) visitGroupsPostOrder(e, visited, order);
    }
    return order;
  }
  static void visitGroupsPostOrder(E* group, std::unordered_set<E*>& visited, std::vector<E*>& order) {
    if (!visited.insert(group).second) return;
    for (E* member : group->childrenShareds()) {
      if (member && !member->childrenShareds().empty()) visitGroupsPostOrder(member, visited, order);
    }
    order.push_back(group);
  }

  int deferDepth_ = 0;
  detail::UniqueList<E> pending_;
  bool loading_ = false;
  bool recalcAfterLoad_ = false;

  static void visitPostOrder(E* e, std::unordered_set<E*>& visited, std::vector<E*>& order) {
    if (!e || !visited.insert(e).second) return;
    for (E* member : e->childrenShareds()) visitPostOrder(member, visited, order);
    order.push_back(e);
  }
};

}  // namespace fennik::server
