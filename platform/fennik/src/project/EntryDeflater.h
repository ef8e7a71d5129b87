#pragma once
// Deflating a zip entry: the raw deflate stream (ISA-L level 1) of bytes
// handed over in pieces, with their size and CRC-32, as zip() packs it
// without compressing or summing again.

#include "fennik/server/project/HostInterface.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct isal_zstream;

namespace fennik::server {

struct DeflatedBytes {
  struct Block {
    std::unique_ptr<char[]> data;
    std::size_t size = 0;
  };
  std::vector<Block> blocks;  // the deflated stream, in order
  std::size_t dataSize = 0;   // deflated, all blocks together
  std::size_t size = 0;       // as it was
  std::uint32_t crc = 0;      // of what it was
};

// The same stream in one block of its exact size: what a small entry kept in
// memory for long holds (a deflater's blocks are at least 64 KiB).
std::shared_ptr<const DeflatedBytes> compacted(const DeflatedBytes& deflated);

// The bytes again. Throws std::runtime_error when the stream is damaged or
// its size or CRC-32 is not what it records.
std::string inflated(const DeflatedBytes& deflated);

class EntryDeflater {
 public:
  // `expectedOut`: about how many deflated bytes to expect (0: unknown).
  explicit EntryDeflater(std::size_t expectedOut = 0);
  ~EntryDeflater();
  EntryDeflater(const EntryDeflater&) = delete;
  EntryDeflater& operator=(const EntryDeflater&) = delete;

  void add(std::string_view piece);
  // After the last piece. The deflater then starts on a new entry, which is
  // about `nextExpectedOut` bytes deflated.
  std::shared_ptr<const DeflatedBytes> finish(std::size_t nextExpectedOut = 0);

 private:
  void run(std::string_view piece, bool last);

  std::unique_ptr<isal_zstream> stream_;
  std::unique_ptr<std::uint8_t[]> levelBuffer_;
  std::shared_ptr<DeflatedBytes> out_;
  std::size_t expectedOut_;
};

// The same on a thread of its own, while the caller writes the next piece:
// pieces are handed over and their buffers come back for reuse, so a
// document of any size goes through a few buffers of a few MiB.
class BackgroundDeflate {
 public:
  explicit BackgroundDeflate(std::size_t expectedOut = 0);
  ~BackgroundDeflate();  // an unfinished deflate is dropped
  BackgroundDeflate(const BackgroundDeflate&) = delete;
  BackgroundDeflate& operator=(const BackgroundDeflate&) = delete;

  // An empty buffer for the next piece (a returned one when there is one).
  std::string buffer();
  // Hands a piece over; waits while two are waiting already.
  void add(std::string piece);
  // Waits for the last piece to be deflated; throws what the deflater threw.
  std::shared_ptr<const DeflatedBytes> finish();

 private:
  void work();

  EntryDeflater deflater_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> waiting_;
  std::vector<std::string> spare_;
  bool closing_ = false;  // no more pieces come
  bool dropped_ = false;  // nor is the result wanted
  bool done_ = false;
  std::exception_ptr error_;
  std::shared_ptr<const DeflatedBytes> result_;
  std::thread thread_;
};

}  // namespace fennik::server
