#include "support/ProjectFiles.h"

#include "migrations/Migrations.h"
#include "module/LivesoundModule.h"
#include "module/SerializerRegistration.h"

#include "fennik/server/entity/Database.h"
#include "fennik/server/project/FileContainer.h"
#include "fennik/server/project/HostInterface.h"

#include <fstream>
#include <sstream>
#include <typeindex>
#include <typeinfo>

namespace qor::server::testing {

namespace fs = std::filesystem;
using fennik::server::FileContainer;
using fennik::server::HostInterface;
using fennik::server::Json;
using fennik::server::ProjectManager;

ScratchFolder::ScratchFolder() : path_(HostInterface::createTemporaryFolder("qortest")) {}
ScratchFolder::~ScratchFolder() { HostInterface::removeFolder(path_); }

std::shared_ptr<fennik::server::EntityContext> makeProjectContext() {
  auto context = fennik::server::EntityContext::create(fennik::server::JobLoop::Mode::Manual);
  registerEntitySerializers(*context->db());
  registerLivesoundServices(context);
  return context;
}

void packProject(const fs::path& folder, const fs::path& file, const std::string& schemaVersion) {
  FileContainer container(folder);
  Json record = Json::object();
  record["format"] = ProjectManager::FORMAT;
  record["schemaVersion"] = schemaVersion;
  record["savedBy"] = "test";
  record["checksum"] = container.checksum({ProjectManager::VERSION_ENTRY});
  container.store(ProjectManager::VERSION_ENTRY, record, 2);
  HostInterface::zip(folder, file);
}

void editProject(const fs::path& file, const std::function<void(Json&)>& edit) {
  ScratchFolder scratch;
  HostInterface::unzip(file, scratch.path());
  FileContainer container(scratch.path());
  const Json record = container.load(ProjectManager::VERSION_ENTRY);
  Json doc = container.load(ProjectManager::ENTITIES_ENTRY);
  edit(doc);
  container.store(ProjectManager::ENTITIES_ENTRY, doc);
  packProject(scratch.path(), file, record["schemaVersion"]);
}

std::string readBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::map<std::string, Json> entitiesById(const fennik::server::EntityContext& context, bool runtime) {
  std::map<std::string, Json> out;
  const auto& db = *context.db();
  for (const auto& base : db.serializers(std::type_index(typeid(fennik::server::EntityJsonSerializer)))) {
    const auto& s = static_cast<const fennik::server::EntityJsonSerializer&>(*base);
    db.forEachOfClass(s.entityClassName(), [&](fennik::server::Entity* e) {
      Json j;
      s.serialize(e, j, runtime);
      j["(class)"] = s.entityClassName();
      out[e->strId()] = std::move(j);
    });
  }
  return out;
}

}  // namespace qor::server::testing
