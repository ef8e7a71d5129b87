#pragma once
// The Ksp request/response protocol as controllers see it: methods, statuses,
// a request with its payload, the response it makes, and the replier that
// carries a response back to the client that asked.

#include <atomic>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace fennik::server {

enum class KspMethod : std::int32_t {
  Index = 0,
  Show = 1,
  Custom = 2,
  Create = 3,
  Update = 4,
  Destroy = 5,
  Subscribe = 6,
  Unsubscribe = 7,
};

const char* toString(KspMethod method);

// HTTP-like status codes.
enum class KspStatus : std::int32_t {
  Ok = 200,
  Done = 204,  // the request was handled and no reply of its own was made
  BadRequest = 400,
  Unauthorized = 401,
  NotFound = 404,
  Refused = 422,  // understood, but the operation failed; the payload says why and nothing changed
  InternalError = 500,
  NotImplemented = 501,
};

using KspBytes = std::vector<std::uint8_t>;

class KspResponse {
 public:
  KspResponse(std::uint64_t requestId, KspStatus status) : requestId_(requestId), status_(status) {}

  std::uint64_t requestId() const { return requestId_; }
  KspStatus status() const { return status_; }
  void setStatus(KspStatus status) { status_ = status; }
  // The reply's FlatBuffers payload; serializers write straight into it.
  KspBytes& payload() { return payload_; }
  const KspBytes& payload() const { return payload_; }

 private:
  std::uint64_t requestId_;
  KspStatus status_;
  KspBytes payload_;
};

class IKspReplier {
 public:
  virtual ~IKspReplier() = default;
  // Thread-safe: sends the response to the client that made the request.
  virtual void reply(std::shared_ptr<KspResponse> response) = 0;
};

class KspRequest {
 public:
  struct Header {
    std::uint64_t id = 0;
    std::string route;
    KspMethod method = KspMethod::Show;
    std::string path;
    std::string entityId;
    bool responseRequired = true;
    std::uint64_t clientId = 0;
  };

  // `origin` is the client's replier; it acknowledges the request with 204
  // (500 when a job failed on it) when the request is finished without a
  // reply of its own.
  KspRequest(Header header, KspBytes payload, std::weak_ptr<IKspReplier> origin = {});
  ~KspRequest();
  KspRequest(const KspRequest&) = delete;
  KspRequest& operator=(const KspRequest&) = delete;

  std::uint64_t id() const { return header_.id; }
  const std::string& route() const { return header_.route; }
  KspMethod method() const { return header_.method; }
  const std::string& path() const { return header_.path; }
  const std::string& entityId() const { return header_.entityId; }
  bool isResponseRequired() const { return header_.responseRequired; }
  std::uint64_t clientId() const { return header_.clientId; }
  const KspBytes& payload() const { return payload_; }

  // Creates the response to this request (status 200 unless told otherwise).
  std::shared_ptr<KspResponse> respond(KspStatus status = KspStatus::Ok);
  bool responded() const { return responded_.load(); }
  // A job working on the request failed: the acknowledgement says 500.
  void markFailed() { failed_ = true; }

 private:
  Header header_;
  KspBytes payload_;
  std::weak_ptr<IKspReplier> origin_;
  std::atomic<bool> responded_{false};
  std::atomic<bool> failed_{false};
};

// Replies with a bare status, if the replier still lives.
void replyStatus(const std::weak_ptr<IKspReplier>& replier, const std::shared_ptr<KspRequest>& request,
                 KspStatus status);

// Carries a status out of a request handler; the dispatcher replies with it.
class KspNetworkException : public std::runtime_error {
 public:
  explicit KspNetworkException(KspStatus status);
  KspNetworkException(KspStatus status, const std::string& what);
  KspStatus status() const { return status_; }

 private:
  KspStatus status_;
};

}  // namespace fennik::server
