// libFuzzer target: project files. The first byte picks what the rest is:
// even, a whole project file (zip container) as it lies on disk; odd, the
// "entities.json" of a project whose container and version record are
// valid, so mutations reach the entity reader, the migrations and the
// services' checks instead of stopping at the zip's checksums. Opening must
// either succeed or refuse with a ProjectError; an opened project must save,
// and the saved file must open again; the entities read in small pieces
// must be those of one pass. Anything else aborts (a finding).
// Build with the "fuzz" preset (clang); run:
//   build/fuzz/bin/project_fuzz -max_total_time=600 fuzz/corpus-project

#include "module/LivesoundModule.h"
#include "module/SerializerRegistration.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/entity/EntityJsonSerializer.h"
#include "fennik/server/project/EntitiesReader.h"
#include "fennik/server/project/FileContainer.h"
#include "fennik/server/project/HostInterface.h"
#include "fennik/server/project/ProjectManager.h"
#include "fennik/server/service/EntityContext.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include <unistd.h>

namespace {

using namespace fennik::server;
namespace fs = std::filesystem;

struct Harness {
  std::shared_ptr<EntityContext> context = EntityContext::create(JobLoop::Mode::Manual);
  std::shared_ptr<ProjectManager> project = std::make_shared<ProjectManager>(context, "project_fuzz");
  fs::path folder = HostInterface::createTemporaryFolder("project_fuzz");
  fs::path empty = folder / "empty";

  Harness() {
    setLogLevel(spdlog::level::off);
    // The module's services, hand-written ones and migrations included, as
    // the host has them after start.
    qor::server::registerEntitySerializers(*context->db());
    qor::server::registerLivesoundServices(context);
    // Small limits keep a bomb in the corpus from filling the disk.
    project->setLimits({16u << 20, 64u << 20});
    project->newProject();
    fs::create_directories(empty);
  }

  // A valid container around the given entities text.
  void pack(std::string_view entities, const fs::path& file) const {
    FileContainer container(empty);
    const std::vector<MemoryEntry> fromMemory{{ProjectManager::ENTITIES_ENTRY, entities}};
    Json record = Json::object();
    record["format"] = ProjectManager::FORMAT;
    record["schemaVersion"] = project->currentVersion().toString();
    record["savedBy"] = "project_fuzz";
    record["checksum"] = container.checksum({ProjectManager::VERSION_ENTRY}, fromMemory);
    const std::string recordText = record.dump(2);
    HostInterface::zip(empty, file, {fromMemory.front(), {ProjectManager::VERSION_ENTRY, recordText}});
  }
};

// The entities' text as the writer writes it, or nothing when not read.
std::optional<std::string> written(const Database& db, const std::optional<std::vector<EntityPtr>>& entities) {
  if (!entities) return std::nullopt;
  std::string text;
  for (const auto& e : *entities) db.serializer<EntityJsonSerializer>(e->className())->write(e.get(), text, true);
  return text;
}

// Read in small pieces, the document gives what one pass over it gives,
// and is refused where that pass refuses it.
void checkPieces(const Database& db, std::string_view entities) {
  const std::string text(entities);
  const auto whole = written(db, readEntitiesForward(db, text, "fuzz.qor", SIZE_MAX / 2));
  for (const std::size_t piece : {1, 16, 64}) {
    if (written(db, readEntitiesForward(db, text, "fuzz.qor", piece)) != whole) {
      std::fprintf(stderr, "reading in pieces of %zu bytes differs from one pass\n", piece);
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Harness h;
  if (size == 0) return 0;
  const fs::path input = h.folder / "input.qor";
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  try {
    if (data[0] % 2 == 0) {
      std::ofstream(input, std::ios::binary | std::ios::trunc)
          .write(rest.data(), static_cast<std::streamsize>(rest.size()));
    } else {
      h.pack(rest, input);
      checkPieces(*h.context->db(), rest);
    }
  } catch (const std::exception&) {
    return 0;  // the harness could not write the file; nothing tested
  }
  try {
    h.project->open(input);
  } catch (const ProjectError&) {
    return 0;  // refused with a reason: fine
  } catch (const std::exception& e) {
    std::fprintf(stderr, "open failed without a ProjectError: %s\n", e.what());
    std::abort();
  }
  const fs::path saved = h.folder / "saved.qor";
  try {
    h.project->saveAs(saved);
    h.project->open(saved);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "an opened project did not save and open again: %s\n", e.what());
    std::abort();
  }
  return 0;
}
