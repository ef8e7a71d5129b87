#pragma once
// The machinery of every <T>Controller: show, index and update of one entity
// type over Ksp. The generated subclass only lists the type's wire fields
// with their access (read-only, throttled, plain) and how to apply each.
//
// Handlers run on the network thread and only verify and post; every
// database and service access happens in a job on the event loop. Throttled
// fields are posted as keyed jobs, one key per field, so the loop coalesces
// bursts per entity and field; the other writable fields share one job.

#include "wire/UpdateKeys.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/core/Uuid.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/entity/EntityFlatbufferSerializer.h"
#include "fennik/server/ksp/IKspFbController.h"
#include "fennik/server/ksp/WireValues.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/ServiceResolver.h"
#include "fennik/server/service/SubscriptionService.h"

#include <flatbuffers/flatbuffers.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace qor::server::wire {

enum class Access { ReadOnly, Throttled, Plain };

template <class E, class Table, class Service>
struct WireField {
  const char* name;
  flatbuffers::voffset_t offset;
  Access access;
  void (*apply)(Service& service, E* entity, const Table& table);
};

// Generated tables hide their flatbuffers::Table base; presence checks and
// raw access go through it.
template <class T>
const flatbuffers::Table& rawTable(const T& table) {
  return *reinterpret_cast<const flatbuffers::Table*>(&table);
}
template <class T>
bool hasField(const T& table, flatbuffers::voffset_t offset) {
  return rawTable(table).CheckField(offset);
}

// Logs why a payload's values were refused.
void logRefusedValues(const std::string& problem);

// Verifies a payload as a table of type Table with the limits every request
// handler uses: longer than 4 bytes, root offset inside the buffer, depth 64,
// at most 1,000,000 tables, alignment checked; then its values (valid UTF-8
// strings within the size limit, finite numbers) for every field, nested
// tables included. Every entity update and every command goes through here.
template <class Table>
const Table* verifiedRoot(const fennik::server::KspBytes& bytes) {
  if (bytes.size() <= sizeof(flatbuffers::uoffset_t)) return nullptr;
  const auto root = flatbuffers::ReadScalar<flatbuffers::uoffset_t>(bytes.data());
  if (root == 0 || root >= bytes.size()) return nullptr;
  flatbuffers::Verifier verifier(bytes.data(), bytes.size(), 64, 1000000, true);
  if (!verifier.VerifyBuffer<Table>(nullptr)) return nullptr;
  const Table* table = flatbuffers::GetRoot<Table>(bytes.data());
  if (auto problem = fennik::server::checkWireValues(*table)) {
    logRefusedValues(*problem);
    return nullptr;
  }
  return table;
}

// Index replies: a buffer whose root is the vector of the ids.
void buildIdVector(const std::vector<fennik::server::Entity*>& entities, fennik::server::KspBytes& out);

// Show and index jobs, shared by every type.
void showJob(const std::shared_ptr<fennik::server::EntityContext>& context,
             const std::weak_ptr<fennik::server::IKspReplier>& replier,
             const std::shared_ptr<fennik::server::KspRequest>& request);
void indexJob(const std::shared_ptr<fennik::server::EntityContext>& context, std::string_view className,
              const std::weak_ptr<fennik::server::IKspReplier>& replier,
              const std::shared_ptr<fennik::server::KspRequest>& request);

template <class E, class Table, class Service>
class EntityController
    : public fennik::server::IKspFbController<flatbuffers::String, flatbuffers::String, Table, flatbuffers::String,
                                              flatbuffers::String, flatbuffers::String, flatbuffers::String> {
 public:
  using Field = WireField<E, Table, Service>;
  using Fields = std::vector<Field>;
  using Replier = fennik::server::IKspController::Replier;
  using Request = fennik::server::IKspController::Request;

  EntityController(std::string route, const Fields& fields)
      : fennik::server::IKspFbController<flatbuffers::String, flatbuffers::String, Table, flatbuffers::String,
                                         flatbuffers::String, flatbuffers::String, flatbuffers::String>(
            std::move(route)),
        fields_(fields) {}

  const Fields& wireFields() const { return fields_; }

 protected:
  void doShow(Replier replier, Request request, const flatbuffers::String*) override {
    loop().post(
        std::string(E::TYPE_NAME) + "::show",
        [replier, request](const std::shared_ptr<fennik::server::EntityContext>& c) { showJob(c, replier, request); });
  }

  void doIndex(Replier replier, Request request, const flatbuffers::String*) override {
    loop().post(std::string(E::TYPE_NAME) + "::index",
                [replier, request](const std::shared_ptr<fennik::server::EntityContext>& c) {
                  indexJob(c, E::CLASS_NAME, replier, request);
                });
  }

  void doUpdate(Replier replier, Request request, const Table*) override {
    using fennik::server::KspStatus;
    const Table* table = verifiedRoot<Table>(request->payload());
    if (!table || !hasField(*table, ID_OFFSET))
      return fennik::server::replyStatus(replier, request, KspStatus::BadRequest);
    fennik::server::Uuid id;
    try {
      id = fennik::server::UuidFromS(idText(*table));
    } catch (const std::exception&) {
      return fennik::server::replyStatus(replier, request, KspStatus::BadRequest);
    }
    bool hasPlain = false;
    for (const auto& f : fields_) {
      if (f.access == Access::ReadOnly && hasField(*table, f.offset)) {
        return fennik::server::replyStatus(replier, request, KspStatus::BadRequest);
      }
      hasPlain |= f.access == Access::Plain;
    }
    const auto& keys = fieldKeys();
    for (std::size_t i = 0; i < fields_.size(); ++i) {
      const Field& f = fields_[i];
      if (f.access != Access::Throttled || !hasField(*table, f.offset)) continue;
      loop().post(id, keys[i], std::string(E::TYPE_NAME) + "::" + f.name,
                  [request, table, apply = f.apply, id](const std::shared_ptr<fennik::server::EntityContext>& c) {
                    auto service = c->services()->template get<Service>();
                    if (service) apply(*service, c->db()->template get<E>(id), *table);
                  });
    }
    if (!hasPlain) return;
    loop().post(std::string(E::TYPE_NAME) + "::update", [&fields = fields_, replier, request, table,
                                                         id](const std::shared_ptr<fennik::server::EntityContext>& c) {
      auto service = c->services()->template get<Service>();
      E* entity = c->db()->template get<E>(id);
      if (!service || !entity) return fennik::server::replyStatus(replier, request, KspStatus::NotFound);
      for (const auto& f : fields) {
        if (f.access == Access::Plain && hasField(*table, f.offset)) f.apply(*service, entity, *table);
      }
    });
  }

 private:
  static constexpr flatbuffers::voffset_t ID_OFFSET = 4;

  static std::string_view idText(const Table& table) {
    const auto* s = rawTable(table).template GetPointer<const flatbuffers::String*>(ID_OFFSET);
    return s ? s->string_view() : std::string_view();
  }

  fennik::server::EntityLoop& loop() const {
    const auto& context = this->entityContext();
    if (!context)
      throw fennik::server::KspNetworkException(fennik::server::KspStatus::InternalError, "controller not injected");
    return *context->loop();
  }

  // One key per field, the same for every entity: computed on first use.
  const std::vector<fennik::server::Uuid>& fieldKeys() const {
    static const std::vector<fennik::server::Uuid> keys = [this] {
      std::vector<fennik::server::Uuid> k;
      for (const auto& f : fields_) k.push_back(updateKey(f.name));
      return k;
    }();
    return keys;
  }

  const Fields& fields_;
};

}  // namespace qor::server::wire
