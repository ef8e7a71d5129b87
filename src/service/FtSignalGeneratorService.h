#pragma once
// Signal generators: relative level change and the range a group offers.

#include "qor/server/services/FtSignalGeneratorServiceBase.h"

namespace qor::server {

class FtSignalGeneratorService : public FtSignalGeneratorServiceBase {
 public:
  using FtSignalGeneratorServiceBase::FtSignalGeneratorServiceBase;

  // Moves every target's level by the same delta, narrowed so that none
  // leaves its own [levelInDbMin, levelInDbMax].
  void setLevelInDbRelative(FtSignalGenerator* generator, double delta);

  // A group offers the level and frequency range common to all its members.
  void doRecalc(FtSignalGenerator* group) override;
};

}  // namespace qor::server
