#include "LargeSpeakerDatabase.h"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <vector>

namespace qor::bench {

using nlohmann::json;

std::string largeSpeakerDatabaseJson() {
  std::uint64_t counter = 0;
  auto nextId = [&counter] {
    ++counter;
    return fmt::format("{:08x}-0000-4000-8000-{:012x}", counter >> 16, counter);
  };
  json doc = {{"format", "fennik-speakerdb"}, {"formatVersion", 1},        {"id", nextId()},
              {"name", "Bench Speakers"},     {"version", "3.14"},         {"description", "2000 products"},
              {"dspChains", json::array()},   {"variants", json::array()}, {"presets", json::array()},
              {"products", json::array()}};
  for (int family = 0; family < 200; ++family) {
    const std::string passive = nextId(), biamp = nextId();
    doc["variants"].push_back(
        {{"id", passive}, {"name", "Passive"}, {"bands", {{{"role", 1}, {"label", "Full range"}}}}});
    doc["variants"].push_back({{"id", biamp},
                               {"name", "Bi-amped"},
                               {"bands", {{{"role", 2}, {"label", "HF"}}, {{"role", 3}, {"label", "LF"}}}}});
    std::vector<std::string> presets;
    for (const char* presetName : {"Standard", "Speech", "Outdoor"}) {
      auto chain = [&](const char* band, int role) {
        const std::string id = nextId();
        doc["dspChains"].push_back(
            {{"id", id}, {"name", fmt::format("F{} {} {}", family, presetName, band)}, {"acousticRole", role}});
        return id;
      };
      const std::string fr = chain("FR", 1), hf = chain("HF", 2), lf = chain("LF", 3);
      presets.push_back(nextId());
      doc["presets"].push_back(
          {{"id", presets.back()},
           {"name", presetName},
           {"chains", {{{"variant", passive}, {"dspChains", {fr}}}, {{"variant", biamp}, {"dspChains", {hf, lf}}}}}});
    }
    for (int p = 0; p < 10; ++p) {
      doc["products"].push_back({{"id", nextId()},
                                 {"vendor", "Bench Audio"},
                                 {"model", fmt::format("B{}-{}", family, p)},
                                 {"label", fmt::format("B{}-{} two-way loudspeaker", family, p)},
                                 {"visible", p != 9},
                                 {"size", {{"first", 0.3 + 0.01 * p}, {"second", 0.5}}},
                                 {"presets", presets},
                                 {"variants", {passive, biamp}}});
    }
  }
  return doc.dump(2);
}

}  // namespace qor::bench
