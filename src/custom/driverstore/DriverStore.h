#pragma once
// The drivers of a service's devices, kept in a sub-container of the
// project: one JSON entry per device, named by the device's UUID text, and
// the entry "driverIds" listing those ids. Saving replaces the whole
// sub-container, so a device removed since the last save leaves nothing
// behind. Reading trusts nothing: the list, every id and every entry is
// checked, and any fault throws DriverStoreError naming the entry
// ("<folder>/<entry>") and what is wrong, before the caller has used any
// of it.
//
// Used by the device plant ("DevicePlant": the device drivers' offline
// settings) and meant for every service that keeps drivers per device.

#include "fennik/server/core/Uuid.h"
#include "fennik/server/entity/EntityJsonSerializer.h"

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace fennik::server {
class FileContainer;
}

namespace simdjson::dom {
class element;
}

namespace qor::server {

class DriverStoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// How much a store reads at most: devices listed, bytes per entry.
struct DriverStoreLimits {
  std::size_t maxEntries = 100000;
  std::uintmax_t maxEntryBytes = 4u << 20;
};

class DriverStore {
 public:
  using Limits = DriverStoreLimits;
  using Json = fennik::server::Json;
  using Entry = std::pair<fennik::server::Uuid, Json>;
  // An entry as the text it is stored as (compact JSON).
  using TextEntry = std::pair<fennik::server::Uuid, std::string>;
  // Checks one entry's document; throws (any std::exception) to refuse it.
  using Verify = std::function<void(const fennik::server::Uuid&, const Json&)>;

  static constexpr const char* IDS_ENTRY = "driverIds";

  explicit DriverStore(std::string folder, Limits limits = Limits());

  const std::string& folder() const { return folder_; }

  // Replaces the sub-container with the entries, in their order.
  void save(fennik::server::FileContainer& project, const std::vector<Entry>& entries) const;
  void saveTexts(fennik::server::FileContainer& project, const std::vector<TextEntry>& entries) const;

  // A document as an entry stores it: compact, bytes that are no UTF-8
  // replaced rather than failing the save.
  static std::string text(const Json& document);

  // The entries in "driverIds" order; none when the project has no such
  // sub-container. `verify` runs on each entry after its own checks.
  std::vector<Entry> load(const fennik::server::FileContainer& project, const Verify& verify = {}) const;

  // Checks one entry read in place from simdjson's DOM; throws to refuse it.
  using ReadInPlace = std::function<void(const fennik::server::Uuid&, const simdjson::dom::element&)>;

  // The checks of load() without keeping the entries or building their
  // trees: each entry simdjson reads as the library would goes to `inPlace`;
  // any other entry, and any entry `inPlace` refuses, goes to `verify` as a
  // tree, so a refusal names what is wrong exactly as load() does.
  void read(const fennik::server::FileContainer& project, const ReadInPlace& inPlace, const Verify& verify) const;

  // The checks of load() on texts, for callers that hold them in memory
  // (and the fuzzer): the id list, and one entry's document.
  std::vector<fennik::server::Uuid> parseIds(const std::string& text) const;
  Json parseEntry(const fennik::server::Uuid& id, const std::string& text) const;

 private:
  std::string entryName(const std::string& entry) const { return folder_ + "/" + entry; }
  [[noreturn]] void fail(const std::string& entry, const std::string& what) const;
  // The list of devices, and each listed entry's text, as load() checks them.
  std::vector<fennik::server::Uuid> readIds(const fennik::server::FileContainer& project) const;
  std::string readEntry(const fennik::server::FileContainer& project, const fennik::server::Uuid& id) const;
  std::string readSmall(const fennik::server::FileContainer& project, const std::string& entry) const;
  // The same texts into `text`, whose buffer is reused, with `padding`
  // bytes to spare past its end.
  void readEntryInto(const fennik::server::FileContainer& project, const fennik::server::Uuid& id, std::string& text,
                     std::size_t padding) const;
  void readSmallInto(const fennik::server::FileContainer& project, const std::string& entry, std::string& text,
                     std::size_t padding) const;
  // Runs `verify` on the entry; its refusal names the entry.
  void check(const fennik::server::Uuid& id, const Verify& verify, const Json& doc) const;

  std::string folder_;
  Limits limits_;
};

}  // namespace qor::server
