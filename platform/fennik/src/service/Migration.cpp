#include "fennik/server/service/Migration.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

namespace fennik::server {

std::string SchemaVersion::toString() const {
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
}

SchemaVersion SchemaVersion::parse(const std::string& text) {
  SchemaVersion v;
  int* parts[] = {&v.major, &v.minor, &v.patch};
  const char* p = text.data();
  const char* end = text.data() + text.size();
  for (int i = 0; i < 3; ++i) {
    auto [next, ec] = std::from_chars(p, end, *parts[i]);
    if (ec != std::errc() || next == p || *parts[i] < 0) {
      throw std::invalid_argument("Not a schema version: '" + text + "'");
    }
    p = next;
    if (i < 2) {
      if (p == end || *p != '.') throw std::invalid_argument("Not a schema version: '" + text + "'");
      ++p;
    }
  }
  if (p != end) throw std::invalid_argument("Not a schema version: '" + text + "'");
  return v;
}

void Migrations::add(std::shared_ptr<Migration> migration) {
  if (migration) migrations_.push_back(std::move(migration));
}

std::vector<std::shared_ptr<Migration>> Migrations::pendingFor(const SchemaVersion& stored) const {
  std::vector<std::shared_ptr<Migration>> pending;
  for (const auto& m : migrations_) {
    if (m->version() > stored) pending.push_back(m);
  }
  std::stable_sort(pending.begin(), pending.end(),
                   [](const auto& a, const auto& b) { return a->version() < b->version(); });
  return pending;
}

SchemaVersion Migrations::latest() const {
  SchemaVersion newest;
  for (const auto& m : migrations_) newest = std::max(newest, m->version());
  return newest;
}

}  // namespace fennik::server
