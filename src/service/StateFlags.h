#pragma once
// The flag lists that device states and channel states share: a state names
// its flags (flagNames) and keeps, per flag, whether it is raised, whether
// the user collects it into the collected error, and whether collecting is
// supported. A group follows its direct members flag by flag, matched by name.

#include <algorithm>
#include <string>
#include <vector>

namespace qor::server::stateflags {

// Position of name in names, or -1.
inline int positionOf(const std::vector<std::string>& names, const std::string& name) {
  const auto it = std::find(names.begin(), names.end(), name);
  return it == names.end() ? -1 : static_cast<int>(it - names.begin());
}

inline bool bitAt(const std::vector<bool>& bits, int position) {
  return position >= 0 && static_cast<std::size_t>(position) < bits.size() && bits[position];
}

// Sets or clears one collect bit; false when the name is not a flag of s.
template <class S>
bool setCollectBit(S* s, const std::string& name, bool collect) {
  const int position = positionOf(s->getFlagNames(), name);
  if (position < 0) return false;
  std::vector<bool> bits = s->getFlagCollectStates();
  if (bits.size() < s->getFlagNames().size()) bits.resize(s->getFlagNames().size(), false);
  bits[position] = collect;
  s->setFlagCollectStates(bits, false);
  return true;
}

// The group's flags are its first member's; per flag the group is raised
// when any member is, collects when every member does, and supports
// collecting when any member does; the ...Consistent lists say whether all
// members agree (and are themselves consistent).
template <class S>
void recalcFlags(S* group) {
  std::vector<S*> members;
  for (S* m : group->childrenShareds()) {
    if (m) members.push_back(m);
  }
  if (members.empty()) return;
  const std::vector<std::string> names = members.front()->getFlagNames();
  const std::size_t n = names.size();
  std::vector<bool> states(n, false), statesConsistent(n, true), collect(n, true), collectConsistent(n, true),
      supported(n, false);
  for (std::size_t i = 0; i < n; ++i) {
    bool firstState = false, firstCollect = false, seen = false;
    for (S* m : members) {
      const auto& mNames = m->getFlagNames();
      // Members of one model list their flags in the same order.
      const int p = (i < mNames.size() && mNames[i] == names[i]) ? static_cast<int>(i) : positionOf(mNames, names[i]);
      if (p < 0) {
        statesConsistent[i] = collectConsistent[i] = false;
        collect[i] = false;
        continue;
      }
      const bool state = bitAt(m->getFlagStates(), p);
      const bool collecting = bitAt(m->getFlagCollectStates(), p);
      const auto& mStatesConsistent = m->getFlagStatesConsistent();
      const auto& mCollectConsistent = m->getFlagCollectStatesConsistent();
      if (static_cast<std::size_t>(p) < mStatesConsistent.size() && !mStatesConsistent[p]) statesConsistent[i] = false;
      if (static_cast<std::size_t>(p) < mCollectConsistent.size() && !mCollectConsistent[p]) {
        collectConsistent[i] = false;
      }
      if (seen && state != firstState) statesConsistent[i] = false;
      if (seen && collecting != firstCollect) collectConsistent[i] = false;
      if (!seen) {
        firstState = state;
        firstCollect = collecting;
        seen = true;
      }
      states[i] = states[i] || state;
      collect[i] = collect[i] && collecting;
      supported[i] = supported[i] || bitAt(m->getFlagCollectSupported(), p);
    }
  }
  auto store = [group](const auto& current, const auto& value, auto set) {
    if (current != value) (group->*set)(value, false);
  };
  store(group->getFlagNames(), names, &S::setFlagNames);
  store(group->getFlagStates(), states, &S::setFlagStates);
  store(group->getFlagStatesConsistent(), statesConsistent, &S::setFlagStatesConsistent);
  store(group->getFlagCollectStates(), collect, &S::setFlagCollectStates);
  store(group->getFlagCollectStatesConsistent(), collectConsistent, &S::setFlagCollectStatesConsistent);
  store(group->getFlagCollectSupported(), supported, &S::setFlagCollectSupported);
}

}  // namespace qor::server::stateflags

namespace qor::server::stateflags {

// Sets or clears the collect bit of a flag on s and, for a group, on every
// member below it; each state recalculates after its members.
template <class Service, class S>
void collectFlag(Service& service, S* s, const std::string& name, bool collect) {
  if (!s || !setCollectBit(s, name, collect)) return;
  if (s->getIsGroup()) {
    const std::vector<S*> members = s->childrenShareds();
    for (S* m : members) collectFlag(service, m, name, collect);
  }
  service.doRecalc(s);
}

}  // namespace qor::server::stateflags
