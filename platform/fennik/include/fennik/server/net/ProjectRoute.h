#pragma once
// The host's project route: clients start a new project, open one, save it,
// save it under another file and ask which file is open. Each method is one
// call on the host's ProjectManager, run as a job on the event loop (the
// manager then works inline), so it never overlaps with other model work.
//
// Replies carry a fennik.wire.ProjectReply: the project's file, whether one
// is open and its schema version — and, on failure (422), the manager's
// message naming the file and what is wrong; the running project is then
// as it was. Clients reach only files in the allowed folders, and saving
// never writes over a file that is not a project.

#include "fennik/server/ksp/IKspController.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fennik::server {
class EntityContext;
class ProjectManager;
}  // namespace fennik::server

namespace fennik::server::net {

class ProjectRoute : public IKspController {
 public:
  static constexpr const char* ROUTE = "fennik::server::Project";
  static constexpr const char* NEW = "/projectNew";
  static constexpr const char* OPEN = "/projectOpen";
  static constexpr const char* SAVE = "/projectSave";
  static constexpr const char* SAVE_AS = "/projectSaveAs";
  static constexpr const char* INFO = "/projectInfo";

  // `clientFolders`: the folders whose files clients may open and save to
  // (with everything below them); a path elsewhere is refused (422). A
  // relative path is taken relative to the first folder. Without it (tests,
  // embedding) any path is taken as it is.
  ProjectRoute(std::shared_ptr<EntityContext> context, std::weak_ptr<ProjectManager> project,
               std::optional<std::vector<std::filesystem::path>> clientFolders = std::nullopt);

  // The file a client's path names, or ProjectError when it lies outside
  // the folders (symbolic links and ".." resolved first).
  static std::filesystem::path clientPath(const std::string& path,
                                          const std::optional<std::vector<std::filesystem::path>>& folders);

 private:
  using Operation = std::function<void(ProjectManager&)>;
  // Verifies nothing; runs `operation` on the loop and replies.
  void run(const Replier& replier, const Request& request, const std::string& what, Operation operation);
  // The file argument of open and save as; 400 when missing or empty.
  static std::string pathArgument(const Request& request);

  std::shared_ptr<EntityContext> context_;
  std::weak_ptr<ProjectManager> project_;
  std::optional<std::vector<std::filesystem::path>> clientFolders_;
};

}  // namespace fennik::server::net
