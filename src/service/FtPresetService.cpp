#include "service/FtPresetService.h"

#include "service/GroupRules.h"
#include "service/JsonLists.h"

namespace qor::server {

void FtPresetService::setPresetList(FtPreset* preset, const std::string& presetListJson, bool external) {
  if (!preset) return;
  setPresetListJson(preset, presetListJson, external);
  recalcParents(preset);
}

void FtPresetService::doRecalc(FtPreset* group) {
  if (!group || group->childrenShareds().empty()) return;
  jsonlists::storeCommon(group, &FtPreset::PresetListJsonGetter, &FtPreset::PresetListJsonExternalSetter, "slot");
  rules::anyOf(group, &FtPreset::EditedGetter, &FtPreset::EditedExternalSetter);
}

}  // namespace qor::server
