#pragma once
// SPS speaker-setting files: the DSP settings of one loudspeaker that an
// amplifier loads into its channels, one band per channel. The binary format
// is described in docs/sps-files.md. Every file is read as hostile: a file
// that is not exactly a valid SPS file throws SpsError naming the file and
// what is wrong.

#include "fennik/devices/FennikDevice.h"
#include "fennik/server/core/Uuid.h"

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace fennik::devices::sps {

class SpsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class FilterType : std::uint8_t { PEAK = 1, LOW_SHELF = 2, HIGH_SHELF = 3, HIGH_PASS = 4, LOW_PASS = 5 };

struct SpsFilter {
  FilterType type = FilterType::PEAK;
  float frequencyHz = 1000.0f;
  float gainDb = 0.0f;
  float q = 1.0f;
  bool operator==(const SpsFilter&) const = default;
};

struct SpsBand {
  std::uint8_t acousticRole = 1;  // as in speaker databases: 1 full range, 2 high, 3 low, ...
  bool inverted = false;
  float gainDb = 0.0f;
  float delayMs = 0.0f;
  std::vector<SpsFilter> filters;
  bool operator==(const SpsBand&) const = default;
};

struct SpsData {
  fennik::server::Uuid settingId{};  // what the amplifier reports as the chain it runs
  std::string name;
  std::vector<SpsBand> bands;
  bool operator==(const SpsData&) const = default;
};

// Limits of the format.
inline constexpr std::size_t MAX_SPS_BYTES = 64 * 1024;
inline constexpr std::size_t MAX_SPS_BANDS = 8;
inline constexpr std::size_t MAX_SPS_FILTERS = 16;

// `source` names the file in messages.
SpsData parseSps(std::string_view bytes, const std::string& source);
SpsData readSpsFile(const std::filesystem::path& file);
// The file bytes of a setting; throws SpsError when the setting breaks a limit.
std::string writeSps(const SpsData& data);
// What an amplifier channel is given to load.
SpeakerSetting toSpeakerSetting(const SpsData& data);

}  // namespace fennik::devices::sps

namespace fennik::devices::common::legacy::dsp {

// The reader the speaker-setting services call: reads and checks a file at
// construction (throwing SpsError), then hands out the setting.
class KelvaroSpeakerSetting {
 public:
  explicit KelvaroSpeakerSetting(const std::string& path) : data_(sps::readSpsFile(path)) {}
  SpeakerSetting speakersetting() const { return sps::toSpeakerSetting(data_); }
  const sps::SpsData& data() const { return data_; }

 private:
  sps::SpsData data_;
};

}  // namespace fennik::devices::common::legacy::dsp
