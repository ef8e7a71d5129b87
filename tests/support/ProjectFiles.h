#pragma once
// Helpers of the project-file tests: a fresh scratch folder per test, a
// project context with the module's services, serializers and migrations,
// and repacking of project files (edited contents, a valid checksum), the
// way an older server or a hand-edited file would have written them.

#include "fennik/server/entity/EntityJsonSerializer.h"
#include "fennik/server/project/ProjectManager.h"
#include "fennik/server/service/EntityContext.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace qor::server::testing {

// A temporary folder removed at the end of the scope.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// A hand-driven context with the live-sound services, JSON serializers and
// migrations registered, as the host has them after start.
std::shared_ptr<fennik::server::EntityContext> makeProjectContext();

// Packs a folder of project entries into a project file with a version
// record of the given schema (checksum included).
void packProject(const std::filesystem::path& folder, const std::filesystem::path& file,
                 const std::string& schemaVersion);
// Unpacks a project, lets `edit` change its entities document and packs it
// again with a matching checksum.
void editProject(const std::filesystem::path& file, const std::function<void(fennik::server::Json&)>& edit);

std::string readBytes(const std::filesystem::path& file);

// Every entity of the context as its JSON form, by id, with its class under
// "(class)": the file fields only, or every field with `runtime`.
std::map<std::string, fennik::server::Json> entitiesById(const fennik::server::EntityContext& context, bool runtime);

}  // namespace qor::server::testing
