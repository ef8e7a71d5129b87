// The precompiled form of a speaker database: a FlatBuffers buffer with the
// identifier "FSDB" (fbs/SpeakerDatabase.fbs). It is written by the server
// itself, but it lies in a folder anyone can write to, so it is read as
// strictly as the JSON text.

#include "fennik/common/speakerdb/JsonSpeakerDatabase.h"

#include "fennik/common/speakerdb/SpeakerDatabase_generated.h"

#include <fmt/format.h>

#include <cstring>

namespace fennik::common::speakerdb {

namespace {

namespace fb = fennik::common::speakerdb::fbs;

fb::Id toFb(const Uuid& id) { return fb::Id(flatbuffers::span<const uint8_t, 16>(id.data, 16)); }

std::vector<fb::Id> toFb(const std::vector<Uuid>& ids) {
  std::vector<fb::Id> result;
  result.reserve(ids.size());
  for (const Uuid& id : ids) result.push_back(toFb(id));
  return result;
}

Uuid fromFb(const fb::Id* id) {
  Uuid result;
  std::memcpy(result.data, id->bytes()->Data(), 16);
  return result;
}

std::vector<Uuid> fromFb(const flatbuffers::Vector<const fb::Id*>* ids) {
  std::vector<Uuid> result;
  result.reserve(ids->size());
  for (const fb::Id* id : *ids) result.push_back(fromFb(id));
  return result;
}

std::string text(const flatbuffers::String* s) { return s ? std::string(s->data(), s->size()) : std::string(); }

}  // namespace

std::string speakerDbToFlatbuffer(const SpeakerDB& db) {
  flatbuffers::FlatBufferBuilder b(1024 + db.products.size() * 256);
  std::vector<flatbuffers::Offset<fb::Product>> products;
  products.reserve(db.products.size());
  for (const Product& p : db.products) {
    flatbuffers::Offset<fb::Size> size = 0;
    if (p.size)
      size = fb::CreateSize(b, p.size->first.value_or(0.0), p.size->second.value_or(0.0), p.size->first.has_value(),
                            p.size->second.has_value());
    const fb::Id id = toFb(p.id);
    auto vendor = b.CreateString(p.vendor);
    auto model = b.CreateString(p.model);
    auto label = b.CreateString(p.label);
    auto presets = b.CreateVectorOfStructs(toFb(p.presets));
    auto variants = b.CreateVectorOfStructs(toFb(p.variants));
    products.push_back(fb::CreateProduct(b, &id, vendor, model, label, size, p.visible, presets, variants));
  }
  std::vector<flatbuffers::Offset<fb::Variant>> variants;
  for (const ElectroacousticVariant& v : db.variants) {
    std::vector<flatbuffers::Offset<fb::Band>> bands;
    for (const Band& band : v.bands) bands.push_back(fb::CreateBand(b, band.role, b.CreateString(band.label)));
    const fb::Id id = toFb(v.id);
    auto name = b.CreateString(v.name);
    variants.push_back(fb::CreateVariant(b, &id, name, b.CreateVector(bands)));
  }
  std::vector<flatbuffers::Offset<fb::Preset>> presets;
  for (const Preset& p : db.presets) {
    std::vector<flatbuffers::Offset<fb::PresetChains>> chains;
    for (const PresetChains& c : p.chains) {
      const fb::Id variant = toFb(c.variant);
      chains.push_back(fb::CreatePresetChains(b, &variant, b.CreateVectorOfStructs(toFb(c.dspChains))));
    }
    const fb::Id id = toFb(p.id);
    auto name = b.CreateString(p.name);
    presets.push_back(fb::CreatePreset(b, &id, name, b.CreateVector(chains)));
  }
  std::vector<flatbuffers::Offset<fb::DspChain>> chains;
  chains.reserve(db.dspChains.size());
  for (const DspChain& c : db.dspChains) {
    const fb::Id id = toFb(c.id);
    chains.push_back(fb::CreateDspChain(b, &id, b.CreateString(c.name), c.acousticRole));
  }
  const fb::Id id = toFb(db.id);
  auto name = b.CreateString(db.name);
  auto version = b.CreateString(db.version.toString());
  auto description = b.CreateString(db.description);
  auto root = fb::CreateDatabase(b, FORMAT_VERSION, &id, name, version, description, b.CreateVector(products),
                                 b.CreateVector(variants), b.CreateVector(presets), b.CreateVector(chains));
  fb::FinishDatabaseBuffer(b, root);
  return std::string(reinterpret_cast<const char*>(b.GetBufferPointer()), b.GetSize());
}

SpeakerDB speakerDbFromFlatbuffer(std::string_view bytes, const std::string& source) {
  auto fail = [&](const std::string& what) { return SpeakerDatabaseError(fmt::format("{}: {}", source, what)); };
  if (bytes.size() < 8 || !fb::DatabaseBufferHasIdentifier(bytes.data()))
    throw fail("is not a precompiled speaker database (no \"FSDB\" identifier)");
  if (bytes.size() >= FLATBUFFERS_MAX_BUFFER_SIZE) throw fail("is too large for a precompiled speaker database");
  // The verifier follows offsets, so it needs the buffer aligned; a string's
  // data need not be.
  std::string aligned;
  const uint8_t* data = reinterpret_cast<const uint8_t*>(bytes.data());
  if (reinterpret_cast<std::uintptr_t>(data) % alignof(std::max_align_t) != 0) {
    aligned.assign(bytes);
    data = reinterpret_cast<const uint8_t*>(aligned.data());
  }
  flatbuffers::Verifier verifier(data, bytes.size(), /*max_depth*/ 16, /*max_tables*/ 50'000'000);
  if (!fb::VerifyDatabaseBuffer(verifier))
    throw fail("is a damaged precompiled speaker database (verification failed)");

  const fb::Database* root = fb::GetDatabase(data);
  if (root->format_version() != FORMAT_VERSION)
    throw fail(fmt::format("has format version {}, this reader reads {}", root->format_version(), FORMAT_VERSION));
  SpeakerDB db;
  db.id = fromFb(root->id());
  db.name = text(root->name());
  auto version = Version::fromString(root->version()->string_view());
  if (!version)
    throw fail(fmt::format("has version \"{}\", which is not numbers joined by dots", text(root->version())));
  db.version = *version;
  db.description = text(root->description());

  db.products.reserve(root->products()->size());
  for (const fb::Product* p : *root->products()) {
    Product product;
    product.id = fromFb(p->id());
    product.vendor = text(p->vendor());
    product.model = text(p->model());
    product.label = text(p->label());
    if (const fb::Size* s = p->size()) {
      product.size = Size{};
      if (s->has_first()) product.size->first = s->first();
      if (s->has_second()) product.size->second = s->second();
    }
    product.visible = p->visible();
    product.presets = fromFb(p->presets());
    product.variants = fromFb(p->variants());
    db.products.push_back(std::move(product));
  }
  db.variants.reserve(root->variants()->size());
  for (const fb::Variant* v : *root->variants()) {
    ElectroacousticVariant variant{fromFb(v->id()), text(v->name()), {}};
    for (const fb::Band* band : *v->bands()) variant.bands.push_back({band->role(), text(band->label())});
    db.variants.push_back(std::move(variant));
  }
  db.presets.reserve(root->presets()->size());
  for (const fb::Preset* p : *root->presets()) {
    Preset preset{fromFb(p->id()), text(p->name()), {}};
    for (const fb::PresetChains* c : *p->chains())
      preset.chains.push_back({fromFb(c->variant()), fromFb(c->dsp_chains())});
    db.presets.push_back(std::move(preset));
  }
  db.dspChains.reserve(root->dsp_chains()->size());
  for (const fb::DspChain* c : *root->dsp_chains())
    db.dspChains.push_back({fromFb(c->id()), text(c->name()), c->acoustic_role()});
  return db;
}

}  // namespace fennik::common::speakerdb
