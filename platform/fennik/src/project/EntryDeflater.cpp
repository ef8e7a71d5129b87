#include "EntryDeflater.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <pthread.h>

#include <algorithm>
#include <stdexcept>

namespace fennik::server {

namespace {

constexpr std::size_t MIN_BLOCK = std::size_t{64} << 10;
// Larger blocks would each be a fresh mapping of the system's (see HugePageHeap.h).
constexpr std::size_t MAX_BLOCK = std::size_t{16} << 20;
constexpr std::size_t LEVEL_BUFFER = ISAL_DEF_LVL1_DEFAULT;
// The stream counts in 32 bits: input goes in pieces of at most 1 GiB.
constexpr std::size_t MAX_PIECE = std::size_t{1} << 30;

}  // namespace

std::shared_ptr<const DeflatedBytes> compacted(const DeflatedBytes& deflated) {
  auto one = std::make_shared<DeflatedBytes>();
  one->size = deflated.size;
  one->crc = deflated.crc;
  one->dataSize = deflated.dataSize;
  DeflatedBytes::Block block{std::unique_ptr<char[]>(new char[std::max<std::size_t>(deflated.dataSize, 1)]), 0};
  for (const auto& b : deflated.blocks) {
    std::copy_n(b.data.get(), b.size, block.data.get() + block.size);
    block.size += b.size;
  }
  one->blocks.push_back(std::move(block));
  return one;
}

std::string inflated(const DeflatedBytes& deflated) {
  // One byte to spare: a stream that holds more than it records stops there.
  std::string bytes(deflated.size + 1, '\0');
  std::unique_ptr<inflate_state> state(new inflate_state);  // the init sets what it reads
  isal_inflate_init(state.get());
  state->crc_flag = ISAL_DEFLATE;
  state->next_out = reinterpret_cast<std::uint8_t*>(bytes.data());
  state->avail_out = static_cast<std::uint32_t>(bytes.size());
  for (const auto& b : deflated.blocks) {
    state->next_in = reinterpret_cast<std::uint8_t*>(b.data.get());
    state->avail_in = static_cast<std::uint32_t>(b.size);
    if (isal_inflate(state.get()) < 0) throw std::runtime_error("its compressed bytes are damaged");
  }
  bytes.pop_back();
  if (state->block_state != ISAL_BLOCK_FINISH || state->avail_out != 1 ||
      crc32_gzip_refl(0, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()) != deflated.crc) {
    throw std::runtime_error("its compressed bytes are damaged");
  }
  return bytes;
}

// The stream and its level buffer are left uninitialised (the init sets
// what it reads): zeroing them would cost more than deflating a small entry.
EntryDeflater::EntryDeflater(std::size_t expectedOut)
    : stream_(new isal_zstream), levelBuffer_(new std::uint8_t[LEVEL_BUFFER]), expectedOut_(expectedOut) {
  finish(expectedOut);
}

EntryDeflater::~EntryDeflater() = default;

void EntryDeflater::add(std::string_view piece) {
  while (!piece.empty()) {
    const std::size_t n = std::min(piece.size(), MAX_PIECE);
    run(piece.substr(0, n), false);
    piece.remove_prefix(n);
  }
}

std::shared_ptr<const DeflatedBytes> EntryDeflater::finish(std::size_t nextExpectedOut) {
  if (out_) run({}, true);
  std::shared_ptr<const DeflatedBytes> done = std::move(out_);
  isal_deflate_init(stream_.get());
  stream_->level = 1;
  stream_->level_buf = levelBuffer_.get();
  stream_->level_buf_size = static_cast<std::uint32_t>(LEVEL_BUFFER);
  stream_->avail_in = 0;  // the caller's fields are not set by the init
  stream_->avail_out = 0;
  out_ = std::make_shared<DeflatedBytes>();
  expectedOut_ = nextExpectedOut;
  return done;
}

void EntryDeflater::run(std::string_view piece, bool last) {
  isal_zstream& s = *stream_;
  out_->crc = crc32_gzip_refl(out_->crc, reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size());
  out_->size += piece.size();
  s.next_in = reinterpret_cast<std::uint8_t*>(const_cast<char*>(piece.data()));
  s.avail_in = static_cast<std::uint32_t>(piece.size());
  s.end_of_stream = last ? 1 : 0;
  s.flush = NO_FLUSH;
  // Deflates until the piece is taken (and, for the last, the stream ends),
  // adding a block whenever the current one is full. Blocks are left
  // uninitialised: zeroing would touch every page only to be overwritten.
  while (s.avail_in > 0 || (last && s.internal_state.state != ZSTATE_END)) {
    if (s.avail_out == 0) {
      // One block when the expectation holds (JSON shrinks to well under half).
      const std::size_t bytes =
          std::min(MAX_BLOCK, std::max({MIN_BLOCK, expectedOut_ + expectedOut_ / 8, std::size_t{s.avail_in} / 2}));
      out_->blocks.push_back({std::unique_ptr<char[]>(new char[bytes]), 0});
      s.next_out = reinterpret_cast<std::uint8_t*>(out_->blocks.back().data.get());
      s.avail_out = static_cast<std::uint32_t>(bytes);
    }
    const std::uint32_t before = s.avail_out;
    if (isal_deflate(&s) != COMP_OK)
      throw std::runtime_error("Cannot compress an entry of " + std::to_string(out_->size) + " bytes");
    out_->blocks.back().size += before - s.avail_out;
    out_->dataSize += before - s.avail_out;
  }
}

BackgroundDeflate::BackgroundDeflate(std::size_t expectedOut) : deflater_(expectedOut), thread_([this] { work(); }) {}

BackgroundDeflate::~BackgroundDeflate() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
    dropped_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

std::string BackgroundDeflate::buffer() {
  std::lock_guard lock(mutex_);
  if (spare_.empty()) return {};
  std::string b = std::move(spare_.back());
  spare_.pop_back();
  return b;
}

void BackgroundDeflate::add(std::string piece) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return waiting_.size() < 2 || error_; });
  if (error_) return;  // finish() reports it
  waiting_.push_back(std::move(piece));
  lock.unlock();
  changed_.notify_all();
}

std::shared_ptr<const DeflatedBytes> BackgroundDeflate::finish() {
  std::unique_lock lock(mutex_);
  closing_ = true;
  changed_.notify_all();
  changed_.wait(lock, [this] { return done_; });
  if (error_) std::rethrow_exception(error_);
  return result_;
}

void BackgroundDeflate::work() {
  pthread_setname_np(pthread_self(), "entry-deflater");
  std::unique_lock lock(mutex_);
  try {
    while (true) {
      changed_.wait(lock, [this] { return !waiting_.empty() || closing_; });
      if (dropped_) break;
      if (waiting_.empty()) {
        lock.unlock();
        auto result = deflater_.finish();
        lock.lock();
        result_ = std::move(result);
        break;
      }
      std::string piece = std::move(waiting_.front());
      lock.unlock();
      deflater_.add(piece);
      piece.clear();
      lock.lock();
      waiting_.pop_front();
      spare_.push_back(std::move(piece));
      changed_.notify_all();
    }
  } catch (...) {
    if (!lock.owns_lock()) lock.lock();
    error_ = std::current_exception();
  }
  done_ = true;
  changed_.notify_all();
}

}  // namespace fennik::server
