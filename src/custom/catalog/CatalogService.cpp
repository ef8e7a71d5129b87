#include "custom/catalog/CatalogService.h"
#include "fennik/server/core/AsciiCase.h"

#include "custom/deviceplant/DevicePlant.h"
#include "custom/panels/PanelService.h"
#include "custom/panels/PanelTemplates.h"
#include "qor/server/entities/DeviceType.h"

#include "fennik/server/core/Uuid.h"
#include "fennik/server/service/ServiceResolver.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <tuple>

namespace qor::server {

namespace {

enum Field { KIND, VENDOR, MODEL, LABEL, FIELD_COUNT };
constexpr std::array<std::string_view, FIELD_COUNT> FIELD_NAMES{"kind", "vendor", "model", "label"};

// An item's searchable texts, lower-cased once per query.
struct Searchable {
  std::array<std::string, FIELD_COUNT> fields;
  explicit Searchable(const CatalogItem& item)
      : fields{fennik::server::asciiLower(item.kind), fennik::server::asciiLower(item.vendor),
               fennik::server::asciiLower(item.model), fennik::server::asciiLower(item.label)} {}
};

// One token, parsed: "-" excludes, "field:" restricts the word to one field.
struct Condition {
  bool exclude = false;
  std::optional<Field> field;
  std::string word;

  explicit Condition(std::string_view token) {
    if (token.size() > 1 && token.front() == '-') {
      exclude = true;
      token.remove_prefix(1);
    }
    if (auto colon = token.find(':'); colon != std::string_view::npos) {
      const std::string_view name = token.substr(0, colon);
      for (int f = 0; f < FIELD_COUNT; ++f) {
        if (name == FIELD_NAMES[static_cast<std::size_t>(f)]) {
          field = static_cast<Field>(f);
          token.remove_prefix(colon + 1);
          break;
        }
      }
    }
    word = std::string(token);
  }

  bool holdsFor(const Searchable& s) const {
    bool found = false;
    if (field) {
      found = s.fields[*field].find(word) != std::string::npos;
    } else {
      for (const auto& text : s.fields) found = found || text.find(word) != std::string::npos;
    }
    return found != exclude;
  }
};

std::optional<std::string> kindOf(std::int32_t deviceClass) {
  switch (deviceClass) {
    case DeviceDescriptor::AMPLIFIER:
      return "Amplifier";
    case DeviceDescriptor::MATRIX:
      return "Matrix";
    default:
      return std::nullopt;  // speakers come from the speaker databases
  }
}

}  // namespace

CatalogTokens CatalogService::tokenize(std::string_view query) {
  CatalogTokens tokens;
  std::size_t i = 0;
  while (i < query.size()) {
    while (i < query.size() && std::isspace(static_cast<unsigned char>(query[i]))) ++i;
    std::size_t end = i;
    while (end < query.size() && !std::isspace(static_cast<unsigned char>(query[end]))) ++end;
    if (end > i) tokens.emplace_back(fennik::server::asciiLower(std::string(query.substr(i, end - i))));
    i = end;
  }
  return tokens;
}

std::vector<CatalogItem> CatalogService::items() const {
  std::vector<CatalogItem> result;
  if (auto plant = services()->get<DevicePlant>()) {
    for (const DeviceFactory* factory : plant->getRegisteredFactories()) {
      const DeviceDescriptor& d = factory->descriptor();
      auto kind = kindOf(d.deviceClass);
      if (!kind) continue;
      result.push_back(CatalogItem{*kind, fennik::server::UuidToS(d.id), d.vendor, d.model, d.label});
    }
  }
  // Panels are added by template: each template is one item, of the panel
  // type its panel JSON is for.
  if (auto panels = services()->get<PanelService>()) {
    for (const PanelTemplate& t : builtInPanelTemplates()) {
      const auto typeId = panels->deviceTypeIdForTemplate(t.id);
      const DeviceType* type = typeId ? db()->get<DeviceType>(*typeId) : nullptr;
      if (!type) continue;
      result.push_back(CatalogItem{"Panel", t.id, type->getVendor(), type->getModel(), t.family + " panel, " + t.name});
    }
  }
  std::sort(result.begin(), result.end(), [](const CatalogItem& a, const CatalogItem& b) {
    return std::tie(a.kind, a.vendor, a.model, a.label, a.id) < std::tie(b.kind, b.vendor, b.model, b.label, b.id);
  });
  return result;
}

CatalogQueryResult CatalogService::deviceCatalogQuery(const std::vector<CatalogTokens>& queries) const {
  CatalogQueryResult result;
  if (queries.empty()) return result;
  const std::vector<CatalogItem> catalog = items();
  std::vector<Searchable> searchable;
  searchable.reserve(catalog.size());
  for (const auto& item : catalog) searchable.emplace_back(item);
  for (const CatalogTokens& tokens : queries) {
    if (result.count(tokens)) continue;
    std::vector<Condition> conditions;
    for (const CatalogToken& token : tokens) conditions.emplace_back(token.get());
    std::vector<CatalogItem>& matches = result[tokens];
    for (std::size_t i = 0; i < catalog.size(); ++i) {
      const bool all = std::all_of(conditions.begin(), conditions.end(),
                                   [&](const Condition& c) { return c.holdsFor(searchable[i]); });
      if (all) matches.push_back(catalog[i]);
    }
  }
  return result;
}

}  // namespace qor::server
