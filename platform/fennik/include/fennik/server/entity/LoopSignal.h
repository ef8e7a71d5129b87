#pragma once
// A signal for the entity model's loop thread, far lighter than
// boost::signals2::signal: one allocation per signal's slot list and one per
// connection (plus the slot's own captures), where a signals2 signal makes
// five to ten. An eight-channel amplifier connects more than a thousand
// field signals, so the difference is most of the cost of making a device.
//
// It hands out ordinary boost::signals2::connection objects (its connection
// body derives from signals2's own base), so disconnect(), connected(),
// blocked(), scoped_connection and shared_connection_block work as with a
// signals2 signal, and it keeps the signals2 rules the model relies on:
//  - slots are called in the order they were connected;
//  - a slot connected while the signal fires is not called by that emission;
//  - a slot disconnected (or blocked) before its turn is not called;
//  - a slot's function is released when it is disconnected, but not before
//    its running call returns (a slot may disconnect itself);
//  - destroying the signal disconnects every slot;
//  - an exception from a slot leaves the emission and reaches the caller.
// Not thread-safe: the entity model is only touched on the loop thread.

#include <boost/make_shared.hpp>
#include <boost/signals2/connection.hpp>

#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

namespace fennik::server::detail {

template <class... Args>
class LoopSignal {
 public:
  using Function = std::function<void(Args...)>;

  LoopSignal() = default;
  LoopSignal(const LoopSignal&) = delete;
  LoopSignal& operator=(const LoopSignal&) = delete;
  ~LoopSignal() { disconnectAll(); }

  boost::signals2::connection connect(Function fn) {
    if (firing_ == 0 && bodies_.size() >= cleanupAt_) {
      compact();
      cleanupAt_ = bodies_.size() < 4 ? 8 : 2 * bodies_.size();
    }
    auto body = boost::make_shared<Body>(std::move(fn));
    bodies_.push_back(body);
    return boost::signals2::connection(boost::weak_ptr<boost::signals2::detail::connection_body_base>(body));
  }

  void operator()(Args... args) {
    // Slots connected from here on land behind `count` and wait for the
    // next emission; nothing is removed from the list while it fires.
    const std::size_t count = bodies_.size();
    if (count == 0) return;
    ++firing_;
    struct Done {
      LoopSignal& signal;
      ~Done() {
        if (--signal.firing_ == 0 && signal.sawDisconnected_) signal.compact();
      }
    } done{*this};
    for (std::size_t i = 0; i < count; ++i) {
      Body& body = *bodies_[i];
      if (!body.nolock_nograb_connected()) {
        sawDisconnected_ = true;
        continue;
      }
      if (body.blocked()) continue;
      Running running(body);
      body.fn(args...);
    }
  }

  // True when no slot is connected.
  bool empty() const {
    for (const auto& body : bodies_) {
      if (body->nolock_nograb_connected()) return false;
    }
    return true;
  }

  void disconnectAll() {
    // The slots' destructors may touch this signal: work on a detached list.
    std::vector<boost::shared_ptr<Body>> bodies;
    bodies.swap(bodies_);
    for (auto& body : bodies) body->disconnect();
  }

 private:
  using Lock = boost::signals2::detail::garbage_collecting_lock<boost::signals2::detail::connection_body_base>;

  struct Body final : boost::signals2::detail::connection_body_base {
    explicit Body(Function f) : fn(std::move(f)) {}
    bool connected() const override { return nolock_nograb_connected(); }
    void lock() override {}
    void unlock() override {}
    // Called when the last user of the slot lets go: after disconnect, or
    // after the running call of a slot disconnected during it.
    boost::shared_ptr<void> release_slot() const override {
      Function released(std::move(fn));
      fn = nullptr;
      return {};
    }
    mutable Function fn;
  };

  // Holds the slot for the length of its call, as signals2 does.
  struct Running {
    explicit Running(Body& b) : body(b) {
      Lock lock(body);
      body.inc_slot_refcount(lock);
    }
    ~Running() {
      Lock lock(body);
      body.dec_slot_refcount(lock);
    }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;
    Body& body;
  };

  void compact() {
    sawDisconnected_ = false;
    std::erase_if(bodies_, [](const boost::shared_ptr<Body>& body) { return !body->nolock_nograb_connected(); });
  }

  std::vector<boost::shared_ptr<Body>> bodies_;
  std::size_t cleanupAt_ = 8;
  unsigned firing_ = 0;
  bool sawDisconnected_ = false;
};

}  // namespace fennik::server::detail
