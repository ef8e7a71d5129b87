#pragma once
// The text that names a speaker mode: which database, product, preset and
// electro-acoustic variant. It is stored in FtSpeakerMode's mode, offered in
// its available modes and in the device catalog, and taken by "/deviceAdd"
// and "/speakerModeSetMode". One canonical form, so equal modes compare equal
// as text: the JSON object with the members sorted, one member a line, no
// indentation.

#include "fennik/common/speakerdb/ISpeakerDatabase.h"

#include <memory>
#include <optional>
#include <string>

namespace qor::server {

class SpeakerDatabaseService;

struct SpeakerModeKey {
  std::string database;
  std::string product;
  std::string preset;
  std::string variant;
};

// The canonical text of a mode.
std::string makeSpeakerModeId(const std::string& presetId, const std::string& productId, const std::string& variantId,
                              const std::string& databaseId);
std::string makeSpeakerModeId(const SpeakerModeKey& key);
// The mode of a product of a database: one of its presets with one of its variants.
std::string makeSpeakerModeId(const fennik::common::speakerdb::ISpeakerDatabase& database,
                              const fennik::common::speakerdb::Product& product,
                              const fennik::common::speakerdb::Preset& preset,
                              const fennik::common::speakerdb::ElectroacousticVariant& variant);
// The four ids of a mode text (any JSON spacing); none when the text is no
// JSON object or one of the four members is missing or not a string.
std::optional<SpeakerModeKey> parseSpeakerModeId(const std::string& text);

// A mode resolved against the databases in use.
struct ResolvedSpeakerMode {
  std::shared_ptr<const fennik::common::speakerdb::ISpeakerDatabase> database;
  const fennik::common::speakerdb::Product* product = nullptr;
  const fennik::common::speakerdb::Preset* preset = nullptr;
  const fennik::common::speakerdb::ElectroacousticVariant* variant = nullptr;
  // One chain per band of the variant, in band order.
  std::vector<const fennik::common::speakerdb::DspChain*> chains;
};

// Null members when the database, the product, the preset or the variant is
// unknown, or the product does not offer that preset with that variant.
std::optional<ResolvedSpeakerMode> resolveSpeakerMode(const SpeakerDatabaseService& databases,
                                                      const SpeakerModeKey& key);

// What a user reads for a mode: "<preset>, <variant>" ("Speech, Bi-amped").
std::string speakerModeTitle(const fennik::common::speakerdb::Preset& preset,
                             const fennik::common::speakerdb::ElectroacousticVariant& variant);

}  // namespace qor::server
