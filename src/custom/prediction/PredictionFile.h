#pragma once
// The reader of prediction files: the JSON an acoustic-prediction tool
// exports with the loudspeakers it placed and the delay and gain it computed
// for them (format in docs/prediction-import.md). Every check of a file's
// shape and values happens here, in one place, before anything in the
// project changes; the reader knows nothing of the project.

#include "fennik/server/core/Uuid.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qor::server::prediction {

// The schema versions this server reads.
inline constexpr const char* VERSION_0_1_0 = "0.1.0";
const std::vector<std::string>& supportedVersions();

struct Speaker {
  std::string id;  // the speaker's id in the file ("speakerId")
  fennik::server::Uuid product{};
  fennik::server::Uuid preset{};
  fennik::server::Uuid variant{};
  int x = 0;  // canvas position of the speaker's top-left corner
  int y = 0;
  std::string orientation;
};

struct DspSetting {
  double delayInMs = 0.0;
  bool delayEnabled = false;
  double gainInDb = 0.0;
  bool gainEnabled = false;
  std::vector<std::string> speakerIds;  // ids of speakers in the file
};

struct PredictionFile {
  std::string schemaVersion;
  std::vector<std::vector<Speaker>> speakerGroups;
  std::vector<DspSetting> dspSettings;
};

enum class ReadFailure { None, NotJson, Invalid };

struct ReadResult {
  std::optional<PredictionFile> file;
  ReadFailure failure = ReadFailure::None;
  // What is wrong, naming the place in the file ("speakerGroups[0].speaker[2].position.x: ...").
  std::string problem;
};

// Parses and validates a prediction file. A file is either read as a whole
// or refused with the reason.
ReadResult readPredictionFile(std::string_view text);

}  // namespace qor::server::prediction
