#pragma once
// How large a loudspeaker is drawn: its outer dimensions in metres, scaled so
// that its smaller side is at least 0.24 m, at 250 canvas units a metre.

#include "fennik/common/speakerdb/SpeakerDB.h"

#include <cstdint>
#include <optional>

namespace qor::server {

struct CanvasSize {
  std::int32_t width = 0;
  std::int32_t height = 0;
  bool operator==(const CanvasSize&) const = default;
};

inline constexpr double MIN_SPEAKER_SIDE_M = 0.24;
inline constexpr double CANVAS_UNITS_PER_M = 250.0;
// A product without a size record is drawn as a 0.24 m square.
inline constexpr CanvasSize DEFAULT_SPEAKER_SIZE{60, 60};

CanvasSize speakerCanvasSize(const std::optional<fennik::common::speakerdb::Size>& size);

}  // namespace qor::server
