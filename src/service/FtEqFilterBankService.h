#pragma once
// Equaliser banks: a bank owns its filters; a bank group holds one group
// filter per filter index, over the members' filters of that index.

#include "qor/server/services/FtEqFilterBankServiceBase.h"

namespace qor::server {

class FtEqFilterBankService : public FtEqFilterBankServiceBase {
 public:
  using FtEqFilterBankServiceBase::FtEqFilterBankServiceBase;

  // Resets every filter of the bank (and so of every member bank) to flat:
  // 0 dB gain; with bypass true the filters are also bypassed.
  void flatten(FtEqFilterBank* bank, bool bypass);
  // A bank is active while any of its available filters is not bypassed; a
  // member bank recalculates, then the groups above it.
  void doRecalcActive(FtEqFilterBank* bank);

  // Joining a bank group also joins the member's filters to the group's
  // filters of the same index (made on first need); leaving detaches them.
  void addChild(FtEqFilterBank* group, FtEqFilterBank* child, bool owned) override;
  void removeChild(FtEqFilterBank* group, FtEqFilterBank* child) override;
  // Destroys the bank's filters with it.
  void destroy(FtEqFilterBank* bank) override;

  // The bank's filters follow the bank's bridge mode and channel reaction.
  void setBridgeMode(FtEqFilterBank* bank, const FtBridgeMode& value, bool external) override;
  void setIsReactingOnRealAmpChannel(FtEqFilterBank* bank, const bool& value, bool external) override;
};

}  // namespace qor::server
