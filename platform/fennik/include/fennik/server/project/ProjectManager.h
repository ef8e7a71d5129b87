#pragma once
// The life cycle of the host's one open project: new, open, save, save as,
// close. A project file is a zip container holding "entities.json" (the
// entities keyed by class name), the services' own entries and the host's
// version record. The opened project lives unpacked in a working folder,
// without its "entities.json": the entities live in the database while the
// project is open, and saving packs them from there.
//
// Opening runs in two halves. The first reads everything aside — unpack
// (within the size limits), check the version record, run the migrations the
// stored schema calls for, deserialize every entity, resolve the entities in
// a database of their own and let every service check them (checkLoad) —
// and any failure there throws a ProjectError while the running project, its
// subscribers and the file stay as they were. Only then is the running
// project closed and the new one put in place: entities added, pointers
// resolved, every service's load, loaded and loadedFinished hooks called in
// resolver order. Should a hook fail even so, the previous project is put
// back (the same entities, folder and file) and the open throws.
//
// Reasons name the project file and its entry, never the working folder.
//
// Every operation may be called from any thread; it runs as a whole on the
// entity context's loop (inline when called on the loop thread), so
// operations never overlap and nothing else changes the model meanwhile.

#include "fennik/server/entity/Entity.h"
#include "fennik/server/project/FileContainer.h"
#include "fennik/server/project/HostInterface.h"
#include "fennik/server/service/Migration.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace fennik::server {

class Database;
class EntityContext;

// A failure the user must see; the message names the file and what is wrong.
class ProjectError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ProjectManager {
 public:
  static constexpr const char* ENTITIES_ENTRY = "entities.json";
  // The host's own record: format, schema version, who saved, checksum.
  static constexpr const char* VERSION_ENTRY = "qorserver-project.json";
  static constexpr const char* FORMAT = "qorserver-project";
  // Working folders are "<prefix>-<pid>-XXXXXX" in the temporary folder, so
  // the folders of servers that were killed can be found and removed.
  static constexpr const char* WORKING_FOLDER_PREFIX = "qorproject";

  // Bounds on what opening a file may unpack (a zip bomb is refused).
  using Limits = UnpackLimits;

  // hostVersion goes into the version record of saved projects.
  ProjectManager(std::shared_ptr<EntityContext> context, std::string hostVersion);
  // Removes the working folder; the services' hooks are not called (close()
  // first for an orderly end).
  ~ProjectManager();
  ProjectManager(const ProjectManager&) = delete;
  ProjectManager& operator=(const ProjectManager&) = delete;

  // Closes the running project and starts an empty one without a file: the
  // services' initialize, load, loaded and loadedFinished hooks create what a
  // project needs.
  void newProject();
  // Opens a project file; throws ProjectError and changes nothing on failure.
  void open(const std::filesystem::path& file);
  // Saves to the project's file; throws ProjectError when it has none yet.
  void save();
  // Saves to `file` (atomically) and makes it the project's file. The first
  // save over a file of an older schema keeps that file as
  // "<name>.schema-<version><ext>" beside it.
  void saveAs(const std::filesystem::path& file);
  // Runs the unload hooks, empties the database and drops the working folder.
  void close();

  bool isOpen() const;
  std::optional<std::filesystem::path> file() const;
  std::shared_ptr<FileContainer> container() const;
  // The schema version of the project's file: as opened (before migration),
  // the current one once saved.
  std::optional<SchemaVersion> storedVersion() const;
  // The schema version projects are saved with: the newest migration's.
  SchemaVersion currentVersion() const;

  void setLimits(const Limits& limits) { limits_ = limits; }
  const Limits& limits() const { return limits_; }
  // Removes the working folders of servers that no longer run.
  static void removeStaleWorkingFolders();

 private:
  struct Prepared;
  // The running project, kept while an opened one replaces it.
  struct Running {
    std::vector<EntityPtr> entities;
    std::shared_ptr<FileContainer> container;
    std::optional<std::filesystem::path> file;
    std::optional<SchemaVersion> stored;
    bool open = false;
  };
  Prepared prepare(const std::filesystem::path& file) const;
  Prepared prepareIn(const std::filesystem::path& folder, const std::filesystem::path& file) const;
  std::unique_ptr<Database> checkAside(const std::vector<EntityPtr>& entities, const std::filesystem::path& file) const;
  // `aside`: the database of their own that exactly these entities were
  // resolved in; an empty running database adopts it, and nothing is resolved
  // again. Without it they are added and resolved one by one.
  void install(EntityContext& context, const std::vector<EntityPtr>& entities,
               const std::shared_ptr<FileContainer>& container, const std::optional<std::filesystem::path>& file,
               const std::optional<SchemaVersion>& stored, Database* aside);
  void restore(EntityContext& context, Running previous, const std::filesystem::path& failedFolder);
  void closeOnLoop(bool keepFolder = false);
  void saveOnLoop(EntityContext& context, const std::filesystem::path& file);
  void keepOlderSchemaCopy(const std::filesystem::path& file) const;
  void writeContainer(EntityContext& context, const std::filesystem::path& file);

  std::shared_ptr<EntityContext> context_;
  std::string hostVersion_;
  // Guards the state below for readers on other threads; the operations
  // themselves run one at a time on the loop.
  mutable std::mutex mutex_;
  std::shared_ptr<FileContainer> container_;
  std::optional<std::filesystem::path> file_;
  std::optional<SchemaVersion> storedVersion_;
  bool open_ = false;
  // Size of the last saved "entities.json": the next save sizes its
  // deflated output from it.
  std::size_t entitiesBytes_ = 0;
  Limits limits_;
};

}  // namespace fennik::server
