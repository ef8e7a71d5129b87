#include "fennik/common/speakerdb/SpeakerDB.h"

#include "fennik/server/core/Utf8.h"

#include <fmt/format.h>

#include <cmath>
#include <unordered_map>
#include <unordered_set>

namespace fennik::common::speakerdb {

namespace {

// Plausible outer dimensions of a loudspeaker, in metres.
constexpr double MAX_SIZE_METRES = 50.0;
constexpr std::size_t MAX_BANDS = 8;

[[noreturn]] void fail(const std::string& source, const std::string& what) {
  throw SpeakerDatabaseError(fmt::format("{}: {}", source, what));
}

void checkText(const std::string& source, const std::string& where, const std::string& text, bool required) {
  if (required && text.empty()) fail(source, where + " is empty");
  if (!fennik::server::isValidUtf8(text)) fail(source, where + " is not valid UTF-8 text");
}

template <typename Record>
void checkIds(const std::string& source, const std::vector<Record>& records, const char* kind,
              std::unordered_set<Uuid, fennik::server::UuidHash>& ids) {
  for (std::size_t i = 0; i < records.size(); ++i) {
    const Uuid& id = records[i].id;
    if (id.is_nil()) fail(source, fmt::format("{}[{}].id is the nil id", kind, i));
    if (!ids.insert(id).second)
      fail(source, fmt::format("{}[{}].id {} is used twice", kind, i, fennik::server::UuidToS(id)));
  }
}

}  // namespace

const PresetChains* Preset::chainsFor(const Uuid& variant) const {
  for (const PresetChains& c : chains)
    if (c.variant == variant) return &c;
  return nullptr;
}

Uuid parseId(std::string_view text, const std::string& where) {
  try {
    return fennik::server::UuidFromS(text);
  } catch (const std::exception&) {
    throw SpeakerDatabaseError(fmt::format("{} is not an id in 8-4-4-4-12 form", where));
  }
}

void validate(const SpeakerDB& db, const std::string& source) {
  checkText(source, "the database name", db.name, true);
  checkText(source, "the database description", db.description, false);
  if (db.id.is_nil()) fail(source, "the database id is the nil id");

  std::unordered_set<Uuid, fennik::server::UuidHash> productIds, variantIds, presetIds, chainIds;
  checkIds(source, db.products, "products", productIds);
  checkIds(source, db.variants, "variants", variantIds);
  checkIds(source, db.presets, "presets", presetIds);
  checkIds(source, db.dspChains, "dspChains", chainIds);

  std::unordered_map<Uuid, const DspChain*, fennik::server::UuidHash> chains;
  for (std::size_t i = 0; i < db.dspChains.size(); ++i) {
    const DspChain& c = db.dspChains[i];
    checkText(source, fmt::format("dspChains[{}].name", i), c.name, true);
    if (c.acousticRole < 0 || c.acousticRole > MAX_ACOUSTIC_ROLE)
      fail(source, fmt::format("dspChains[{}].acousticRole {} is outside 0..{}", i, c.acousticRole, MAX_ACOUSTIC_ROLE));
    chains.emplace(c.id, &c);
  }
  std::unordered_map<Uuid, const ElectroacousticVariant*, fennik::server::UuidHash> variants;
  for (std::size_t i = 0; i < db.variants.size(); ++i) {
    const ElectroacousticVariant& v = db.variants[i];
    checkText(source, fmt::format("variants[{}].name", i), v.name, true);
    if (v.bands.empty() || v.bands.size() > MAX_BANDS)
      fail(source, fmt::format("variants[{}] has {} bands; a variant has 1 to {}", i, v.bands.size(), MAX_BANDS));
    for (std::size_t b = 0; b < v.bands.size(); ++b) {
      checkText(source, fmt::format("variants[{}].bands[{}].label", i, b), v.bands[b].label, false);
      if (v.bands[b].role < 0 || v.bands[b].role > MAX_ACOUSTIC_ROLE)
        fail(source,
             fmt::format("variants[{}].bands[{}].role {} is outside 0..{}", i, b, v.bands[b].role, MAX_ACOUSTIC_ROLE));
    }
    variants.emplace(v.id, &v);
  }
  for (std::size_t i = 0; i < db.presets.size(); ++i) {
    const Preset& p = db.presets[i];
    checkText(source, fmt::format("presets[{}].name", i), p.name, true);
    std::unordered_set<Uuid, fennik::server::UuidHash> seen;
    for (std::size_t k = 0; k < p.chains.size(); ++k) {
      const PresetChains& pc = p.chains[k];
      const std::string where = fmt::format("presets[{}].chains[{}]", i, k);
      auto v = variants.find(pc.variant);
      if (v == variants.end())
        fail(source, fmt::format("{}.variant {} names no variant of this database", where,
                                 fennik::server::UuidToS(pc.variant)));
      if (!seen.insert(pc.variant).second) fail(source, where + ".variant appears twice in the preset");
      const auto& bands = v->second->bands;
      if (pc.dspChains.size() != bands.size())
        fail(source, fmt::format("{} lists {} DSP chains, but its variant has {} bands", where, pc.dspChains.size(),
                                 bands.size()));
      for (std::size_t b = 0; b < bands.size(); ++b) {
        auto c = chains.find(pc.dspChains[b]);
        if (c == chains.end())
          fail(source, fmt::format("{}.dspChains[{}] {} names no DSP chain of this database", where, b,
                                   fennik::server::UuidToS(pc.dspChains[b])));
        if (c->second->acousticRole != bands[b].role)
          fail(source, fmt::format("{}.dspChains[{}] has acoustic role {}, but band {} of the variant has role {}",
                                   where, b, c->second->acousticRole, b, bands[b].role));
      }
    }
  }
  for (std::size_t i = 0; i < db.products.size(); ++i) {
    const Product& p = db.products[i];
    const std::string where = fmt::format("products[{}]", i);
    checkText(source, where + ".vendor", p.vendor, true);
    checkText(source, where + ".model", p.model, true);
    checkText(source, where + ".label", p.label, false);
    if (p.size) {
      for (const auto* length : {&p.size->first, &p.size->second}) {
        if (*length && !(std::isfinite(**length) && **length > 0.0 && **length <= MAX_SIZE_METRES))
          fail(source, fmt::format("{}.size holds {} m; lengths lie above 0 and at most {} m", where, **length,
                                   MAX_SIZE_METRES));
      }
    }
    std::unordered_set<Uuid, fennik::server::UuidHash> seen;
    for (std::size_t k = 0; k < p.presets.size(); ++k) {
      if (!presetIds.count(p.presets[k]))
        fail(source, fmt::format("{}.presets[{}] {} names no preset of this database", where, k,
                                 fennik::server::UuidToS(p.presets[k])));
      if (!seen.insert(p.presets[k]).second) fail(source, fmt::format("{}.presets[{}] appears twice", where, k));
    }
    seen.clear();
    for (std::size_t k = 0; k < p.variants.size(); ++k) {
      if (!variants.count(p.variants[k]))
        fail(source, fmt::format("{}.variants[{}] {} names no variant of this database", where, k,
                                 fennik::server::UuidToS(p.variants[k])));
      if (!seen.insert(p.variants[k]).second) fail(source, fmt::format("{}.variants[{}] appears twice", where, k));
    }
  }
}

}  // namespace fennik::common::speakerdb
