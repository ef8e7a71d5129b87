#include "fennik/common/speakerdb/JsonSpeakerDatabase.h"

#include "fennik/server/core/FileBytes.h"

#include <fmt/format.h>

namespace fennik::common::speakerdb {

namespace {

template <typename Record>
void buildIndex(const std::vector<Record>& records,
                std::unordered_map<Uuid, std::size_t, fennik::server::UuidHash>& index) {
  index.reserve(records.size());
  for (std::size_t i = 0; i < records.size(); ++i) index.emplace(records[i].id, i);
}

template <typename Record>
const Record* lookup(const std::vector<Record>& records,
                     const std::unordered_map<Uuid, std::size_t, fennik::server::UuidHash>& index, const Uuid& id) {
  auto it = index.find(id);
  return it == index.end() ? nullptr : &records[it->second];
}

void checkSize(std::string_view bytes, const std::string& source) {
  if (bytes.size() > JsonSpeakerDatabase::MAX_INPUT_BYTES)
    throw SpeakerDatabaseError(fmt::format("{}: {} bytes is larger than the {} bytes a speaker database may have",
                                           source, bytes.size(), JsonSpeakerDatabase::MAX_INPUT_BYTES));
}

}  // namespace

JsonSpeakerDatabase::JsonSpeakerDatabase(SpeakerDB db) : db_(std::move(db)) {
  buildIndex(db_.products, products_);
  buildIndex(db_.variants, variants_);
  buildIndex(db_.presets, presets_);
  buildIndex(db_.dspChains, chains_);
}

std::shared_ptr<JsonSpeakerDatabase> JsonSpeakerDatabase::fromJson(std::string_view text, const std::string& source) {
  checkSize(text, source);
  SpeakerDB db = speakerDbFromJson(text, source);
  validate(db, source);
  return std::make_shared<JsonSpeakerDatabase>(std::move(db));
}

std::shared_ptr<JsonSpeakerDatabase> JsonSpeakerDatabase::fromZip(std::string_view bytes, const std::string& source) {
  checkSize(bytes, source);
  return fromJson(jsonFromZip(bytes, source), source);
}

std::shared_ptr<JsonSpeakerDatabase> JsonSpeakerDatabase::fromFlatbuffer(std::string_view bytes,
                                                                         const std::string& source) {
  checkSize(bytes, source);
  SpeakerDB db = speakerDbFromFlatbuffer(bytes, source);
  validate(db, source);
  return std::make_shared<JsonSpeakerDatabase>(std::move(db));
}

std::shared_ptr<JsonSpeakerDatabase> JsonSpeakerDatabase::fromBytes(std::string_view bytes, const std::string& source) {
  if (isZip(bytes)) return fromZip(bytes, source);
  if (isFlatbuffer(bytes)) return fromFlatbuffer(bytes, source);
  return fromJson(bytes, source);
}

std::shared_ptr<JsonSpeakerDatabase> JsonSpeakerDatabase::fromFile(const std::filesystem::path& file) {
  std::string bytes;
  try {
    bytes = fennik::server::readFileBytes(file, MAX_INPUT_BYTES);
  } catch (const fennik::server::FileReadError& e) {
    throw SpeakerDatabaseError(e.what());
  }
  return fromBytes(bytes, file.string());
}

bool JsonSpeakerDatabase::isZip(std::string_view bytes) {
  return bytes.substr(0, 4) == std::string_view("PK\x03\x04", 4);
}

bool JsonSpeakerDatabase::isFlatbuffer(std::string_view bytes) {
  return bytes.size() >= 8 && bytes.substr(4, 4) == "FSDB";
}

std::string JsonSpeakerDatabase::toFlatbufferData() const { return speakerDbToFlatbuffer(db_); }

const Product* JsonSpeakerDatabase::findProduct(const Uuid& id) const { return lookup(db_.products, products_, id); }
const ElectroacousticVariant* JsonSpeakerDatabase::findVariant(const Uuid& id) const {
  return lookup(db_.variants, variants_, id);
}
const Preset* JsonSpeakerDatabase::findPreset(const Uuid& id) const { return lookup(db_.presets, presets_, id); }
const DspChain* JsonSpeakerDatabase::findDspChain(const Uuid& id) const { return lookup(db_.dspChains, chains_, id); }

bool JsonSpeakerDatabase::isProductVisible(const Uuid& productId) const {
  const Product* p = findProduct(productId);
  return p && p->visible;
}

std::vector<ProductMode> JsonSpeakerDatabase::modesOf(const Product& product) const {
  std::vector<ProductMode> modes;
  for (const Uuid& presetId : product.presets) {
    const Preset* preset = findPreset(presetId);
    if (!preset) continue;
    for (const Uuid& variantId : product.variants) {
      const ElectroacousticVariant* variant = findVariant(variantId);
      if (variant && preset->chainsFor(variantId)) modes.push_back({preset, variant});
    }
  }
  return modes;
}

std::vector<const DspChain*> JsonSpeakerDatabase::dspChainsFor(const Preset& preset,
                                                               const ElectroacousticVariant& variant) const {
  std::vector<const DspChain*> result;
  const PresetChains* chains = preset.chainsFor(variant.id);
  if (!chains) return result;
  for (const Uuid& id : chains->dspChains) result.push_back(findDspChain(id));
  return result;
}

fennik::devices::SpeakerSetting JsonSpeakerDatabase::dspChainToFennikSpeakerSetting(const DspChain& chain) const {
  return {chain.name, fennik::server::UuidToS(chain.id)};
}

}  // namespace fennik::common::speakerdb
