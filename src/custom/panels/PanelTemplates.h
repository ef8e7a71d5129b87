#pragma once
// Panel templates: ready-made panel JSON documents for the panel families
// ("MZD" and "RLX"), shipped as data files (data/panels/*.json) and built
// into the module. A template is named "<family>/<name>"; its panel JSON's
// "schema" says which panel type it is for.

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace qor::server {

struct PanelTemplate {
  std::string id;      // "<family>/<name>", as clients name it
  std::string family;  // "MZD", "RLX"
  std::string name;
  std::string schema;  // the panel JSON's "schema"
  nlohmann::json panelJson;
};

// Reads a template file: {"family": text, "templates": [{"name": text,
// "panelJson": {"schema": text, ...}}, ...]}. Throws std::invalid_argument
// naming `source` and what is wrong.
std::vector<PanelTemplate> readPanelTemplates(const std::string& text, const std::string& source);

// The templates built into the module, file by file in name order, each
// file's templates in their order. A file that cannot be read is logged and
// left out.
const std::vector<PanelTemplate>& builtInPanelTemplates();

}  // namespace qor::server
