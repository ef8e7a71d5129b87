#pragma once
// Access to a context object (the EntityContext) through the event loop: every
// function it runs receives the context, and runs on the loop thread.

#include "fennik/server/loop/JobLoop.h"

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace fennik::server {

template <class Context>
class QueuedAccessor {
 public:
  using Function = std::function<void(const std::shared_ptr<Context>&)>;

  explicit QueuedAccessor(std::shared_ptr<JobLoop> loop) : loop_(std::move(loop)) {}

  // The context is held weakly: it owns this accessor.
  void attach(std::weak_ptr<Context> context) { context_ = std::move(context); }

  JobLoop& jobs() const { return *loop_; }
  Clock& clock() const { return loop_->clock(); }
  bool isLoopThread() const { return loop_->isLoopThread(); }

  void work(const Function& fn) {
    loop_->work([this, &fn] { fn(lockContext()); });
  }
  Uuid post(Function fn) { return loop_->post(bind(std::move(fn))); }
  Uuid post(std::string label, Function fn) { return loop_->post(std::move(label), bind(std::move(fn))); }
  Uuid post(const Uuid& entity, const Uuid& key, std::string label, Function fn,
            JobLoop::Lane lane = JobLoop::Lane::Normal) {
    return loop_->post(entity, key, std::move(label), bind(std::move(fn)), lane);
  }
  Uuid postAfter(std::chrono::milliseconds delay, std::string label, Function fn) {
    return loop_->postAfter(delay, std::move(label), bind(std::move(fn)));
  }
  bool cancel(const Uuid& jobId) { return loop_->cancel(jobId); }
  std::size_t runUntilIdle() { return loop_->runUntilIdle(); }

 private:
  std::shared_ptr<Context> lockContext() const {
    auto context = context_.lock();
    if (!context) throw std::logic_error("the loop's context is gone");
    return context;
  }
  JobLoop::Job bind(Function fn) {
    return [this, fn = std::move(fn)] {
      // A context that is gone means the host is shutting down: drop the job.
      if (auto context = context_.lock()) fn(context);
    };
  }

  std::shared_ptr<JobLoop> loop_;
  std::weak_ptr<Context> context_;
};

}  // namespace fennik::server
