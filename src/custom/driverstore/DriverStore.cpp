#include "custom/driverstore/DriverStore.h"

#include "custom/driverstore/JsonTreeParse.h"

#include <simdjson.h>

#include "fennik/server/project/FileContainer.h"

#include <fmt/format.h>

#include <algorithm>
#include <exception>
#include <future>
#include <set>
#include <stdexcept>
#include <system_error>

namespace qor::server {

using fennik::server::FileContainer;
using fennik::server::Uuid;

namespace {

// Only the canonical lower-case text is an entry name: anything else could
// name a file outside the list, or the same device twice.
bool canonicalUuidText(const std::string& text) {
  if (text.size() != 36) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (c != '-') return false;
    } else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
      return false;
    }
  }
  return true;
}

// Deeper nesting than any driver entry has is refused while parsing: writing
// a deeply nested document back (into a message, or to hand it on) recurses.
constexpr int MAX_DEPTH = 64;

fennik::server::Json parseLimited(const std::string& text) {
  if (auto tree = parseJsonTree(text, MAX_DEPTH)) return std::move(*tree);
  // What the fast parser leaves (mostly damage) the library reads and names.
  return fennik::server::Json::parse(text, [](int depth, fennik::server::Json::parse_event_t, auto&) {
    if (depth > MAX_DEPTH) throw std::invalid_argument("nested deeper than 64 levels");
    return true;
  });
}

// Calls `fn` for 0..count-1, the second half on a thread of its own when
// there is enough to share. `fn` must not throw.
template <class Fn>
void forEachOnTwoThreads(std::size_t count, const Fn& fn) {
  const auto range = [&fn](std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) fn(i);
  };
  constexpr std::size_t WORTH_A_THREAD = 16;
  const std::size_t half = count / 2;
  std::future<void> second;
  if (count >= WORTH_A_THREAD) {
    try {
      second = std::async(std::launch::async, range, half, count);
    } catch (const std::system_error&) {
      // No thread to be had: all of it here.
    }
  }
  range(0, second.valid() ? half : count);
  if (second.valid()) second.get();
}

}  // namespace

DriverStore::DriverStore(std::string folder, Limits limits) : folder_(std::move(folder)), limits_(limits) {}

void DriverStore::fail(const std::string& entry, const std::string& what) const {
  throw DriverStoreError(fmt::format("the driver entry '{}' is damaged: {}", entryName(entry), what));
}

