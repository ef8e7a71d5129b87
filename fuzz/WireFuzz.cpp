// libFuzzer target: arbitrary bytes into the envelope decoder and, as an
// update payload, into the update path of every entity controller (the
// first byte picks the controller). Jobs the update posts are run too.
// Build with the "fuzz" preset (clang); run: build/fuzz/bin/wire_fuzz -max_total_time=600

#include "model/GeneratedServices.h"
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
    qor::server::wire::addFlatbufferSerializers(*context->db());
    controllers = qor::server::wire::makeEntityControllers();
    for (auto& c : controllers) c->inject(context);
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
