#include "custom/speakers/SpeakerSize.h"

#include "custom/canvas/CanvasGeometry.h"

#include <algorithm>
#include <cmath>

namespace qor::server {

CanvasSize speakerCanvasSize(const std::optional<fennik::common::speakerdb::Size>& size) {
  if (!size) return DEFAULT_SPEAKER_SIZE;
  double first = size->first.value_or(0.0);
  double second = size->second.value_or(0.0);
  const double smaller = std::min(first, second);
  if (smaller < MIN_SPEAKER_SIDE_M) {
    // A side that is missing (0) cannot be scaled up: it becomes the minimum.
    if (smaller <= 0.0) {
      first = std::max(first, MIN_SPEAKER_SIDE_M);
      second = std::max(second, MIN_SPEAKER_SIDE_M);
    } else {
      const double factor = MIN_SPEAKER_SIDE_M / smaller;
      first *= factor;
      second *= factor;
    }
  }
  // The largest products (50 m) would not fit the canvas's height.
  return {std::min(static_cast<std::int32_t>(std::lround(first * CANVAS_UNITS_PER_M)), canvas::CANVAS_WIDTH),
          std::min(static_cast<std::int32_t>(std::lround(second * CANVAS_UNITS_PER_M)), canvas::CANVAS_HEIGHT)};
}

}  // namespace qor::server
