#pragma once
// Lists held as JSON text (preset lists, available speaker modes): what a
// group offers is what every member offers.

#include <string>
#include <string_view>
#include <vector>

namespace qor::server::jsonlists {

// The entries of the first list that every other list also holds, as a
// compact JSON array, in the first list's order. Entries are matched by
// their member named key when they are objects that have it, otherwise by
// their whole value. Text that is not a JSON array counts as an empty list.
std::string common(const std::vector<std::string>& lists, std::string_view key);

// Stores on the group the entries of get's JSON list that every direct member offers.
template <class E, class Get, class Set>
void storeCommon(E* group, Get get, Set set, std::string_view key) {
  std::vector<std::string> lists;
  for (const E* m : group->childrenShareds()) {
    if (m) lists.push_back(get(m));
  }
  const std::string value = common(lists, key);
  if (get(group) != value) set(group, value, false);
}

// True when the JSON array holds an entry whose key (or whole value) is id.
bool holds(const std::string& list, std::string_view key, const std::string& id);

// True when the text is a JSON array without entries (or no JSON array).
bool empty(const std::string& list);

}  // namespace qor::server::jsonlists
