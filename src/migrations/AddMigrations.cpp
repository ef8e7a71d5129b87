#include "migrations/Migrations.h"

#include "fennik/server/service/EntityContext.h"

namespace qor::server {

void addLivesoundMigrations(const std::shared_ptr<fennik::server::EntityContext>& context) {
  auto& migrations = context->migrations();
  // Registering the services again must not run each migration twice.
  for (const auto& m : migrations.all()) {
    if (m->name() == "Migration_100_120") return;
  }
  migrations.add(std::make_shared<Migration_100_120>());
  migrations.add(std::make_shared<Migration_120_122>(context));
  migrations.add(std::make_shared<Migration_122_124>());
  migrations.add(std::make_shared<Migration_124_130>());
}

}  // namespace qor::server
