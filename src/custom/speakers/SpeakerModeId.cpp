#include "custom/speakers/SpeakerModeId.h"

#include "service/SpeakerDatabaseService.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace qor::server {

namespace {

constexpr const char* DB = "db.id";
constexpr const char* VARIANT = "electroacousticVariant.id";
constexpr const char* PRESET = "preset.id";
constexpr const char* PRODUCT = "product.id";

template <class T>
bool offers(const std::vector<T>& ids, const T& id) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

}  // namespace

std::string makeSpeakerModeId(const std::string& presetId, const std::string& productId, const std::string& variantId,
                              const std::string& databaseId) {
  // nlohmann's object keeps its members sorted; indent 0 puts each member on
  // a line of its own.
  const nlohmann::json mode{{DB, databaseId}, {VARIANT, variantId}, {PRESET, presetId}, {PRODUCT, productId}};
  return mode.dump(0);
}

std::string makeSpeakerModeId(const SpeakerModeKey& key) {
  return makeSpeakerModeId(key.preset, key.product, key.variant, key.database);
}

std::string makeSpeakerModeId(const fennik::common::speakerdb::ISpeakerDatabase& database,
                              const fennik::common::speakerdb::Product& product,
                              const fennik::common::speakerdb::Preset& preset,
                              const fennik::common::speakerdb::ElectroacousticVariant& variant) {
  using fennik::server::UuidToS;
  return makeSpeakerModeId(UuidToS(preset.id), UuidToS(product.id), UuidToS(variant.id), UuidToS(database.id()));
}

std::optional<SpeakerModeKey> parseSpeakerModeId(const std::string& text) {
  const nlohmann::json mode = nlohmann::json::parse(text, nullptr, false);
  if (!mode.is_object()) return std::nullopt;
  SpeakerModeKey key;
  for (auto [name, into] : {std::pair{DB, &key.database}, std::pair{VARIANT, &key.variant},
                            std::pair{PRESET, &key.preset}, std::pair{PRODUCT, &key.product}}) {
    auto it = mode.find(name);
    if (it == mode.end() || !it->is_string()) return std::nullopt;
    *into = it->get<std::string>();
  }
  return key;
}

std::optional<ResolvedSpeakerMode> resolveSpeakerMode(const SpeakerDatabaseService& databases,
                                                      const SpeakerModeKey& key) {
  using fennik::server::UuidFromS;
  ResolvedSpeakerMode mode;
  fennik::server::Uuid product, preset, variant;
  try {
    product = UuidFromS(key.product);
    preset = UuidFromS(key.preset);
    variant = UuidFromS(key.variant);
    const fennik::server::Uuid database = UuidFromS(key.database);
    for (const auto& [name, used] : databases.getUsedDatabases()) {
      if (used->id() == database) mode.database = used;
    }
  } catch (const std::invalid_argument&) {
    return std::nullopt;
  }
  if (!mode.database) return std::nullopt;
  mode.product = mode.database->findProduct(product);
  mode.preset = mode.database->findPreset(preset);
  mode.variant = mode.database->findVariant(variant);
  if (!mode.product || !mode.preset || !mode.variant) return std::nullopt;
  if (!offers(mode.product->presets, preset) || !offers(mode.product->variants, variant)) return std::nullopt;
  mode.chains = mode.database->dspChainsFor(*mode.preset, *mode.variant);
  if (mode.chains.empty()) return std::nullopt;
  return mode;
}

std::string speakerModeTitle(const fennik::common::speakerdb::Preset& preset,
                             const fennik::common::speakerdb::ElectroacousticVariant& variant) {
  return preset.name + ", " + variant.name;
}

}  // namespace qor::server
