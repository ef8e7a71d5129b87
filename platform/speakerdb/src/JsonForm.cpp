// The JSON text form of a speaker database (docs/speaker-databases.md).

#include "fennik/common/speakerdb/JsonSpeakerDatabase.h"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

namespace fennik::common::speakerdb {

namespace {

using nlohmann::json;

constexpr const char* FORMAT_NAME = "fennik-speakerdb";

class Reader {
 public:
  explicit Reader(const std::string& source) : source_(source) {}

  [[noreturn]] void fail(const std::string& where, const std::string& what) const {
    throw SpeakerDatabaseError(fmt::format("{}: {} {}", source_, where, what));
  }

  const json& member(const json& object, const std::string& where, const char* key) const {
    auto it = object.find(key);
    if (it == object.end()) fail(where, fmt::format("has no member \"{}\"", key));
    return *it;
  }

  const json& object(const json& value, const std::string& where) const {
    if (!value.is_object()) fail(where, "is not an object");
    return value;
  }

  const json& array(const json& object, const std::string& where, const char* key) const {
    const json& value = member(object, where, key);
    if (!value.is_array()) fail(where + "." + key, "is not an array");
    return value;
  }

  std::string text(const json& object, const std::string& where, const char* key) const {
    const json& value = member(object, where, key);
    if (!value.is_string()) fail(where + "." + key, "is not a text");
    return value.get<std::string>();
  }

  std::string optionalText(const json& object, const std::string& where, const char* key) const {
    return object.contains(key) ? text(object, where, key) : std::string();
  }

  Uuid id(const json& value, const std::string& where) const {
    if (!value.is_string()) fail(where, "is not an id text");
    return parseId(value.get_ref<const std::string&>(), fmt::format("{}: {}", source_, where));
  }

  Uuid idMember(const json& object, const std::string& where, const char* key) const {
    return id(member(object, where, key), where + "." + key);
  }

  std::vector<Uuid> ids(const json& object, const std::string& where, const char* key) const {
    const json& list = array(object, where, key);
    std::vector<Uuid> result;
    result.reserve(list.size());
    for (std::size_t i = 0; i < list.size(); ++i)
      result.push_back(id(list[i], fmt::format("{}.{}[{}]", where, key, i)));
    return result;
  }

  int integer(const json& object, const std::string& where, const char* key, long long lo, long long hi) const {
    const json& value = member(object, where, key);
    if (!value.is_number_integer()) fail(where + "." + key, "is not a whole number");
    const long long n = value.is_number_unsigned()
                            ? static_cast<long long>(std::min<std::uint64_t>(value.get<std::uint64_t>(),
                                                                             static_cast<std::uint64_t>(hi) + 1))
                            : value.get<long long>();
    if (n < lo || n > hi) fail(where + "." + key, fmt::format("is outside {}..{}", lo, hi));
    return static_cast<int>(n);
  }

  std::optional<double> length(const json& object, const std::string& where, const char* key) const {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return std::nullopt;
    if (!it->is_number()) fail(where + "." + key, "is not a number");
    return it->get<double>();
  }

