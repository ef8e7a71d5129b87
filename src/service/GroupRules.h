#pragma once
// Small rules by which a group's derived fields follow its direct members
// (childrenShared). Each writes the group only when the value changes, with
// the normal flag, as the aggregators do.

#include <algorithm>
#include <vector>

namespace qor::server::rules {

template <class E, class V, class Get, class Set>
void store(E* group, Get get, Set set, const V& value) {
  if (!(get(group) == value)) set(group, value, false);
}

template <class E, class Visit>
void forEachMember(E* group, Visit&& visit) {
  for (E* member : group->childrenShareds()) {
    if (member) visit(member);
  }
}

// True on the group when any member's flag is true.
template <class E, class Get, class Set>
void anyOf(E* group, Get get, Set set) {
  bool any = false;
  forEachMember(group, [&](E* m) { any = any || get(m); });
  store(group, get, set, any);
}

// True on the group when every member's flag is true (false without members).
template <class E, class Get, class Set>
void allOf(E* group, Get get, Set set) {
  bool all = !group->childrenShareds().empty();
  forEachMember(group, [&](E* m) { all = all && get(m); });
  store(group, get, set, all);
}

// The members' value when they all agree, else the fallback.
template <class E, class Get, class Set, class V>
void agreedOr(E* group, Get get, Set set, const V& fallback) {
  const V* first = nullptr;
  bool agreed = true;
  forEachMember(group, [&](E* m) {
    if (!first) {
      first = &get(m);
    } else if (!(get(m) == *first)) {
      agreed = false;
    }
  });
  store(group, get, set, (first && agreed) ? V(*first) : fallback);
}

// The largest member value (the group keeps its value without members).
template <class E, class Get, class Set>
void maxOf(E* group, Get get, Set set) {
  bool seen = false;
  auto best = get(group);
  forEachMember(group, [&](E* m) {
    if (!seen || get(m) > best) best = get(m);
    seen = true;
  });
  if (seen) store(group, get, set, best);
}

// The range every member accepts: the largest minimum and the smallest maximum.
template <class E, class Get, class Set>
void commonRange(E* group, Get getMin, Get getMax, Set setMin, Set setMax) {
  bool seen = false;
  auto low = getMin(group);
  auto high = getMax(group);
  forEachMember(group, [&](E* m) {
    low = seen ? std::max(low, getMin(m)) : getMin(m);
    high = seen ? std::min(high, getMax(m)) : getMax(m);
    seen = true;
  });
  if (!seen) return;
  store(group, getMin, setMin, low);
  store(group, getMax, setMax, high);
}

// The entries of the first member's list that every member's list holds, in
// the first member's order.
template <class E, class Get, class Set>
void commonEntries(E* group, Get get, Set set) {
  using List = std::decay_t<decltype(get(group))>;
  const List* first = nullptr;
  List common;
  forEachMember(group, [&](E* m) {
    if (!first) {
      first = &get(m);
      common = *first;
      return;
    }
    const List& other = get(m);
    List kept;
    for (const auto& entry : common) {
      if (std::find(other.begin(), other.end(), entry) != other.end()) kept.push_back(entry);
    }
    common = std::move(kept);
  });
  if (first) store(group, get, set, common);
}

}  // namespace qor::server::rules
