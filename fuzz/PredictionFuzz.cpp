// libFuzzer target: any bytes as a prediction file, through the reader that
// checks a file before the import makes anything. A file is either read or
// refused with a reason; a file that reads keeps the promises the importer
// relies on (a supported version, unique non-empty speaker ids, positions on
// the canvas, finite numbers, no negative delay). Anything else aborts (a
// finding). Build with the "fuzz" preset (clang); run:
//   nice build/fuzz/bin/prediction_fuzz -max_total_time=600 -dict=fuzz/prediction.dict run/prediction data/prediction

#include "custom/canvas/CanvasGeometry.h"
#include "custom/prediction/PredictionFile.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

namespace {

using namespace qor::server::prediction;

[[noreturn]] void finding(const char* what) {
  std::fprintf(stderr, "prediction_fuzz: %s\n", what);
  std::abort();
}

void checkPromises(const PredictionFile& file) {
  const auto& versions = supportedVersions();
  if (std::find(versions.begin(), versions.end(), file.schemaVersion) == versions.end())
    finding("a file of an unsupported version was read");
  std::set<std::string> ids;
  for (const auto& group : file.speakerGroups) {
    for (const auto& s : group) {
      if (s.id.empty() || !ids.insert(s.id).second) finding("a speaker id is empty or used twice");
      if (s.x < 0 || s.x > qor::server::canvas::CANVAS_WIDTH || s.y < 0 || s.y > qor::server::canvas::CANVAS_HEIGHT)
        finding("a speaker lies off the canvas");
    }
  }
  for (const auto& d : file.dspSettings) {
    if (!std::isfinite(d.delayInMs) || d.delayInMs < 0.0 || !std::isfinite(d.gainInDb))
      finding("a DSP setting has a value out of range");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const ReadResult result = readPredictionFile(text);
  if (result.file) {
    if (result.failure != ReadFailure::None || !result.problem.empty()) finding("a read file carries a failure");
    checkPromises(*result.file);
  } else if (result.failure == ReadFailure::None || result.problem.empty()) {
    finding("a refused file has no reason");
  }
  return 0;
}
