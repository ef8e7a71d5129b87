#pragma once
// Device presets: a group offers the presets all its members offer.

#include "qor/server/services/FtPresetServiceBase.h"

namespace qor::server {

class FtPresetService : public FtPresetServiceBase {
 public:
  using FtPresetServiceBase::FtPresetServiceBase;

  // Writes the preset list (a JSON array); the groups above recalculate.
  void setPresetList(FtPreset* preset, const std::string& presetListJson, bool external);

  // A group's list holds the presets every member offers (matched by their
  // "slot"); it counts as edited when any member is.
  void doRecalc(FtPreset* group) override;
};

}  // namespace qor::server
