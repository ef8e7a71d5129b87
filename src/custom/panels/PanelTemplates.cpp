#include "custom/panels/PanelTemplates.h"

#include "custom/panels/PanelTemplateData.h"

#include "fennik/server/core/Logging.h"

#include <stdexcept>

namespace qor::server {

namespace {

using Json = nlohmann::json;

const Json& member(const Json& object, const char* key, bool (Json::*is)() const noexcept, const char* kind,
                   const std::string& where) {
  auto it = object.find(key);
  if (it == object.end() || !((*it).*is)()) throw std::invalid_argument(where + " has no " + kind + " \"" + key + "\"");
  return *it;
}

}  // namespace

std::vector<PanelTemplate> readPanelTemplates(const std::string& text, const std::string& source) {
  const Json doc = Json::parse(text, nullptr, false);
  if (doc.is_discarded()) throw std::invalid_argument(source + " is no JSON document");
  if (!doc.is_object()) throw std::invalid_argument(source + " is no JSON object");
  const std::string family = member(doc, "family", &Json::is_string, "text", source).get<std::string>();
  if (family.empty()) throw std::invalid_argument(source + " names no family");
  std::vector<PanelTemplate> result;
  const Json& list = member(doc, "templates", &Json::is_array, "list", source);
  for (std::size_t i = 0; i < list.size(); ++i) {
    const std::string where = source + ": template " + std::to_string(i);
    if (!list[i].is_object()) throw std::invalid_argument(where + " is no object");
    PanelTemplate t;
    t.family = family;
    t.name = member(list[i], "name", &Json::is_string, "text", where).get<std::string>();
    if (t.name.empty()) throw std::invalid_argument(where + " has an empty name");
    t.id = family + "/" + t.name;
    t.panelJson = member(list[i], "panelJson", &Json::is_object, "object", where);
    t.schema = member(t.panelJson, "schema", &Json::is_string, "text", where + ": panelJson").get<std::string>();
    for (const auto& other : result) {
      if (other.id == t.id) throw std::invalid_argument(where + " repeats the name '" + t.name + "'");
    }
    result.push_back(std::move(t));
  }
  return result;
}

const std::vector<PanelTemplate>& builtInPanelTemplates() {
  static const std::vector<PanelTemplate> templates = [] {
    std::vector<PanelTemplate> all;
    for (const auto& file : panelTemplateFiles()) {
      try {
        for (auto& t : readPanelTemplates(file.text, file.name)) all.push_back(std::move(t));
      } catch (const std::invalid_argument& e) {
        fennik::server::getLogger(fennik::server::MODULE_LOGGER)->error("Panel templates left out: {}", e.what());
      }
    }
    return all;
  }();
  return templates;
}

}  // namespace qor::server
