#pragma once
// Walks over the group graph that the hand-written services share: the
// targets a group write reaches, the leaf members of a group, the owned leaves
// that carry channel keys, and one recalculation pass over many ancestors.

#include "fennik/server/entity/Aggregator.h"

#include <unordered_set>
#include <vector>

namespace qor::server::groupwalk {

namespace detail {

template <class E>
void collectTargets(E* node, std::unordered_set<E*>& seen, std::unordered_set<E*>& visited, std::vector<E*>& out) {
  if (!node || !visited.insert(node).second) return;
  const auto& members = node->childrenShareds();
  if (members.empty() && seen.insert(node).second) out.push_back(node);
  for (E* peer : node->linkeds()) {
    if (peer && seen.insert(peer).second) out.push_back(peer);
  }
  for (E* member : members) collectTargets(member, seen, visited, out);
}

template <class E>
void collectLeaves(E* node, std::unordered_set<E*>& visited, std::vector<E*>& out) {
  if (!node || !visited.insert(node).second) return;
  const auto& members = node->childrenShareds();
  if (members.empty()) {
    out.push_back(node);
    return;
  }
  for (E* member : members) collectLeaves(member, visited, out);
}

}  // namespace detail

// Every entity a write to e reaches: the memberless entities below e (through
// childrenShared, e itself when it has no members) and the linked peers of
// every visited entity; each once, in walk order.
template <class E>
std::vector<E*> targetsOf(E* e) {
  std::vector<E*> out;
  std::unordered_set<E*> seen;
  std::unordered_set<E*> visited;
  detail::collectTargets(e, seen, visited, out);
  return out;
}

// The memberless entities below e through childrenShared, each once.
template <class E>
std::vector<E*> leavesOf(E* e) {
  std::vector<E*> out;
  std::unordered_set<E*> visited;
  detail::collectLeaves(e, visited, out);
  return out;
}

// Calls visit(leaf) for every entity below e (e included) that owns no
// children, depth first through children.
template <class E, class Visit>
void forEachOwnedLeaf(E* e, Visit&& visit) {
  if (!e) return;
  const auto& children = e->childrens();
  if (children.empty()) {
    visit(e);
    return;
  }
  for (E* child : children) forEachOwnedLeaf(child, visit);
}

// Aggregates and recalculates every ancestor of the given entities once,
// nearest first: the same result as recalcParents on each of them in turn.
template <class S, class E>
void recalcAncestors(S& service, const std::vector<E*>& from) {
  fennik::server::detail::forEachAncestorLevel(from, [&service](E* p) { service.recalcGroup(p); });
}

// Moves a numeric field of every accepted target of e by the same delta. The
// delta is first narrowed, target by target, so that no target leaves its
// own [min, max]; relative offsets between the targets therefore survive.
// Each target is written on the entity (normal flag), then the ancestors are
// recalculated once.
template <class S, class E, class V, class Get, class Min, class Max, class Set, class Accept>
void moveRelative(S& service, E* e, V delta, Get get, Min min, Max max, Set set, Accept accept) {
  if (!e) return;
  std::vector<E*> moving;
  for (E* t : targetsOf(e)) {
    if (accept(t)) moving.push_back(t);
  }
  for (E* t : moving) {
    const V value = get(t);
    if (value + delta < min(t)) {
      delta = min(t) - value;
    } else if (value + delta > max(t)) {
      delta = max(t) - value;
    }
  }
  for (E* t : moving) set(t, get(t) + delta);
  recalcAncestors(service, moving);
}

inline constexpr auto ACCEPT_ALL = [](const auto*) { return true; };

}  // namespace qor::server::groupwalk
