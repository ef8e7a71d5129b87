#pragma once
// The catalog of devices a user can add to a project, and the queries a
// client runs on it. The catalog is made on demand from what is installed:
// the amplifier and matrix types of the registered device factories (and,
// as their services join, panel templates and speaker products). A query is
// a text of words; each word is a token (see docs/catalog.md for the
// grammar). Tokens are interned (Boost.Flyweight): clients ask the same few
// words again and again.

#include "fennik/server/service/Service.h"

#include <boost/flyweight.hpp>
#include <boost/iterator/indirect_iterator.hpp>
#include <boost/signals2/connection.hpp>

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qor::server {

// One addable device. `kind` and `id` are what "/deviceAdd" takes.
struct CatalogItem {
  // "Amplifier", "Matrix", "Panel", "Speaker", "SpeakerMode", "SpeakerModeBand"
  std::string kind;
  // The device type's id text; for a panel, the template ("MZD/Basic"); for
  // a speaker mode, its mode id; for a band of a mode, the mode id with the
  // member "band.index" added.
  std::string id;
  std::string vendor;
  std::string model;
  std::string label;
};

using CatalogToken = boost::flyweight<std::string>;
using CatalogTokens = std::vector<CatalogToken>;

// The items one query found, in catalog order. The items are not copied: the
// matches point into the catalog's item storage, which never changes once
// made and which the matches keep alive (a reload of the databases makes new
// storage and leaves this one to the results that still hold it).
class CatalogMatches {
 public:
  using Storage = std::shared_ptr<const void>;
  using const_iterator = boost::indirect_iterator<std::vector<const CatalogItem*>::const_iterator>;

  const_iterator begin() const { return const_iterator(items_.begin()); }
  const_iterator end() const { return const_iterator(items_.end()); }
  std::size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  const CatalogItem& operator[](std::size_t i) const { return *items_[i]; }

  void keep(const Storage& storage) { storages_.push_back(storage); }
  void add(const CatalogItem& item) { items_.push_back(&item); }
  void reserve(std::size_t n) { items_.reserve(n); }

 private:
  std::vector<const CatalogItem*> items_;
  std::vector<Storage> storages_;
};

// Each query's tokens with the items that match all of them, in catalog order.
using CatalogQueryResult = std::map<CatalogTokens, CatalogMatches>;

class CatalogService : public fennik::server::Service {
 public:
  // Makes the speaker items whenever the speaker databases load (and at
  // once when they are loaded already), so no query waits for them.
  CatalogService(std::shared_ptr<fennik::server::Database> db, std::shared_ptr<fennik::server::EntityLoop> loop,
                 std::shared_ptr<fennik::server::ServiceResolver> services);
  std::string serviceName() const override { return "qor::server::CatalogService"; }

  // The words of a query text, lower-cased, in order; empty for a blank text.
  static CatalogTokens tokenize(std::string_view query);
  // Every addable device, ordered by kind, vendor, model and label.
  std::vector<CatalogItem> items() const;
  // The matches of every query; equal token lists share one entry, and a
  // query without tokens matches the whole catalog.
  CatalogQueryResult deviceCatalogQuery(const std::vector<CatalogTokens>& queries) const;

 private:
  struct SpeakerSection;
  // The amplifier, matrix and panel items, ordered.
  std::vector<CatalogItem> deviceItems() const;
  // The speaker items of the databases in use, made once per set of
  // databases (thousands of products: not rebuilt for every query).
  std::shared_ptr<const SpeakerSection> speakers() const;
  void makeSpeakerSection() const;
  mutable std::shared_ptr<const SpeakerSection> speakers_;
  boost::signals2::scoped_connection databasesLoaded_;
};

}  // namespace qor::server
