// libFuzzer target: arbitrary bytes as an SPS speaker-setting file. Each
// input is read twice: as it is, and with its last four bytes replaced by the
// right checksum, so that mutations get past the checksum into the records.
// A file that reads must be written back to the very same bytes.
// Build with the "fuzz" preset (clang); run:
//   build/fuzz/bin/sps_fuzz -max_total_time=600 run/sps data/speakerdb/sps

#include "fennik/devices/SpsFile.h"

#include <boost/crc.hpp>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void readAndCheck(const std::string& bytes) {
  using namespace fennik::devices::sps;
  try {
    const SpsData data = parseSps(bytes, "fuzz.sps");
    if (writeSps(data) != bytes) std::abort();
  } catch (const SpsError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  readAndCheck(bytes);
  if (bytes.size() >= 4) {
    boost::crc_32_type crc;
    crc.process_bytes(bytes.data(), bytes.size() - 4);
    const std::uint32_t sum = crc.checksum();
    for (int i = 0; i < 4; ++i) bytes[bytes.size() - 4 + i] = static_cast<char>((sum >> (8 * i)) & 0xFF);
    readAndCheck(bytes);
  }
  return 0;
}
