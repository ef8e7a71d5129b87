#include "module/HandWrittenServices.h"

#include "custom/HighlightService.h"
#include "custom/VisualTreeService.h"
#include "custom/catalog/CatalogService.h"
#include "custom/deviceplant/DevicePlant.h"
#include "custom/deviceplant/MatrixService.h"
#include "custom/discovery/LivesoundDiscoveredDeviceService.h"
#include "custom/livesound/LivesoundService.h"
#include "custom/panels/PanelService.h"
#include "custom/prediction/PredictionImportService.h"
#include "custom/presets/AbPresetService.h"
#include "custom/speakers/SpeakerService.h"
#include "custom/speakers/SpeakerSettingService.h"
#include "custom/speakers/SpsFileService.h"
#include "service/SpeakerDatabaseService.h"

#include "fennik/server/service/DebounceService.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/ServiceResolver.h"
#include "fennik/server/service/TimerService.h"

#include <functional>
#include <vector>

namespace qor::server {

namespace {

using fennik::server::EntityContext;
using Step = std::function<void(const std::shared_ptr<EntityContext>&)>;

template <class S>
Step adding() {
  return [](const std::shared_ptr<EntityContext>& c) {
    c->services()->add(std::make_shared<S>(c->db(), c->loop(), c->services()));
  };
}

template <class S>
Step removing() {
  return [](const std::shared_ptr<EntityContext>& c) { c->services()->remove<S>(); };
}

// The order in which the hand-written services join; the host runs the
// project hooks in resolver order, so it matters.
const std::vector<Step>& addOrder() {
  static const std::vector<Step> steps{
      adding<LivesoundService>(),
      adding<SpeakerService>(),
      adding<MatrixService>(),
      adding<PanelService>(),
      // Added again by hand: the generated slot of its type is replaced, and
      // the service moves among the hand-written ones.
      adding<SpeakerDatabaseService>(),
      adding<VisualTreeService>(),
      adding<DevicePlant>(),
      adding<HighlightService>(),
      adding<SpsFileService>(),
      adding<SpeakerSettingService>(),
      adding<CatalogService>(),
      adding<AbPresetService>(),
      adding<PredictionImportService>(),
      adding<fennik::server::TimerService>(),
      adding<fennik::server::DebounceService>(),
      adding<LivesoundDiscoveredDeviceService>(),
  };
  return steps;
}

const std::vector<Step>& removeOrder() {
  static const std::vector<Step> steps{
      removing<LivesoundService>(),
      removing<SpeakerService>(),
      removing<PanelService>(),
      removing<MatrixService>(),
      removing<SpeakerDatabaseService>(),
      removing<VisualTreeService>(),
      removing<DevicePlant>(),
      removing<HighlightService>(),
      removing<SpsFileService>(),
      removing<SpeakerSettingService>(),
      removing<CatalogService>(),
      removing<AbPresetService>(),
      removing<PredictionImportService>(),
      removing<fennik::server::DebounceService>(),
      removing<fennik::server::TimerService>(),
      removing<LivesoundDiscoveredDeviceService>(),
  };
  return steps;
}

}  // namespace

void addHandWrittenServices(const std::shared_ptr<EntityContext>& context) {
  for (const auto& step : addOrder()) step(context);
}

std::size_t handWrittenServiceCount() { return addOrder().size(); }

void removeHandWrittenServices(const std::shared_ptr<EntityContext>& context) {
  for (const auto& step : removeOrder()) step(context);
}

}  // namespace qor::server
