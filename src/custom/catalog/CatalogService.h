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
// Each query's tokens with the items that match all of them, in catalog order.
using CatalogQueryResult = std::map<CatalogTokens, std::vector<CatalogItem>>;

class CatalogService : public fennik::server::Service {
 public:
  using Service::Service;
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
  const SpeakerSection& speakers() const;
  mutable std::shared_ptr<SpeakerSection> speakers_;
};

}  // namespace qor::server
