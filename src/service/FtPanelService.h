#pragma once
// Panels: the panel JSON is stored with its keyword mappings resolved
// through the host's keyword service.

#include "qor/server/services/FtPanelServiceBase.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace qor::server {

class FtPanelService : public FtPanelServiceBase {
 public:
  using FtPanelServiceBase::FtPanelServiceBase;

  // Deeper nesting than this is not taken as a panel JSON.
  static constexpr int MAX_JSON_DEPTH = 64;

  // Before the document is stored, each entry of its "keywordMappings"
  // ({"humanKey": text, "fqdnKey": text}) gets the full name of the keyword
  // its fqdnKey names. When a key cannot be resolved the document is stored
  // as given. A text that is no JSON is logged and leaves the stored one.
  void setJson(FtPanel* panel, const std::string& json, bool external) override;

  // setJson as a user's write; the reason when the text is no JSON (nothing
  // stored), none when it was stored.
  std::optional<std::string> store(FtPanel* panel, const std::string& json);

  // The JSON library's reading of a panel JSON, refusing nesting deeper
  // than MAX_JSON_DEPTH; throws std::invalid_argument saying what is wrong.
  static nlohmann::json parsePanelJson(const std::string& text);
};

}  // namespace qor::server
