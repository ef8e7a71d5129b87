#include "fennik/server/project/ProjectManager.h"

#include "EntryDeflater.h"
#include "UnzipEntries.h"

#include "fennik/server/core/HugePageHeap.h"
#include "fennik/server/core/JsonText.h"
#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/entity/EntityJsonSerializer.h"
#include "fennik/server/project/EntitiesReader.h"
#include "fennik/server/project/HostInterface.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/ServiceResolver.h"

#include <isa-l/crc.h>

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

namespace fennik::server {

namespace fs = std::filesystem;

namespace {

const std::type_index JSON_FAMILY{typeid(EntityJsonSerializer)};

// Entities freed per job when a replaced project is let go.
constexpr std::size_t RELEASE_SLICE = 4096;

// Lets go of a replaced project's entities a slice at a time, in the loop's
// background lane: the new project is open, and answers clients, while the
// old one is freed (a show's three hundred thousand entities take several
// hundred milliseconds to free). The slices run after the open and before
// anything queued behind more than a few client jobs.
void releaseInSlices(QueuedAccessor<EntityContext>& loop, std::vector<EntityPtr> entities) {
  if (entities.empty()) return;
  struct Release {
    std::vector<EntityPtr> rest;
    Uuid key = random_uuid();
    void next(QueuedAccessor<EntityContext>& loop, const std::shared_ptr<Release>& self) {
      loop.post(
          key, key, "ProjectManager::release",
          [self](const std::shared_ptr<EntityContext>& c) {
            auto& rest = self->rest;
            rest.resize(rest.size() - std::min(rest.size(), RELEASE_SLICE));
            if (!rest.empty()) self->next(*c->loop(), self);
          },
          JobLoop::Lane::Background);
    }
  };
  auto release = std::make_shared<Release>();
  release->rest = std::move(entities);
  release->next(loop, release);
}

std::string quoted(const fs::path& file) { return "'" + file.string() + "'"; }

// A reason as the user should read it: paths inside the working folder an
// opened file was unpacked into become the file and the entry.
std::string scrubbed(std::string reason, const fs::path& folder, const fs::path& file) {
  if (folder.empty()) return reason;
  const std::string inside = folder.string() + "/";
  const std::string named = file.filename().string() + ", entry ";
  for (auto at = reason.find(inside); at != std::string::npos; at = reason.find(inside, at + named.size())) {
    reason.replace(at, inside.size(), named);
  }
  const std::string bare = folder.string();
  for (auto at = reason.find(bare); at != std::string::npos; at = reason.find(bare, at)) {
    reason.replace(at, bare.size(), file.filename().string());
  }
  return reason;
}

// A new working folder, named after this process.
// Entries unpacked up to this size are held in memory (FileContainer::hold).
constexpr std::uint64_t HELD_ENTRY_BYTES = std::uint64_t{1} << 20;

// The entry being held while it is unpacked, and those done.
struct HeldUnpacking {
  EntryDeflater deflater;
  std::optional<std::string> current;
  std::vector<std::pair<std::string, std::shared_ptr<const DeflatedBytes>>> done;

