#include "service/FtEqFilterBankService.h"

#include "service/GroupWalk.h"

#include "fennik/server/service/ServiceResolver.h"
#include "qor/server/services/FtEqFilterService.h"

namespace qor::server {

namespace {
FtEqFilter* filterWithIndex(const FtEqFilterBank* bank, std::int32_t index) {
  for (FtEqFilter* f : bank->filters()) {
    if (f && f->getIndex() == index) return f;
  }
  return nullptr;
}
}  // namespace

void FtEqFilterBankService::flatten(FtEqFilterBank* bank, bool bypass) {
  if (!bank) return;
  auto filters = services()->get<FtEqFilterService>();
  for (FtEqFilterBank* target : groupwalk::targetsOf(bank)) {
    for (FtEqFilter* f : target->filters()) {
      if (!f) continue;
      filters->setGainInDb(f, 0.0, false);
      if (bypass) filters->setBypass(f, true, false);
    }
    doRecalcActive(target);
  }
}

void FtEqFilterBankService::doRecalcActive(FtEqFilterBank* bank) {
  if (!bank) return;
  if (bank->childrenShareds().empty()) {
    bool active = false;
    for (const FtEqFilter* f : bank->filters()) active = active || (f && f->getIsAvailable() && !f->getBypass());
    setIsActive(bank, active, true);
  }
  recalcParents(bank);
}

void FtEqFilterBankService::addChild(FtEqFilterBank* group, FtEqFilterBank* child, bool owned) {
  if (!group || !child) return;
  FtEqFilterBankServiceBase::addChild(group, child, owned);
  if (!group->getIsGroup()) return;
  auto filters = services()->get<FtEqFilterService>();
  for (FtEqFilter* memberFilter : child->filters()) {
    if (!memberFilter) continue;
    FtEqFilter* groupFilter = filterWithIndex(group, memberFilter->getIndex());
    if (!groupFilter) {
      groupFilter = filters->create();
      filters->setIndex(groupFilter, memberFilter->getIndex(), false);
      filters->setIsGroup(groupFilter, true, false);
      filters->setSource(groupFilter, FtSource::GROUP_CHANNEL, false);
      group->addFilter(groupFilter);
    }
    filters->addChild(groupFilter, memberFilter, false);
  }
}

void FtEqFilterBankService::removeChild(FtEqFilterBank* group, FtEqFilterBank* child) {
  if (!group || !child) return;
  auto filters = services()->get<FtEqFilterService>();
  for (FtEqFilter* memberFilter : child->filters()) {
    if (!memberFilter) continue;
    if (FtEqFilter* groupFilter = filterWithIndex(group, memberFilter->getIndex())) {
      filters->removeChild(groupFilter, memberFilter);
    }
  }
  FtEqFilterBankServiceBase::removeChild(group, child);
}

void FtEqFilterBankService::destroy(FtEqFilterBank* bank) {
  if (!bank) return;
  auto filters = services()->get<FtEqFilterService>();
  const std::vector<FtEqFilter*> owned = bank->filters();
  for (FtEqFilter* f : owned) {
    if (!f) continue;
    bank->removeFilter(f);
    filters->destroy(f);
  }
  FtEqFilterBankServiceBase::destroy(bank);
}

void FtEqFilterBankService::setBridgeMode(FtEqFilterBank* bank, const FtBridgeMode& value, bool external) {
  FtEqFilterBankServiceBase::setBridgeMode(bank, value, external);
  if (!bank) return;
  auto filters = services()->get<FtEqFilterService>();
  for (FtEqFilter* f : bank->filters()) filters->setBridgeMode(f, value, external);
}

void FtEqFilterBankService::setIsReactingOnRealAmpChannel(FtEqFilterBank* bank, const bool& value, bool external) {
  FtEqFilterBankServiceBase::setIsReactingOnRealAmpChannel(bank, value, external);
  if (!bank) return;
  auto filters = services()->get<FtEqFilterService>();
  for (FtEqFilter* f : bank->filters()) filters->setIsReactingOnRealAmpChannel(f, value, external);
}

}  // namespace qor::server
