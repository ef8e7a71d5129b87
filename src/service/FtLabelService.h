#pragma once
// Labels: a group label tells whether its members name one channel.

#include "qor/server/services/FtLabelServiceBase.h"

namespace qor::server {

class FtLabelService : public FtLabelServiceBase {
 public:
  using FtLabelServiceBase::FtLabelServiceBase;

  // consistentChannel is true when the group's members all carry the same
  // short name, that is, stand for the same channel.
  void doRecalc(FtLabel* group) override;
  // A device's report of a short name lets the groups above recheck it.
  void setShortName(FtLabel* label, const std::string& value, bool external) override;
};

}  // namespace qor::server
