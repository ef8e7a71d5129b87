#pragma once
// A field handle bundles what the generic machinery needs of one value field:
// its getter and external setter, and, when the field is aggregated over
// groups, its ...Consistent companion's getter and setter.

#include <functional>

namespace fennik::server {

template <class E, class V>
struct FieldHandle {
  using Entity = E;
  using Value = V;

  const char* name;
  const V& (*get)(const E*);
  bool (*setExternal)(E*, const V&, bool);
  const bool& (*getConsistent)(const E*) = nullptr;
  void (*setConsistent)(E*, const bool&) = nullptr;
  V defaultValue{};

  bool hasCompanion() const { return getConsistent != nullptr; }
};

}  // namespace fennik::server
