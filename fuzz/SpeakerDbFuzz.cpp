// libFuzzer target: arbitrary bytes as a speaker-database file. The reader
// picks the form by the first bytes (ZIP archive, precompiled FlatBuffers,
// JSON text), so one target reaches all three. A database that reads must
// survive its own precompiled form unchanged.
// Build with the "fuzz" preset (clang); run:
//   build/fuzz/bin/speakerdb_fuzz -max_total_time=600 run/speakerdb fuzz/corpus-speakerdb

#include "fennik/common/speakerdb/JsonSpeakerDatabase.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace fennik::common::speakerdb;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  try {
    auto db = JsonSpeakerDatabase::fromBytes(bytes, "fuzz.sdb");
    auto again = JsonSpeakerDatabase::fromFlatbuffer(db->toFlatbufferData(), "fuzz.bin");
    if (!(again->speakerDb() == db->speakerDb())) std::abort();
    for (const Product& p : db->products())
      for (const ProductMode& m : db->modesOf(p))
        for (const DspChain* c : db->dspChainsFor(*m.preset, *m.variant))
          if (!c) std::abort();  // validation promises every chain resolves
  } catch (const SpeakerDatabaseError&) {
  }
  return 0;
}