std::string DriverStore::text(const Json& document) {
  return document.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void DriverStore::save(FileContainer& project, const std::vector<Entry>& entries) const {
  std::vector<TextEntry> texts;
  texts.reserve(entries.size());
  for (const auto& [id, doc] : entries) texts.emplace_back(id, text(doc));
  saveTexts(project, texts);
}

void DriverStore::saveTexts(FileContainer& project, const std::vector<TextEntry>& entries) const {
  if (entries.empty()) {
    project.rm(folder_);
    return;
  }
  // Written over what is there, then what is no longer listed goes: closing
  // a show writes every device's entry again, mostly unchanged, and an
  // unchanged entry keeps its file (removing the folder first made the file
  // system create a thousand new files on every close).
  auto sub = project.scopedContainer(folder_);
  Json ids = Json::array();
  std::set<std::string> written{IDS_ENTRY};
  for (const auto& [id, bytes] : entries) {
    const std::string name = fennik::server::UuidToS(id);
    sub->set(name, bytes);
    ids.push_back(name);
    written.insert(name);
  }
  sub->set(IDS_ENTRY, text(ids));
  for (const auto& name : sub->ls()) {
    if (!written.count(name)) sub->rm(name);
  }
}

std::vector<Uuid> DriverStore::parseIds(const std::string& text) const {
  if (text.size() > limits_.maxEntryBytes)
    fail(IDS_ENTRY, fmt::format("it is larger than {} bytes", limits_.maxEntryBytes));
  Json list;
  try {
    list = parseLimited(text);
  } catch (const std::exception& e) {
    fail(IDS_ENTRY, std::string("it is no JSON (") + e.what() + ")");
  }
  if (!list.is_array()) fail(IDS_ENTRY, std::string("it must be a list of device ids, but is ") + list.type_name());
  if (list.size() > limits_.maxEntries)
    fail(IDS_ENTRY, fmt::format("it lists {} devices, more than {}", list.size(), limits_.maxEntries));
  std::vector<Uuid> ids;
  std::set<Uuid> seen;
  for (std::size_t i = 0; i < list.size(); ++i) {
    const Json& item = list[i];
    if (!item.is_string() || !canonicalUuidText(item.get_ref<const std::string&>()))
      fail(IDS_ENTRY, fmt::format("item {} ({}) is no device id", i, DriverStore::text(item)));
    const Uuid id = fennik::server::UuidFromS(item.get<std::string>());
    if (!seen.insert(id).second) fail(IDS_ENTRY, fmt::format("the device {} is listed twice", item.get<std::string>()));
    ids.push_back(id);
  }
  return ids;
}

DriverStore::Json DriverStore::parseEntry(const Uuid& id, const std::string& text) const {
  const std::string name = fennik::server::UuidToS(id);
  if (text.size() > limits_.maxEntryBytes) fail(name, fmt::format("it is larger than {} bytes", limits_.maxEntryBytes));
  try {
    return parseLimited(text);
  } catch (const std::exception& e) {
    fail(name, std::string("it is no JSON (") + e.what() + ")");
  }
}

std::vector<Uuid> DriverStore::readIds(const FileContainer& project) const {
  if (!project.exists(folder_) || project.has(folder_)) fail("", "it is no folder");
  if (!project.has(folder_ + "/" + IDS_ENTRY)) fail(IDS_ENTRY, "the list of devices is missing");
  return parseIds(readSmall(project, IDS_ENTRY));
}

std::string DriverStore::readEntry(const FileContainer& project, const Uuid& id) const {
  std::string text;
  readEntryInto(project, id, text, 0);
  return text;
}

void DriverStore::readEntryInto(const FileContainer& project, const Uuid& id, std::string& text,
                                std::size_t padding) const {
  const std::string name = fennik::server::UuidToS(id);
  if (!project.has(folder_ + "/" + name)) fail(name, "it is listed in driverIds but missing");
  readSmallInto(project, name, text, padding);
}

std::string DriverStore::readSmall(const FileContainer& project, const std::string& entry) const {
  std::string text;
  readSmallInto(project, entry, text, 0);
  return text;
}

void DriverStore::readSmallInto(const FileContainer& project, const std::string& entry, std::string& text,
                                std::size_t padding) const {
  const std::string name = folder_ + "/" + entry;
  std::uintmax_t size = 0;
  try {
    size = project.size(name);
    if (size > limits_.maxEntryBytes) fail(entry, fmt::format("it is larger than {} bytes", limits_.maxEntryBytes));
    text = project.get(name);
  } catch (const DriverStoreError&) {
    throw;
  } catch (const std::exception& e) {
    fail(entry, std::string("it cannot be read (") + e.what() + ")");
  }
  if (text.size() != size) fail(entry, "it cannot be read (it changed while being read)");
  text.reserve(text.size() + padding);
}

void DriverStore::check(const Uuid& id, const Verify& verify, const Json& doc) const {
  if (!verify) return;
  try {
    verify(id, doc);
  } catch (const std::exception& e) {
    fail(fennik::server::UuidToS(id), e.what());
  }
}

std::vector<DriverStore::Entry> DriverStore::load(const FileContainer& project, const Verify& verify) const {
  std::vector<Entry> entries;
  if (!project.exists(folder_)) return entries;
  const std::vector<Uuid> ids = readIds(project);
  // Every entry is read and parsed first, on two threads: parsing is most of
  // a show's load. A fault is kept with its entry and thrown in list order
  // below, so the fault named is the one reading entry by entry would name.
  struct Parsed {
    Json doc;
    std::exception_ptr fault;
  };
  std::vector<Parsed> parsed(ids.size());
  forEachOnTwoThreads(ids.size(), [&](std::size_t i) {
    try {
      parsed[i].doc = parseEntry(ids[i], readEntry(project, ids[i]));
    } catch (...) {
      parsed[i].fault = std::current_exception();
    }
  });
  entries.reserve(ids.size());
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (parsed[i].fault) std::rethrow_exception(parsed[i].fault);
    check(ids[i], verify, parsed[i].doc);
    entries.emplace_back(ids[i], std::move(parsed[i].doc));
  }
  return entries;
}

void DriverStore::read(const FileContainer& project, const ReadInPlace& inPlace, const Verify& verify) const {
  if (!project.exists(folder_)) return;
  const std::vector<Uuid> ids = readIds(project);
  // Parsed on two threads as in load(), into simdjson's DOM where it reads
  // the text as the library would; the text stays for the entries that go
  // the library's way. A batch at a time, into the same buffers: a show's
  // thousand entries parsed at once took fresh memory for every one.
  struct Parsed {
    std::string text;
    simdjson::dom::document doc;
    bool inDom = false;
    std::exception_ptr fault;
  };
  constexpr std::size_t BATCH = 64;
  std::vector<Parsed> parsed(std::min(BATCH, ids.size()));
  for (std::size_t start = 0; start < ids.size(); start += BATCH) {
    const std::size_t count = std::min(BATCH, ids.size() - start);
    forEachOnTwoThreads(count, [&](std::size_t k) {
      Parsed& p = parsed[k];
      p.inDom = false;
      p.fault = nullptr;
      try {
        readEntryInto(project, ids[start + k], p.text, simdjson::SIMDJSON_PADDING);
        p.inDom = parseJsonDocument(p.text, MAX_DEPTH, p.doc, true);
      } catch (...) {
        p.fault = std::current_exception();
      }
    });
    for (std::size_t k = 0; k < count; ++k) {
      Parsed& p = parsed[k];
      const Uuid& id = ids[start + k];
      if (p.fault) std::rethrow_exception(p.fault);
      if (p.inDom && inPlace) {
        try {
          inPlace(id, p.doc.root());
          continue;
        } catch (const std::exception&) {
          // Read again as a tree below: its refusal is the one load() gives.
        }
      }
      check(id, verify, parseEntry(id, p.text));
    }
  }
}

}  // namespace qor::server
