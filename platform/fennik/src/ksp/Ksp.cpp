#include "fennik/server/ksp/Ksp.h"

#include <string>

namespace fennik::server {

const char* toString(KspMethod method) {
  switch (method) {
    case KspMethod::Index:
      return "index";
    case KspMethod::Show:
      return "show";
    case KspMethod::Custom:
      return "custom";
    case KspMethod::Create:
      return "create";
    case KspMethod::Update:
      return "update";
    case KspMethod::Destroy:
      return "destroy";
    case KspMethod::Subscribe:
      return "subscribe";
    case KspMethod::Unsubscribe:
      return "unsubscribe";
  }
  return "unknown";
}

KspRequest::KspRequest(Header header, KspBytes payload, std::weak_ptr<IKspReplier> origin)
    : header_(std::move(header)), payload_(std::move(payload)), origin_(std::move(origin)) {}

KspRequest::~KspRequest() {
  // Every job holding the request is gone: tell a waiting client it is done.
  if (!header_.responseRequired || responded_.load()) return;
  if (auto replier = origin_.lock()) {
    try {
      replier->reply(std::make_shared<KspResponse>(header_.id, failed_ ? KspStatus::InternalError : KspStatus::Done));
    } catch (...) {
      // A destructor must not throw; the client is gone or going.
    }
  }
}

std::shared_ptr<KspResponse> KspRequest::respond(KspStatus status) {
  responded_ = true;
  return std::make_shared<KspResponse>(header_.id, status);
}

void replyStatus(const std::weak_ptr<IKspReplier>& replier, const std::shared_ptr<KspRequest>& request,
                 KspStatus status) {
  if (!request) return;
  auto response = request->respond(status);
  if (auto r = replier.lock()) r->reply(std::move(response));
}

KspNetworkException::KspNetworkException(KspStatus status)
    : KspNetworkException(status, "Ksp status " + std::to_string(static_cast<int>(status))) {}

KspNetworkException::KspNetworkException(KspStatus status, const std::string& what)
    : std::runtime_error(what), status_(status) {}

}  // namespace fennik::server
