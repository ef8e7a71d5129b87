// libFuzzer target: arbitrary bytes into the envelope and change-batch
// decoders and, as an update payload, into the update path of every entity
// controller (the first byte picks the controller). Jobs the update posts are run too.
// Whatever an accepted update wrote, the project must still save, and the
// saved file open again: a failure there aborts (a finding).
// Build with the "fuzz" preset (clang); run:
//   build/fuzz/bin/wire_fuzz -max_total_time=600 fuzz/corpus

#include "model/GeneratedServices.h"
#include "module/SerializerRegistration.h"
#include "qor/server/entities/FtDelay.h"
#include "qor/server/entities/Layer.h"
#include "qor/server/entities/VisualItem.h"
#include "wire/GeneratedWire.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/ksp/IKspController.h"
#include "fennik/server/net/Envelope.h"
#include "fennik/server/project/ProjectManager.h"
#include "fennik/server/service/EntityContext.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include <unistd.h>

namespace {

using namespace fennik::server;

// Notes whether any reply accepted the request.
class NoteReplier : public IKspReplier {
 public:
  void reply(std::shared_ptr<KspResponse> response) override {
    if (static_cast<int>(response->status()) < 300) accepted = true;
  }
  bool accepted = false;
};

struct Harness {
  std::shared_ptr<EntityContext> context = EntityContext::create(JobLoop::Mode::Manual);
  std::shared_ptr<NoteReplier> replier = std::make_shared<NoteReplier>();
  std::vector<std::shared_ptr<IFennikController>> controllers;
  std::shared_ptr<ProjectManager> project = std::make_shared<ProjectManager>(context, "wire_fuzz");
  std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("wire_fuzz-" + std::to_string(::getpid()) + ".qor");

  Harness() {
    setLogLevel(spdlog::level::off);
    qor::server::addGeneratedServices(context);
    qor::server::registerEntitySerializers(*context->db());
    controllers = qor::server::wire::makeEntityControllers();
    for (auto& c : controllers) c->inject(context);
    project->newProject();
    addSeeded();
  }

  // The project as it is saved and opened again; any failure is a finding.
  void saveAndOpen() {
    try {
      project->saveAs(file);
      project->open(file);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "accepted input broke save and open: %s\n", e.what());
      std::abort();
    }
    if (!context->db()->find(UuidFromS("3f2c7d2e-5a55-4c39-9a52-6d8c5c3bd0e1"))) addSeeded();
  }

  void addSeeded() {
    // Entities the seed corpus (fuzz/corpus) names, so updates reach the setters.
    auto& db = *context->db();
    db.add(qor::server::FtDelay::createDefaultInitialized(UuidFromS("3f2c7d2e-5a55-4c39-9a52-6d8c5c3bd0e1")));
    db.add(qor::server::VisualItem::createDefaultInitialized(UuidFromS("3f2c7d2e-5a55-4c39-9a52-6d8c5c3bd0e2")));
    db.add(qor::server::Layer::createDefaultInitialized(UuidFromS("3f2c7d2e-5a55-4c39-9a52-6d8c5c3bd0e3")));
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Harness h;
  (void)net::decode(data, size);
  (void)net::decodeChangeBatch(KspBytes(data, data + size));
  if (size == 0) return 0;
  auto& controller = h.controllers[data[0] % h.controllers.size()];
  KspRequest::Header header;
  header.route = controller->route();
  header.method = KspMethod::Update;
  header.responseRequired = true;
  auto request = std::make_shared<KspRequest>(header, KspBytes(data + 1, data + size), h.replier);
  h.replier->accepted = false;
  try {
    controller->handle(h.replier, request);
  } catch (const KspNetworkException&) {
  }
  h.context->loop()->runUntilIdle();
  request.reset();  // the host's acknowledgement (204) comes with the last holder
  if (h.replier->accepted) h.saveAndOpen();
  return 0;
}
