// libFuzzer target: arbitrary bytes into the envelope decoder and, as an
// update payload, into the update path of every entity controller (the
// first byte picks the controller). Jobs the update posts are run too.
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
#include "fennik/server/service/EntityContext.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace {

using namespace fennik::server;

class NullReplier : public IKspReplier {
 public:
  void reply(std::shared_ptr<KspResponse>) override {}
};

struct Harness {
  std::shared_ptr<EntityContext> context = EntityContext::create(JobLoop::Mode::Manual);
  std::shared_ptr<NullReplier> replier = std::make_shared<NullReplier>();
  std::vector<std::shared_ptr<IFennikController>> controllers;

  Harness() {
    setLogLevel(spdlog::level::off);
    qor::server::addGeneratedServices(context);
    qor::server::registerEntitySerializers(*context->db());
    controllers = qor::server::wire::makeEntityControllers();
    for (auto& c : controllers) c->inject(context);
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
  if (size == 0) return 0;
  auto& controller = h.controllers[data[0] % h.controllers.size()];
  KspRequest::Header header;
  header.route = controller->route();
  header.method = KspMethod::Update;
  auto request = std::make_shared<KspRequest>(header, KspBytes(data + 1, data + size), h.replier);
  try {
    controller->handle(h.replier, request);
  } catch (const KspNetworkException&) {
  }
  h.context->loop()->runUntilIdle();
  return 0;
}
