#pragma once
// A controller whose requests carry FlatBuffers payloads: each public entry
// point finds the payload's root (no verification yet) and hands it to the
// matching do... handler. Handlers not overridden answer 501.

#include "fennik/server/ksp/IKspController.h"

#include <flatbuffers/flatbuffers.h>

namespace fennik::server {

// The root table of a payload, or null for an empty one. The bytes are not
// verified here; handlers verify what they read.
template <class Root>
const Root* payloadRoot(const KspRequest& request) {
  const auto& bytes = request.payload();
  if (bytes.size() < sizeof(flatbuffers::uoffset_t)) return nullptr;
  return flatbuffers::GetRoot<Root>(bytes.data());
}

template <class ShowRoot, class IndexRoot, class UpdateRoot, class CreateRoot, class DestroyRoot, class SubscribeRoot,
          class UnsubscribeRoot>
class IKspFbController : public IFennikController {
 public:
  using IFennikController::IFennikController;

  void show(Replier replier, Request request) override { doShow(replier, request, payloadRoot<ShowRoot>(*request)); }
  void index(Replier replier, Request request) override { doIndex(replier, request, payloadRoot<IndexRoot>(*request)); }
  void create(Replier replier, Request request) override {
    doCreate(replier, request, payloadRoot<CreateRoot>(*request));
  }
  void update(Replier replier, Request request) override {
    doUpdate(replier, request, payloadRoot<UpdateRoot>(*request));
  }
  void destroy(Replier replier, Request request) override {
    doDestroy(replier, request, payloadRoot<DestroyRoot>(*request));
  }
  void subscribe(Replier replier, Request request) override {
    doSubscribe(replier, request, payloadRoot<SubscribeRoot>(*request));
  }
  void unsubscribe(Replier replier, Request request) override {
    doUnsubscribe(replier, request, payloadRoot<UnsubscribeRoot>(*request));
  }

 protected:
  virtual void doShow(Replier, Request, const ShowRoot*) { notOffered(); }
  virtual void doIndex(Replier, Request, const IndexRoot*) { notOffered(); }
  virtual void doUpdate(Replier, Request, const UpdateRoot*) { notOffered(); }
  virtual void doCreate(Replier, Request, const CreateRoot*) { notOffered(); }
  virtual void doDestroy(Replier, Request, const DestroyRoot*) { notOffered(); }
  virtual void doSubscribe(Replier, Request, const SubscribeRoot*) { notOffered(); }
  virtual void doUnsubscribe(Replier, Request, const UnsubscribeRoot*) { notOffered(); }

 private:
  [[noreturn]] static void notOffered() { throw KspNetworkException(KspStatus::NotImplemented); }
};

}  // namespace fennik::server
