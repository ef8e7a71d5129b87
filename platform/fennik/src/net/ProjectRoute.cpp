#include "fennik/server/net/ProjectRoute.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/net/Envelope.h"
#include "fennik/server/project/ProjectManager.h"
#include "fennik/server/service/EntityContext.h"

namespace fennik::server::net {

namespace {

ProjectReplyMessage stateOf(const ProjectManager& project) {
  ProjectReplyMessage reply;
  if (auto file = project.file()) reply.file = file->string();
  reply.open = project.isOpen();
  if (auto version = project.storedVersion()) reply.schemaVersion = version->toString();
  return reply;
}

}  // namespace

ProjectRoute::ProjectRoute(std::shared_ptr<EntityContext> context, std::weak_ptr<ProjectManager> project,
                           std::optional<std::vector<std::filesystem::path>> clientFolders)
    : IKspController(ROUTE),
      context_(std::move(context)),
      project_(std::move(project)),
      clientFolders_(std::move(clientFolders)) {
  addCustomMethod(KspMethod::Custom, NEW, [this](Replier replier, Request request) {
    run(replier, request, "new project", [](ProjectManager& p) { p.newProject(); });
  });
  addCustomMethod(KspMethod::Custom, OPEN, [this](Replier replier, Request request) {
    const auto path = pathArgument(request);
    run(replier, request, "open " + path,
        [path, folders = clientFolders_](ProjectManager& p) { p.open(clientPath(path, folders)); });
  });
  addCustomMethod(KspMethod::Custom, SAVE, [this](Replier replier, Request request) {
    run(replier, request, "save", [](ProjectManager& p) { p.save(); });
  });
  addCustomMethod(KspMethod::Custom, SAVE_AS, [this](Replier replier, Request request) {
    const auto path = pathArgument(request);
    run(replier, request, "save as " + path,
        [path, folders = clientFolders_](ProjectManager& p) { p.saveAs(clientPath(path, folders)); });
  });
  addCustomMethod(KspMethod::Custom, INFO,
                  [this](Replier replier, Request request) { run(replier, request, "info", [](ProjectManager&) {}); });
}

std::filesystem::path ProjectRoute::clientPath(const std::string& path,
                                               const std::optional<std::vector<std::filesystem::path>>& folders) {
  namespace fs = std::filesystem;
  if (!folders) return path;
  std::error_code ec;
  fs::path requested(path);
  if (requested.is_relative() && !folders->empty()) requested = folders->front() / requested;
  const fs::path resolved = fs::weakly_canonical(fs::absolute(requested), ec);
  if (!ec) {
    for (const auto& folder : *folders) {
      std::error_code e;
      const fs::path root = fs::weakly_canonical(fs::absolute(folder), e);
      if (e || root.empty()) continue;
      const fs::path inside = resolved.lexically_relative(root);
      if (!inside.empty() && *inside.begin() != ".." && inside != ".") return resolved;
    }
  }
  std::string list;
  for (const auto& folder : *folders) list += (list.empty() ? "'" : ", '") + folder.string() + "'";
  throw ProjectError("'" + path + "' is outside the folders clients may use (" + (list.empty() ? "none" : list) + ")");
}

std::string ProjectRoute::pathArgument(const Request& request) {
  auto path = decodeProjectPathArgs(request->payload());
  if (!path || path->empty()) {
    throw KspNetworkException(KspStatus::BadRequest, "a ProjectPathArgs table with a non-empty path is required");
  }
  return *path;
}

void ProjectRoute::run(const Replier& replier, const Request& request, const std::string& what, Operation operation) {
  // A job on the loop: the manager's operations run inline there, so the
  // network thread never waits for a long open or save.
  context_->loop()->post("ProjectRoute " + what,
                         [weak = project_, replier, request, what,
                          operation = std::move(operation)](const std::shared_ptr<EntityContext>&) {
                           auto project = weak.lock();
                           if (!project) return replyStatus(replier, request, KspStatus::NotFound);
                           KspStatus status = KspStatus::Ok;
                           std::string error;
                           try {
                             operation(*project);
                           } catch (const ProjectError& e) {
                             status = KspStatus::Refused;
                             error = e.what();
                           } catch (const std::exception& e) {
                             status = KspStatus::InternalError;
                             error = e.what();
                           }
                           if (!error.empty()) getLogger(HOST_LOGGER)->error("Project {} failed: {}", what, error);
                           auto reply = stateOf(*project);
                           reply.error = error;
                           auto response = request->respond(status);
                           response->payload() = encodeProjectReply(reply);
                           if (auto r = replier.lock()) r->reply(std::move(response));
                         });
}

}  // namespace fennik::server::net
