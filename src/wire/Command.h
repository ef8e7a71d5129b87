#pragma once
// The handler pattern of command routes. A command is one declaration: its
// path, its argument table, the fields it requires and what its job does.
// The handler verifies the table (depth 64, 1,000,000 tables, alignment) and
// the required fields on the network thread (400 otherwise, nothing posted),
// then posts one job labelled with the declaring source position. The job
// looks its entities up ("Couldn't find item" when an id names none of the
// expected type), calls the service and replies (200, with the result
// payload when the command has one). A job that throws makes no reply; the
// host then acknowledges the request with 500.

#include "wire/EntityController.h"

#include "fennik/server/core/CallSite.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/ksp/IKspController.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/ServiceResolver.h"

#include <flatbuffers/flatbuffers.h>

#include <functional>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace qor::server::wire {

// What a command's job works with.
class CommandJob {
 public:
  explicit CommandJob(std::shared_ptr<fennik::server::EntityContext> context) : context_(std::move(context)) {}

  const std::shared_ptr<fennik::server::EntityContext>& context() const { return context_; }

  // The entity an id text names; throws "Couldn't find item" when there is
  // none of type E.
  template <class E>
  E* entity(const flatbuffers::String* id) const {
    E* found = nullptr;
    try {
      found = context_->db()->template get<E>(fennik::server::UuidFromS(id ? id->string_view() : ""));
    } catch (const std::invalid_argument&) {
    }
    if (!found) throw std::runtime_error("Couldn't find item");
    return found;
  }

  // The uuid an id text holds (an id of something that is no entity, such as
  // a session window's root); throws "Couldn't find item" for other text.
  fennik::server::Uuid uuid(const flatbuffers::String* id) const {
    try {
      return fennik::server::UuidFromS(id ? id->string_view() : "");
    } catch (const std::invalid_argument&) {
      throw std::runtime_error("Couldn't find item");
    }
  }

  // The service registered as (or implementing) S; throws when there is none.
  template <class S>
  S& service() const {
    auto s = context_->services()->template get<S>();
    if (!s) throw std::runtime_error("Couldn't find service");
    return *s;
  }

  // A FlatBuffers result for the reply.
  fennik::server::KspBytes& result() { return result_; }
  // The reply's status: 200 unless the command refuses (422, with its
  // result saying why).
  fennik::server::KspStatus status() const { return status_; }
  void refuse() { status_ = fennik::server::KspStatus::Refused; }

 private:
  std::shared_ptr<fennik::server::EntityContext> context_;
  fennik::server::KspBytes result_;
  fennik::server::KspStatus status_ = fennik::server::KspStatus::Ok;
};

// An argument table with no fields, for a command with none required that
// arrives without a payload.
template <class Args>
const Args* emptyTable() {
  static const fennik::server::KspBytes bytes = [] {
    flatbuffers::FlatBufferBuilder b;
    b.Finish(flatbuffers::Offset<Args>(b.EndTable(b.StartTable())));
    return fennik::server::KspBytes(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize());
  }();
  return flatbuffers::GetRoot<Args>(bytes.data());
}

// Registers one command on a controller. Args is the argument table type;
// `required` lists its fields (FlatBuffers vtable offsets) that must be present:
// ids, texts, lists, and only those scalars the schema declares optional
// (`= null`). Builders leave out a plain scalar equal to its default, so a
// plain scalar in this list would refuse a client that sends 0 or false.
template <class Args>
void addCommand(fennik::server::IFennikController& controller, const std::string& path,
                std::initializer_list<flatbuffers::voffset_t> required,
                std::function<void(CommandJob&, const Args&)> run,
                fennik::server::CallSite where = fennik::server::CallSite::current()) {
  using namespace fennik::server;
  std::string label = std::string(where.file_name()) + " : " + std::to_string(where.line());
  std::vector<flatbuffers::voffset_t> fields(required);
  controller.addCustomMethod(
      KspMethod::Custom, path,
      [&controller, label = std::move(label), fields = std::move(fields), run = std::move(run)](
          IKspController::Replier replier, IKspController::Request request) {
        const Args* args =
            request->payload().empty() && fields.empty() ? emptyTable<Args>() : verifiedRoot<Args>(request->payload());
        bool complete = args != nullptr;
        for (auto f : fields) complete = complete && hasField(*args, f);
        if (!complete) return replyStatus(replier, request, KspStatus::BadRequest);
        const auto& context = controller.entityContext();
        if (!context) throw KspNetworkException(KspStatus::InternalError, "controller not injected");
        context->loop()->post(label, [replier, request, args, run](const std::shared_ptr<EntityContext>& c) {
          CommandJob job(c);
          try {
            run(job, *args);
          } catch (...) {
            request->markFailed();  // the loop logs the failure with the job's label
            throw;
          }
          auto response = request->respond(job.status());
          response->payload() = std::move(job.result());
          if (auto r = replier.lock()) r->reply(std::move(response));
        });
      });
}

}  // namespace qor::server::wire