  void finishCurrent() {
    if (!current) return;
    done.emplace_back(std::move(*current), compacted(*deflater.finish()));
    current.reset();
  }
};

fs::path workingFolder() {
  return HostInterface::createTemporaryFolder(std::string(ProjectManager::WORKING_FOLDER_PREFIX) + "-" +
                                              std::to_string(::getpid()));
}

// Unpacked folders of projects that never became the running one.
struct FolderGuard {
  fs::path folder;
  ~FolderGuard() { HostInterface::removeFolder(folder); }
};

// `unpacked`: entries unpacked into memory instead of the folder.
SchemaVersion readVersionRecord(const FileContainer& container, const fs::path& file,
                                const std::vector<MemoryEntry>& unpacked) {
  if (!container.has(ProjectManager::VERSION_ENTRY)) {
    throw ProjectError(quoted(file) + " is no qorserver project: it has no " + ProjectManager::VERSION_ENTRY);
  }
  Json record;
  try {
    record = container.load(ProjectManager::VERSION_ENTRY);
  } catch (const std::exception& e) {
    throw ProjectError(quoted(file) + " is damaged: " + e.what());
  }
  if (!record.is_object() || record.value("format", "") != ProjectManager::FORMAT) {
    throw ProjectError(quoted(file) + " is no qorserver project: its version record has another format");
  }
  SchemaVersion stored;
  try {
    stored = SchemaVersion::parse(record.at("schemaVersion").get<std::string>());
  } catch (const std::exception& e) {
    throw ProjectError(quoted(file) + " is damaged: its schema version cannot be read (" + e.what() + ")");
  }
  const std::string expected = record.value("checksum", "");
  if (expected != container.checksum({ProjectManager::VERSION_ENTRY}, unpacked)) {
    throw ProjectError(quoted(file) + " is damaged: its content does not match the checksum it was saved with");
  }
  return stored;
}

// The entities' text whole, unpacked again: for the migrations, which change
// it, and for the tree reading, which names what is wrong with it.
std::string unpackEntities(const fs::path& file, const UnpackLimits& limits) {
  std::string text;
  detail::EntrySink keep = [&text](std::string_view bytes) { text.append(bytes); };
  detail::EntrySink passOver = [](std::string_view) {};
  const fs::path scratch = HostInterface::createTemporaryFolder("qorserver-entities");
  FolderGuard guard{scratch};
  try {
    detail::unzipEntries(file, scratch, limits, [&](const std::string& name, std::uint64_t) {
      if (name != ProjectManager::ENTITIES_ENTRY) return &passOver;
      text.clear();
      return &keep;
    });
  } catch (const std::exception& e) {
    throw ProjectError(e.what());
  }
  return text;
}

// "entities.json" is handed to the deflater in pieces of about this size.
constexpr std::size_t PIECE_BYTES = std::size_t{4} << 20;

// "entities.json" written entity by entity, each as its serializer writes
// its text: the same text as dumping one document, without holding the whole
// project as a JSON tree, nor even its whole text: it goes to `deflate` in
// pieces while the next one is written.
void writeEntitiesDocument(const Database& db, BackgroundDeflate& deflate) {
  std::string text;
  const auto nextPiece = [&] {
    text = deflate.buffer();
    text.reserve(PIECE_BYTES + PIECE_BYTES / 4);
  };
  nextPiece();
  text += '{';
  bool anyClass = false;
  for (const auto& base : db.serializers(JSON_FAMILY)) {
    const auto& serializer = static_cast<const EntityJsonSerializer&>(*base);
    const auto className = serializer.entityClassName();
    bool first = true;
    db.forEachOfClass(className, [&](Entity* e) {
      if (!e->isFileFlagSet()) return;
      if (first) {
        if (anyClass) text += ',';
        anyClass = true;
        json_text::appendString(text, className);
        text += ":[";
        first = false;
      } else {
        text += ',';
      }
      serializer.write(e, text, false);
      if (text.size() >= PIECE_BYTES) {
        deflate.add(std::move(text));
        nextPiece();
      }
    });
    if (!first) text += ']';
  }
  text += '}';
  deflate.add(std::move(text));
}

}  // namespace

struct ProjectManager::Prepared {
  fs::path folder;
  std::shared_ptr<FileContainer> container;
  std::vector<EntityPtr> entities;
  std::unique_ptr<Database> aside;  // the entities, resolved among themselves
  SchemaVersion stored;
  std::shared_ptr<HeapWarming> warming;  // heap for the new project, warmed meanwhile
};

ProjectManager::ProjectManager(std::shared_ptr<EntityContext> context, std::string hostVersion)
    : context_(std::move(context)), hostVersion_(std::move(hostVersion)) {}

ProjectManager::~ProjectManager() {
  if (container_) HostInterface::removeFolder(container_->path());
}

void ProjectManager::removeStaleWorkingFolders() {
  const std::string prefix = std::string(WORKING_FOLDER_PREFIX) + "-";
  std::error_code ec;
  const fs::path temporary = fs::temp_directory_path(ec);
  if (ec) return;
  for (fs::directory_iterator it(temporary, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!name.starts_with(prefix)) continue;
    const auto dash = name.find('-', prefix.size());
    if (dash == std::string::npos) continue;
    long pid = 0;
    try {
      pid = std::stol(name.substr(prefix.size(), dash - prefix.size()));
    } catch (const std::exception&) {
      continue;
    }
    // Only folders of processes that are gone (not merely another user's).
    if (pid <= 0 || pid == ::getpid() || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    std::error_code ignored;
    if (!it->is_directory(ignored)) continue;
    fs::remove_all(it->path(), ignored);
    getLogger(HOST_LOGGER)->info("Removed the working folder {} of a server that no longer runs", it->path().string());
  }
}

bool ProjectManager::isOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}

std::optional<fs::path> ProjectManager::file() const {
  std::lock_guard lock(mutex_);
  return file_;
}

std::shared_ptr<FileContainer> ProjectManager::container() const {
  std::lock_guard lock(mutex_);
  return container_;
}

std::optional<SchemaVersion> ProjectManager::storedVersion() const {
  std::lock_guard lock(mutex_);
  return storedVersion_;
}

SchemaVersion ProjectManager::currentVersion() const { return context_->migrations().latest(); }

void ProjectManager::newProject() {
  FolderGuard guard{workingFolder()};
  auto container = std::make_shared<FileContainer>(guard.folder);
  context_->loop()->work([&](const std::shared_ptr<EntityContext>& c) {
    closeOnLoop();
    {
      std::lock_guard lock(mutex_);
      container_ = container;
      guard.folder.clear();
      file_.reset();
      storedVersion_.reset();
      open_ = true;
    }
    c->services()->forEach([](Service& s) { s.initialize(); });
    c->services()->forEach([&](Service& s) { s.load(*container); });
    c->services()->forEach([](Service& s) { s.loaded(); });
    c->services()->forEach([](Service& s) { s.loadedFinished(); });
    getLogger(HOST_LOGGER)->info("New project ready: {} entities", c->db()->size());
  });
}

ProjectManager::Prepared ProjectManager::prepare(const fs::path& file) const {
  const fs::path folder = workingFolder();
  try {
    return prepareIn(folder, file);
  } catch (const ProjectError& e) {
    throw ProjectError(scrubbed(e.what(), folder, file));
  } catch (const std::exception& e) {
    // Whatever else went wrong while reading aside still names the file.
    throw ProjectError("Cannot open " + quoted(file) + ": " + scrubbed(e.what(), folder, file));
  }
}

ProjectManager::Prepared ProjectManager::prepareIn(const fs::path& folder, const fs::path& file) const {
  Prepared p;
  p.folder = folder;
  FolderGuard guard{p.folder};
  const Database& db = *context_->db();
  // The entities are read while they are unpacked, a piece at a time: the
  // largest entry by far is neither written to the folder nor held whole.
  // Their size and sum stand in for the text in the project's checksum.
  std::optional<EntitiesForwardReader> reader;
  auto sum = std::make_shared<DeflatedBytes>();
  // The small entries (a show's driver entries among them) are held in
  // memory, deflated again, rather than becoming files of the folder.
  HeldUnpacking held;
  detail::EntrySink holdUnpacked = [&held](std::string_view bytes) { held.deflater.add(bytes); };
  detail::EntrySink readUnpacked = [&](std::string_view bytes) {
    sum->crc = crc32_gzip_refl(sum->crc, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    sum->size += bytes.size();
    reader->add(bytes);
  };
  try {
    detail::unzipEntries(file, p.folder, limits_, [&](const std::string& name, std::uint64_t declared) {
      held.finishCurrent();
      if (name != ENTITIES_ENTRY) {
        if (declared > HELD_ENTRY_BYTES) return static_cast<detail::EntrySink*>(nullptr);
        held.current = name;
        return &holdUnpacked;
      }
      // The entities take about a quarter more memory than their text; the
      // drivers and connections of their devices come on top.
      p.warming = warmHeap(declared + declared / 4);
      reader.emplace(db, file);
      *sum = DeflatedBytes();
      return &readUnpacked;
    });
  } catch (const std::exception& e) {
    throw ProjectError(e.what());  // names the file and the reason
  }
  held.finishCurrent();
  p.container = std::make_shared<FileContainer>(p.folder);
  for (auto& [name, deflated] : held.done) p.container->hold(name, std::move(deflated));
  {
    std::vector<MemoryEntry> inMemory;
    if (reader) inMemory.emplace_back(ENTITIES_ENTRY, std::string_view(), sum);
    p.stored = readVersionRecord(*p.container, file, inMemory);
  }
  const SchemaVersion current = currentVersion();
  if (p.stored > current) {
    throw ProjectError(quoted(file) + " was saved with the newer schema " + p.stored.toString() +
                       "; this server reads projects up to schema " + current.toString());
  }
  const auto migrations = context_->migrations().pendingFor(p.stored);
  if (reader && migrations.empty()) {
    // What was read while unpacking; where that reading gave up, the tree
    // reading of the whole text decides, and names what is wrong.
    auto read = reader->finish();
    reader.reset();
    p.entities = read ? std::move(*read) : readEntitiesAsTree(db, unpackEntities(file, limits_), file);
  } else {
    // Migrations change the folder's entries, the entities among them; they
    // work on the unpacked copy: the file stays as it is.
    if (reader) p.container->set(ENTITIES_ENTRY, unpackEntities(file, limits_));
    reader.reset();
    for (const auto& migration : migrations) {
      getLogger(HOST_LOGGER)
          ->info("Migrating {} to schema {} ({})", file.string(), migration->version().toString(), migration->name());
      migration->migrate(p.container);
    }
    p.entities = readEntities(db, *p.container, file);
  }
  p.aside = checkAside(p.entities, file);
  // While the project is open its entities live in the database; saving
  // writes them from there, so the working folder keeps no stale copy.
  p.container->unset(ENTITIES_ENTRY);
  guard.folder.clear();
  return p;
}

std::unique_ptr<Database> ProjectManager::checkAside(const std::vector<EntityPtr>& entities,
                                                     const fs::path& file) const {
  // The entities resolved in a database of their own, and every service
  // asked whether it could load them: what would fail once the running
  // project is gone fails here, while it still runs.
  auto aside = std::make_unique<Database>();
  aside->reserve(entities.size());
  for (const auto& entity : entities) aside->add(entity);
  const Entity::Lookup lookup = [&aside](const Uuid& id) { return aside->find(id); };
  try {
    for (const auto& entity : entities) entity->resolvePointers(lookup);
    context_->services()->forEach([&](Service& s) { s.checkLoad(*aside); });
  } catch (const std::exception& e) {
    throw ProjectError("Cannot open " + quoted(file) + ": " + ENTITIES_ENTRY + ": " + e.what());
  }
  return aside;
}

void ProjectManager::open(const fs::path& requested) {
  const fs::path file = fs::absolute(requested);
  getLogger(HOST_LOGGER)->info("Opening project {}", file.string());
  const auto started = std::chrono::steady_clock::now();
  context_->loop()->work([&](const std::shared_ptr<EntityContext>& c) {
    Prepared p;
    try {
      p = prepare(file);
    } catch (const ProjectError&) {
      throw;
    } catch (const std::exception& e) {
      throw ProjectError("Cannot open " + quoted(file) + ": " + e.what());
    }
    FolderGuard guard{p.folder};
    // From here on the new project replaces the running one. Should a hook
    // fail all the same, the running project comes back: its entities (the
    // same objects), its working folder and its file.
    Running previous{c->db()->entities(), container_, file_, storedVersion_, open_};
    closeOnLoop(true);
    guard.folder.clear();
    try {
      install(*c, p.entities, p.container, file, p.stored, p.aside.get());
    } catch (const std::exception& e) {
      const std::string reason = scrubbed(e.what(), p.folder, file);
      getLogger(HOST_LOGGER)
          ->error("Opening {} failed after reading it ({}); the previous project comes back", file.string(), reason);
      restore(*c, std::move(previous), p.folder);
      throw ProjectError("Cannot open " + quoted(file) + ": " + reason);
    }
    if (previous.container) HostInterface::removeFolder(previous.container->path());
    releaseInSlices(*c->loop(), std::move(previous.entities));
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
    getLogger(HOST_LOGGER)
        ->info("Project opened: {} ({} entities, schema {}, {} ms)", file.string(), c->db()->size(),
               p.stored.toString(), ms);
  });
}

void ProjectManager::install(EntityContext& c, const std::vector<EntityPtr>& entities,
                             const std::shared_ptr<FileContainer>& container, const std::optional<fs::path>& file,
                             const std::optional<SchemaVersion>& stored, Database* aside) {
  {
    std::lock_guard lock(mutex_);
    container_ = container;
    file_ = file;
    storedVersion_ = stored;
    open_ = true;
  }
  const auto& db = c.db();
  if (aside && db->size() == 0 && aside->size() == entities.size()) {
    // Resolved against exactly what the database will hold: the same
    // lookups would give the same pointers, and the index is built already.
    db->adopt(*aside);
  } else {
    db->reserve(db->size() + entities.size());
    for (const auto& entity : entities) db->add(entity);
    const Entity::Lookup lookup = [&db](const Uuid& id) { return db->find(id); };
    for (const auto& entity : entities) entity->resolvePointers(lookup);
  }
  c.services()->forEach([&](Service& s) { s.load(*container); });
  c.services()->forEach([](Service& s) { s.loaded(); });
  c.services()->forEach([](Service& s) { s.loadedFinished(); });
}

void ProjectManager::restore(EntityContext& c, Running previous, const fs::path& failedFolder) {
  try {
    closeOnLoop(false);
  } catch (const std::exception& e) {
    getLogger(HOST_LOGGER)->error("Closing the half-opened project failed: {}", e.what());
    c.db()->clear();
  }
  HostInterface::removeFolder(failedFolder);
  {
    std::lock_guard lock(mutex_);
    container_.reset();
    file_.reset();
    storedVersion_.reset();
    open_ = false;
  }
  if (!previous.open || !previous.container) return;
  try {
    install(c, previous.entities, previous.container, previous.file, previous.stored, nullptr);
  } catch (const std::exception& e) {
    getLogger(HOST_LOGGER)->critical("The previous project could not be restored: {}", e.what());
  }
}

void ProjectManager::save() {
  const auto current = file();
  if (!current) throw ProjectError("The project has no file yet; save it under a name first");
  saveAs(*current);
}

void ProjectManager::saveAs(const fs::path& requested) {
  context_->loop()->work([&](const std::shared_ptr<EntityContext>& c) { saveOnLoop(*c, requested); });
}

void ProjectManager::saveOnLoop(EntityContext& c, const fs::path& requested) {
  if (!open_ || !container_) throw ProjectError("No project is open");
  const fs::path file = fs::absolute(requested);
  if (!fs::is_directory(file.parent_path())) {
    throw ProjectError("Cannot save to " + quoted(file) + ": the folder " + quoted(file.parent_path()) +
                       " does not exist");
  }
  // Saving over another file is only for projects: anything else there is
  // the user's and stays as it is.
  if (file != file_ && fs::exists(file)) {
    if (!fs::is_regular_file(file) || !HostInterface::zipHasEntry(file, VERSION_ENTRY)) {
      throw ProjectError("Cannot save to " + quoted(file) + ": it is no qorserver project and is not overwritten");
    }
  }
  getLogger(HOST_LOGGER)->info("Saving project to {}", file.string());
  const auto started = std::chrono::steady_clock::now();
  try {
    keepOlderSchemaCopy(file);
    writeContainer(c, file);
  } catch (const ProjectError&) {
    throw;
  } catch (const std::exception& e) {
    throw ProjectError("Cannot save to " + quoted(file) + ": " + e.what());
  }
  {
    std::lock_guard lock(mutex_);
    file_ = file;
    storedVersion_ = currentVersion();
  }
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
  getLogger(HOST_LOGGER)->info("Project saved: {} ({} ms)", file.string(), ms);
}

void ProjectManager::keepOlderSchemaCopy(const fs::path& file) const {
  // Overwriting a project an older server wrote would lock that server out
  // of it; its file is kept once, beside the new one.
  if (!storedVersion_ || *storedVersion_ >= currentVersion() || !file_ || *file_ != file || !fs::exists(file)) return;
  const fs::path copy =
      file.parent_path() / (file.stem().string() + ".schema-" + storedVersion_->toString() + file.extension().string());
  if (fs::exists(copy)) return;
  fs::copy_file(file, copy);
  HostInterface::flushToDisk(copy);
  getLogger(HOST_LOGGER)->info("Kept the project as schema {} wrote it: {}", storedVersion_->toString(), copy.string());
}

void ProjectManager::writeContainer(EntityContext& context, const fs::path& file) {
  auto& container = *container_;
  context.services()->forEach([](Service& s) { s.beforeSave(); });
  context.services()->forEach([&](Service& s) { s.save(container); });
  // The entities go from memory into the checksum and the zip; they are not
  // written to the working folder only to be read back. Deflating them is
  // the longest step of a large save: a second thread deflates each piece
  // of the document while the next one is written.
  BackgroundDeflate deflating(entitiesBytes_ / 5);  // JSON deflates to about a sixth
  writeEntitiesDocument(*context.db(), deflating);
  std::vector<MemoryEntry> fromMemory{{ENTITIES_ENTRY, {}, deflating.finish()}};
  entitiesBytes_ = fromMemory.front().deflated->size;
  Json record = Json::object();
  record["format"] = FORMAT;
  record["schemaVersion"] = currentVersion().toString();
  record["savedBy"] = hostVersion_;
  record["checksum"] = container.checksum({VERSION_ENTRY}, fromMemory);
  container.store(VERSION_ENTRY, record, 2);
  for (auto& held : container.heldEntries()) fromMemory.push_back(std::move(held));
  HostInterface::zip(container.path(), file, fromMemory);
}

void ProjectManager::close() {
  context_->loop()->work([this](const std::shared_ptr<EntityContext>&) { closeOnLoop(); });
}

void ProjectManager::closeOnLoop(bool keepFolder) {
  if (!open_) return;
  context_->services()->forEach([](Service& s) { s.unload(); });
  context_->db()->clear();
  context_->services()->forEach([](Service& s) { s.unloaded(); });
  std::lock_guard lock(mutex_);
  if (container_ && !keepFolder) HostInterface::removeFolder(container_->path());
  container_.reset();
  file_.reset();
  storedVersion_.reset();
  open_ = false;
  getLogger(HOST_LOGGER)->info("Project closed");
}

}  // namespace fennik::server
