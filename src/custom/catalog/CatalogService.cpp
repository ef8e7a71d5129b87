#include "custom/catalog/CatalogService.h"
#include "fennik/server/core/AsciiCase.h"

#include "custom/deviceplant/DevicePlant.h"
#include "custom/panels/PanelService.h"
#include "custom/panels/PanelTemplates.h"
#include "custom/speakers/SpeakerModeId.h"
#include "qor/server/entities/DeviceType.h"
#include "service/SpeakerDatabaseService.h"

#include "fennik/server/core/Uuid.h"
#include "fennik/server/service/ServiceResolver.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <tuple>

namespace qor::server {

// Named, not anonymous: the speaker section keeps these in the service.
namespace catalog_search {

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

// An item with its searchable texts.
struct Entry {
  CatalogItem item;
  Searchable searchable;
  explicit Entry(CatalogItem i) : item(std::move(i)), searchable(item) {}
};

bool byKindVendorModelLabel(const CatalogItem& a, const CatalogItem& b) {
  return std::tie(a.kind, a.vendor, a.model, a.label, a.id) < std::tie(b.kind, b.vendor, b.model, b.label, b.id);
}

// The visible products of the databases in use, each as a speaker, as each
// of its modes, and as each band of each mode.
std::vector<CatalogItem> speakerItems(const SpeakerDatabaseService& databases) {
  using fennik::server::UuidToS;
  std::vector<CatalogItem> items;
  for (const auto& [name, database] : databases.getUsedDatabases()) {
    for (const auto& product : database->products()) {
      if (!product.visible) continue;
      items.push_back(CatalogItem{"Speaker", UuidToS(product.id), product.vendor, product.model, product.label});
      for (const auto& mode : database->modesOf(product)) {
        const std::string title = product.label + ", " + speakerModeTitle(*mode.preset, *mode.variant);
        const std::string id = makeSpeakerModeId(*database, product, *mode.preset, *mode.variant);
        items.push_back(CatalogItem{"SpeakerMode", id, product.vendor, product.model, title});
        nlohmann::json band = nlohmann::json::parse(id);
        for (std::size_t i = 0; i < mode.variant->bands.size(); ++i) {
          band["band.index"] = i;
          const auto& b = mode.variant->bands[i];
          items.push_back(CatalogItem{"SpeakerModeBand", band.dump(0), product.vendor, product.model,
                                      title + ", " + (b.label.empty() ? "band " + std::to_string(i + 1) : b.label)});
        }
      }
    }
  }
  std::sort(items.begin(), items.end(), byKindVendorModelLabel);
  return items;
}

}  // namespace catalog_search

using namespace catalog_search;

struct CatalogService::SpeakerSection {
  const SpeakerDatabaseService* databases = nullptr;
  unsigned generation = 0;
  std::vector<Entry> entries;
};

CatalogService::CatalogService(std::shared_ptr<fennik::server::Database> db,
                               std::shared_ptr<fennik::server::EntityLoop> loop,
                               std::shared_ptr<fennik::server::ServiceResolver> services)
    : Service(std::move(db), std::move(loop), std::move(services)) {
  auto resolver = this->services();
  auto databases = resolver ? resolver->get<SpeakerDatabaseService>() : nullptr;
  if (!databases) return;
  databasesLoaded_ = databases->onDatabasesLoaded([this] { makeSpeakerSection(); });
  if (databases->generation() > 0) makeSpeakerSection();
}

void CatalogService::makeSpeakerSection() const {
  auto section = std::make_shared<SpeakerSection>();
  auto resolver = services();
  auto databases = resolver ? resolver->get<SpeakerDatabaseService>() : nullptr;
  if (databases) {
    std::vector<CatalogItem> items = speakerItems(*databases);
    section->entries.reserve(items.size());
    for (auto& item : items) section->entries.emplace_back(std::move(item));
    section->databases = databases.get();
    section->generation = databases->generation();
  }
  speakers_ = std::move(section);
}

std::shared_ptr<const CatalogService::SpeakerSection> CatalogService::speakers() const {
  auto resolver = services();
  auto databases = resolver ? resolver->get<SpeakerDatabaseService>() : nullptr;
  // Made when the databases loaded; made here only when that was missed
  // (another database service, or none).
  if (!speakers_ || speakers_->databases != databases.get() ||
      (databases && speakers_->generation != databases->generation()))
    makeSpeakerSection();
  return speakers_;
}

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
  std::vector<CatalogItem> result = deviceItems();
  // The speaker kinds sort after "Panel": their section follows as it is.
  for (const Entry& entry : speakers()->entries) result.push_back(entry.item);
  return result;
}

std::vector<CatalogItem> CatalogService::deviceItems() const {
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
  std::sort(result.begin(), result.end(), byKindVendorModelLabel);
  return result;
}

CatalogQueryResult CatalogService::deviceCatalogQuery(const std::vector<CatalogTokens>& queries) const {
  CatalogQueryResult result;
  if (queries.empty()) return result;
  // The few devices of the factories and panels are made afresh; the
  // speakers' section is searched where it is kept. The matches point into
  // both and keep them.
  auto others = std::make_shared<std::vector<Entry>>();
  for (CatalogItem& item : deviceItems()) others->emplace_back(std::move(item));
  const std::shared_ptr<const SpeakerSection> section = speakers();
  for (const CatalogTokens& tokens : queries) {
    if (result.count(tokens)) continue;
    std::vector<Condition> conditions;
    for (const CatalogToken& token : tokens) conditions.emplace_back(token.get());
    CatalogMatches& matches = result[tokens];
    matches.keep(others);
    matches.keep(section);
    if (conditions.empty()) matches.reserve(others->size() + section->entries.size());
    auto search = [&](const std::vector<Entry>& entries) {
      for (const Entry& entry : entries) {
        const bool all = std::all_of(conditions.begin(), conditions.end(),
                                     [&](const Condition& c) { return c.holdsFor(entry.searchable); });
        if (all) matches.add(entry.item);
      }
    };
    search(*others);
    search(section->entries);
  }
  return result;
}

}  // namespace qor::server
