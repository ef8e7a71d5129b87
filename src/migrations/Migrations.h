#pragma once
// The schema migrations of stored live-sound projects. Each brings the
// container's "entities.json" from the previous schema to its own version;
// the host runs those a project needs, in version order, before loading.
// What each old schema looked like is written down in docs/migrations.md.

#include "fennik/server/service/Migration.h"

#include <memory>

namespace fennik::server {
class EntityContext;
}

namespace qor::server {

// 1.0.0 -> 1.1.1: per-channel device states become channel states; GPIO,
// device-info and label features get their group structure.
class Migration_100_120 : public fennik::server::Migration {
 public:
  Migration_100_120() : Migration({1, 1, 1}) {}
  std::string name() const override { return "Migration_100_120"; }
  void migrate(const std::shared_ptr<fennik::server::FileContainer>& container) override;
};

// -> 1.2.2: speaker modes and settings bound to the installed speaker
// databases.
class Migration_120_122 : public fennik::server::Migration {
 public:
  explicit Migration_120_122(std::weak_ptr<fennik::server::EntityContext> context)
      : Migration({1, 2, 2}), context_(std::move(context)) {}
  std::string name() const override { return "Migration_120_122"; }
  void migrate(const std::shared_ptr<fennik::server::FileContainer>& container) override;

 private:
  std::weak_ptr<fennik::server::EntityContext> context_;
};

// -> 1.2.4: the schema step carries no data change.
class Migration_122_124 : public fennik::server::Migration {
 public:
  Migration_122_124() : Migration({1, 2, 4}) {}
  std::string name() const override { return "Migration_122_124"; }
  void migrate(const std::shared_ptr<fennik::server::FileContainer>&) override {}
};

// -> 1.3.0: sessions with their windows, a default layer, cleared matrix DSP
// classes, and load features for amplifiers.
class Migration_124_130 : public fennik::server::Migration {
 public:
  Migration_124_130() : Migration({1, 3, 0}) {}
  std::string name() const override { return "Migration_124_130"; }
  void migrate(const std::shared_ptr<fennik::server::FileContainer>& container) override;
};

// Adds the four migrations, in version order, to the context's list.
void addLivesoundMigrations(const std::shared_ptr<fennik::server::EntityContext>& context);

}  // namespace qor::server
