#pragma once
// Input routings: selecting the input sources a channel plays, on every
// channel a routing group stands for.

#include "qor/server/services/FtInputRoutingServiceBase.h"

namespace qor::server {

class FtInputRoutingService : public FtInputRoutingServiceBase {
 public:
  using FtInputRoutingServiceBase::FtInputRoutingServiceBase;

  // Selects (deselects) on every target routing the input sources with the
  // index and family of source. sendSelectedInputSourcesToDriver rises
  // before and falls after each target's change, so its listeners see it.
  void selectInputSource(FtInputRouting* routing, FtInputSource* source);
  void deSelectInputSource(FtInputRouting* routing, FtInputSource* source);
  // Whether the routing has a source with the index and family of source
  // selected.
  bool isSelected(const FtInputRouting* routing, const FtInputSource* source) const;
  // Empties the selection of every target routing.
  void clearInputRouting(FtInputRouting* routing);

  // Rebuilds a group routing's source lists from its members: the sources
  // every member offers, and those every member has selected.
  void mergeLists(FtInputRouting* routing);

  void doRecalc(FtInputRouting* group) override { mergeLists(group); }

 private:
  void changeSelection(FtInputRouting* routing, FtInputSource* source, bool select);
};

}  // namespace qor::server
