#include "custom/panels/PanelKeywords.h"

#include "model/Catalogue.h"

#include "fennik/server/service/KeywordService.h"

#include <functional>
#include <string>

namespace qor::server {

namespace {

void forEachFieldKeyword(const std::function<void(const fennik::server::KeywordKey&)>& fn) {
  const auto catalogue = catalogueJson();
  for (const auto& type : catalogue.at("types")) {
    const std::string typeName = type.at("name").get<std::string>();
    for (const auto& field : type.at("fields"))
      fn(fennik::server::KeywordKey::parse(std::string(KEYWORD_OWNER) + "." + typeName + "." +
                                           field.at("name").get<std::string>()));
  }
}

}  // namespace

void registerLivesoundKeywords(fennik::server::KeywordService& keywords) {
  forEachFieldKeyword([&](const fennik::server::KeywordKey& key) { keywords.add(key); });
}

void deregisterLivesoundKeywords(fennik::server::KeywordService& keywords) {
  forEachFieldKeyword([&](const fennik::server::KeywordKey& key) { keywords.remove(key); });
}

}  // namespace qor::server