 private:
  const std::string& source_;
};

SpeakerDB readDatabase(const json& root, const Reader& r) {
  r.object(root, "the document");
  const std::string format = r.text(root, "the document", "format");
  if (format != FORMAT_NAME) r.fail("the document", fmt::format("has format \"{}\", not \"{}\"", format, FORMAT_NAME));
  const int formatVersion = r.integer(root, "the document", "formatVersion", 1, 1 << 30);
  if (static_cast<unsigned>(formatVersion) > FORMAT_VERSION)
    r.fail("the document",
           fmt::format("has format version {}, newer than this reader's {}", formatVersion, FORMAT_VERSION));

  SpeakerDB db;
  db.id = r.idMember(root, "the document", "id");
  db.name = r.text(root, "the document", "name");
  const std::string version = r.text(root, "the document", "version");
  auto parsed = Version::fromString(version);
  if (!parsed) r.fail("the document", fmt::format("has version \"{}\", which is not numbers joined by dots", version));
  db.version = *parsed;
  db.description = r.optionalText(root, "the document", "description");

  const json& chains = r.array(root, "the document", "dspChains");
  db.dspChains.reserve(chains.size());
  for (std::size_t i = 0; i < chains.size(); ++i) {
    const std::string where = fmt::format("dspChains[{}]", i);
    const json& c = r.object(chains[i], where);
    db.dspChains.push_back({r.idMember(c, where, "id"), r.text(c, where, "name"),
                            r.integer(c, where, "acousticRole", 0, MAX_ACOUSTIC_ROLE)});
  }

  const json& variants = r.array(root, "the document", "variants");
  db.variants.reserve(variants.size());
  for (std::size_t i = 0; i < variants.size(); ++i) {
    const std::string where = fmt::format("variants[{}]", i);
    const json& v = r.object(variants[i], where);
    ElectroacousticVariant variant{r.idMember(v, where, "id"), r.text(v, where, "name"), {}};
    const json& bands = r.array(v, where, "bands");
    for (std::size_t b = 0; b < bands.size(); ++b) {
      const std::string bandWhere = fmt::format("{}.bands[{}]", where, b);
      const json& band = r.object(bands[b], bandWhere);
      variant.bands.push_back(
          {r.integer(band, bandWhere, "role", 0, MAX_ACOUSTIC_ROLE), r.optionalText(band, bandWhere, "label")});
    }
    db.variants.push_back(std::move(variant));
  }

  const json& presets = r.array(root, "the document", "presets");
  db.presets.reserve(presets.size());
  for (std::size_t i = 0; i < presets.size(); ++i) {
    const std::string where = fmt::format("presets[{}]", i);
    const json& p = r.object(presets[i], where);
    Preset preset{r.idMember(p, where, "id"), r.text(p, where, "name"), {}};
    const json& list = r.array(p, where, "chains");
    for (std::size_t k = 0; k < list.size(); ++k) {
      const std::string chainWhere = fmt::format("{}.chains[{}]", where, k);
      const json& entry = r.object(list[k], chainWhere);
      preset.chains.push_back({r.idMember(entry, chainWhere, "variant"), r.ids(entry, chainWhere, "dspChains")});
    }
    db.presets.push_back(std::move(preset));
  }

  const json& products = r.array(root, "the document", "products");
  db.products.reserve(products.size());
  for (std::size_t i = 0; i < products.size(); ++i) {
    const std::string where = fmt::format("products[{}]", i);
    const json& p = r.object(products[i], where);
    Product product;
    product.id = r.idMember(p, where, "id");
    product.vendor = r.text(p, where, "vendor");
    product.model = r.text(p, where, "model");
    product.label = r.text(p, where, "label");
    const json& visible = r.member(p, where, "visible");
    if (!visible.is_boolean()) r.fail(where + ".visible", "is not true or false");
    product.visible = visible.get<bool>();
    if (auto size = p.find("size"); size != p.end() && !size->is_null()) {
      const json& s = r.object(*size, where + ".size");
      product.size = Size{r.length(s, where + ".size", "first"), r.length(s, where + ".size", "second")};
    }
    product.presets = r.ids(p, where, "presets");
    product.variants = r.ids(p, where, "variants");
    db.products.push_back(std::move(product));
  }
  return db;
}

}  // namespace

SpeakerDB speakerDbFromJson(std::string_view text, const std::string& source) {
  json root;
  try {
    // The callback sees every nesting level while parsing; refusing deep
    // input there keeps hostile nesting from costing stack or memory.
    root = json::parse(text, [&](int depth, json::parse_event_t, json&) {
      if (depth > static_cast<int>(JsonSpeakerDatabase::MAX_JSON_DEPTH))
        throw SpeakerDatabaseError(
            fmt::format("{}: is nested deeper than {} levels", source, JsonSpeakerDatabase::MAX_JSON_DEPTH));
      return true;
    });
  } catch (const json::exception& e) {
    throw SpeakerDatabaseError(fmt::format("{}: is not valid JSON text: {}", source, e.what()));
  }
  Reader reader(source);
  try {
    return readDatabase(root, reader);
  } catch (const json::exception& e) {
    // Should not happen (every access is checked first); never let it escape untyped.
    throw SpeakerDatabaseError(fmt::format("{}: {}", source, e.what()));
  }
}

}  // namespace fennik::common::speakerdb
