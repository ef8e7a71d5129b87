#pragma once
// The records of one speaker database, as every form of the file (JSON, ZIP,
// precompiled) reads them. docs/speaker-databases.md describes the format.

#include "fennik/common/speakerdb/Version.h"

#include "fennik/server/core/Uuid.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace fennik::common::speakerdb {

using Uuid = fennik::server::Uuid;

// What a band or a DSP chain drives. Databases may carry roles beyond the
// known ones; they are kept as numbers and the caller decides.
enum class SpeakerBandAcousticRole : int {
  NOT_APPLICABLE = 0,
  FULL_RANGE = 1,
  HIGH_FREQ = 2,
  LOW_FREQ = 3,
  MID_FREQ = 4,
  UPPER_BASS = 5,
  SUB_BASS = 6,
  GRADIENT_FRONT = 7,
  GRADIENT_REAR = 8,
};
inline constexpr int MAX_ACOUSTIC_ROLE = 255;

// A file (or buffer) that is not a valid speaker database. The message names
// the source and what is wrong in it.
class SpeakerDatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Outer dimensions of a product in metres; either may be missing.
struct Size {
  std::optional<double> first;
  std::optional<double> second;

  bool operator==(const Size&) const = default;
};

struct Product {
  Uuid id;
  std::string vendor;
  std::string model;
  std::string label;
  std::optional<Size> size;
  bool visible = true;
  std::vector<Uuid> presets;   // presets the product offers, in display order
  std::vector<Uuid> variants;  // electro-acoustic variants it offers

  bool operator==(const Product&) const = default;
};

struct Band {
  int role = 0;  // SpeakerBandAcousticRole
  std::string label;

  bool operator==(const Band&) const = default;
};

// One way of driving a product: how many amplifier channels (bands) it takes
// and what each of them drives.
struct ElectroacousticVariant {
  Uuid id;
  std::string name;
  std::vector<Band> bands;

  bool operator==(const ElectroacousticVariant&) const = default;
};

// The DSP chains a preset loads for one variant, one per band in band order.
struct PresetChains {
  Uuid variant;
  std::vector<Uuid> dspChains;

  bool operator==(const PresetChains&) const = default;
};

struct Preset {
  Uuid id;
  std::string name;
  std::vector<PresetChains> chains;

  const PresetChains* chainsFor(const Uuid& variant) const;

  bool operator==(const Preset&) const = default;
};

// The processing one amplifier channel runs for one band.
struct DspChain {
  Uuid id;
  std::string name;
  int acousticRole = 0;  // SpeakerBandAcousticRole

  bool operator==(const DspChain&) const = default;
};

inline constexpr unsigned FORMAT_VERSION = 1;

struct SpeakerDB {
  Uuid id;
  std::string name;
  Version version;
  std::string description;
  std::vector<Product> products;
  std::vector<ElectroacousticVariant> variants;
  std::vector<Preset> presets;
  std::vector<DspChain> dspChains;

  bool operator==(const SpeakerDB&) const = default;
};

// Checks what no file form can check by itself: ids present and unique,
// every reference resolving, a preset's chains matching the variant's bands,
// sizes plausible, texts valid UTF-8. Throws SpeakerDatabaseError naming
// `source` and the offending record.
void validate(const SpeakerDB& db, const std::string& source);

// Strict canonical UUID text; throws SpeakerDatabaseError naming `where`.
Uuid parseId(std::string_view text, const std::string& where);

}  // namespace fennik::common::speakerdb
