#pragma once
// Group aggregation of one consistent field, and the two service-level write
// paths over the group graph:
//  - normal writes spread down through childrenShared and across links, then
//    re-aggregate the ancestors of every leaf they touched;
//  - external writes (a device reporting) change one entity and re-aggregate
//    upwards.
// Upward passes visit the ancestors level by level with each entity once per
// level: the result equals re-aggregating from every touched entity in turn,
// without running a parent of a thousand members a thousand times.

#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/FieldHandle.h"

#include <algorithm>
#include <functional>
#include <unordered_set>
#include <vector>

namespace fennik::server {

namespace detail {

// Appends without duplicates; switches to a hash set when the list grows.
template <class E>
class UniqueList {
 public:
  void add(E* e) {
    if (!e) return;
    if (items_.size() < 16) {
      if (std::find(items_.begin(), items_.end(), e) != items_.end()) return;
    } else {
      if (seen_.empty()) seen_.insert(items_.begin(), items_.end());
      if (!seen_.insert(e).second) return;
    }
    items_.push_back(e);
  }
  const std::vector<E*>& items() const { return items_; }
  bool empty() const { return items_.empty(); }

 private:
  std::vector<E*> items_;
  std::unordered_set<E*> seen_;
};

// Guards against a cyclic group graph hanging the loop.
inline constexpr int MAX_GROUP_DEPTH = 256;

// Calls visit(p) for every ancestor of the start entities, level by level.
template <class E, class Visit>
void forEachAncestorLevel(const std::vector<E*>& start, Visit&& visit) {
  UniqueList<E> level;
  for (E* e : start) {
    if (!e) continue;
    for (E* p : e->parents()) level.add(p);
  }
  for (int depth = 0; !level.empty(); ++depth) {
    if (depth == MAX_GROUP_DEPTH) {
      getLogger(HOST_LOGGER)->error("Group graph deeper than {} levels; it probably has a cycle", MAX_GROUP_DEPTH);
      return;
    }
    UniqueList<E> next;
    for (E* p : level.items()) {
      visit(p);
      for (E* grand : p->parents()) next.add(grand);
    }
    level = std::move(next);
  }
}

}  // namespace detail

template <class E>
class AggregatorBase {
 public:
  virtual ~AggregatorBase() = default;
  virtual const char* fieldName() const = 0;
  // Aggregates the members' values into the group; true when it changed anything.
  virtual bool aggregate(E* group) const = 0;
};

template <class E, class V>
class Aggregator final : public AggregatorBase<E> {
 public:
  using Filter = std::function<bool(const E*)>;

  explicit Aggregator(const FieldHandle<E, V>& handle) : handle_(handle) {}

  const FieldHandle<E, V>& handle() const { return handle_; }
  const char* fieldName() const override { return handle_.name; }
  // The member filter; the default accepts every member.
  void setFilter(Filter filter) { filter_ = std::move(filter); }
  bool accepts(const E* e) const { return !filter_ || filter_(e); }

  bool aggregate(E* group) const override {
    const V* candidate = nullptr;
    bool consistent = true;
    for (const E* member : group->childrenShareds()) {
      if (!member || !accepts(member)) continue;
      const V& value = handle_.get(member);
      if (!candidate) candidate = &value;
      // Exact comparison: a NaN never agrees, not even with itself.
      if (!handle_.getConsistent(member) || !(value == *candidate)) {
        consistent = false;
        break;
      }
    }
    if (!candidate) candidate = &handle_.defaultValue;
    bool changed = false;
    if (consistent && !(handle_.get(group) == *candidate)) {
      handle_.setExternal(group, *candidate, false);
      changed = true;
    }
    if (handle_.getConsistent(group) != consistent) {
      handle_.setConsistent(group, consistent);
      changed = true;
    }
    return changed;
  }

  void reaggregateUpwards(const std::vector<E*>& from) const {
    detail::forEachAncestorLevel(from, [this](E* p) { aggregate(p); });
  }

  // A device reports a value: only this entity changes, then its ancestors
  // (unless `upwards` is false: the caller aggregates every group later).
  void writeExternal(E* e, const V& value, bool upwards = true) const {
    bool changed = false;
    if (!handle_.getConsistent(e)) {
      handle_.setConsistent(e, true);
      changed = true;
    }
    if (handle_.get(e) == value) {
      if (changed && upwards) reaggregateUpwards({e});
      return;
    }
    handle_.setExternal(e, value, true);
    if (upwards) reaggregateUpwards({e});
  }

  // A client or the editing logic writes: every member at every depth and
  // every linked peer of a written node takes the value.
  void writeNormal(E* e, const V& value, bool upwards = true) const {
    std::vector<E*> touched;
    writeDown(e, value, touched);
    if (upwards) reaggregateUpwards(touched);
  }

 private:
  void writeOne(E* node, const V& value) const {
    handle_.setExternal(node, value, false);
    if (!handle_.getConsistent(node)) handle_.setConsistent(node, true);
  }

  void writeDown(E* node, const V& value, std::vector<E*>& touched) const {
    if (accepts(node)) {
      writeOne(node, value);
      if (node->childrenShareds().empty()) touched.push_back(node);
      for (E* peer : node->linkeds()) {
        if (!peer) continue;
        writeOne(peer, value);
        touched.push_back(peer);
      }
    }
    for (E* member : node->childrenShareds()) {
      if (member) writeDown(member, value, touched);
    }
  }

  FieldHandle<E, V> handle_;
  Filter filter_;
};

}  // namespace fennik::server
