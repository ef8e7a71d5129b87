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

  // Aggregates and recalculates every ancestor of e, nearest first.
  virtual void recalcParents(E* e) {
    if (!e) return;
    detail::forEachAncestorLevel(std::vector<E*>{e}, [this](E* p) {
      this->aggregateFields(p);
      this->doRecalc(p);
    });
  }

  void destroy(E* e) override {
    if (!e) return;
    const std::vector<E*> peers = e->linkeds();
    for (E* peer : peers) {
      if (!peer) continue;
      peer->removeLinked(e);
      e->removeLinked(peer);
    }
    const std::vector<E*> owned = e->childrens();
    for (E* child : owned) destroy(child);
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
    this->db()->deleteEntity(e);
    for (E* p : parents) {
      if (p) recalculate(p);
    }
  }

  // Aggregates every group of the type, members before the groups that hold them.
  virtual void reaggregateAll() {
    std::vector<E*> order;
    std::unordered_set<E*> visited;
    for (E* e : this->all()) visitPostOrder(e, visited, order);
    for (E* e : order) {
      if (!e->childrenShareds().empty()) this->aggregateFields(e);
    }
  }

  void loadedFinished() override { reaggregateAll(); }

 protected:
  void recalculate(E* group) {
    this->aggregateFields(group);
    this->doRecalc(group);
    recalcParents(group);
  }

 private:
  static void visitPostOrder(E* e, std::unordered_set<E*>& visited, std::vector<E*>& order) {
    if (!e || !visited.insert(e).second) return;
    for (E* member : e->childrenShareds()) visitPostOrder(member, visited, order);
    order.push_back(e);
  }
};

}  // namespace fennik::server
