// The device commands of the livesound route: the catalog, adding devices by
// type or from the network, removing groups, embedding groups on the canvas,
// identifying network devices, mapping and unmapping, and the test barrier.
#include "custom/catalog/CatalogService.h"
#include "custom/livesound/LivesoundController.h"
#include "custom/livesound/LivesoundLog.h"
#include "custom/livesound/LivesoundService.h"
#include "qor/devicediscovery/DiscoveredDevice.h"
#include "qor/server/entities/Device.h"
#include "qor/server/entities/FtDeviceInfo.h"
#include "qor/server/fbs/LivesoundCommands_generated.h"
#include "service/SessionService.h"
#include "wire/Command.h"
#include "wire/WireConvert.h"

#include <nlohmann/json.hpp>

namespace qor::server {

using wire::addCommand;
using wire::CommandJob;
namespace cmd = fbs::cmd;

namespace {

void finish(CommandJob& job, flatbuffers::FlatBufferBuilder& b) {
  job.result().assign(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize());
}

// The commands that add devices act in the master session's window.
void useMasterWindow(CommandJob& job) {
  job.service<SessionService>().setCurrentSessionWindow(fennik::server::UuidFromS(SessionService::MASTER_ROOT_ID));
}

flatbuffers::Offset<cmd::CatalogMatch> writeMatch(flatbuffers::FlatBufferBuilder& b, const CatalogTokens& tokens,
                                                  const CatalogMatches& items) {
  std::vector<flatbuffers::Offset<flatbuffers::String>> words;
  for (const auto& token : tokens) words.push_back(b.CreateString(token.get()));
  std::vector<flatbuffers::Offset<cmd::CatalogItem>> entries;
  entries.reserve(items.size());
  for (const auto& item : items) {
    entries.push_back(cmd::CreateCatalogItem(b, b.CreateString(item.kind), b.CreateString(item.id),
                                             b.CreateString(item.vendor), b.CreateString(item.model),
                                             b.CreateString(item.label)));
  }
  return cmd::CreateCatalogMatch(b, b.CreateVector(words), b.CreateVector(entries));
}

}  // namespace

void addDeviceCommands(fennik::server::IFennikController& controller) {
  addCommand<cmd::DeviceCatalogQueryArgs>(
      controller, "/deviceCatalogQuery", {}, [](CommandJob& job, const cmd::DeviceCatalogQueryArgs& a) {
        std::vector<CatalogTokens> queries;
        if (a.queries()) {
          for (const auto* text : *a.queries()) queries.push_back(CatalogService::tokenize(wire::fromWire(text)));
        } else {
          queries.emplace_back();
        }
        livesound::log()->info("Querying device catalog");
        const CatalogQueryResult result = job.service<CatalogService>().deviceCatalogQuery(queries);
        std::size_t count = 0;
        for (const auto& [tokens, items] : result) count += items.size();
        livesound::log()->info("Serializing device catalog query result. Size of items {}", count);
        flatbuffers::FlatBufferBuilder b;
        std::vector<flatbuffers::Offset<cmd::CatalogMatch>> matches;
        for (const auto& [tokens, items] : result) matches.push_back(writeMatch(b, tokens, items));
        b.Finish(cmd::CreateDeviceCatalogQueryResult(b, b.CreateVector(matches)));
        finish(job, b);
      });

  addCommand<cmd::DeviceAddArgs>(controller, "/deviceAdd",
                                 {cmd::DeviceAddArgs::VT_X, cmd::DeviceAddArgs::VT_Y, cmd::DeviceAddArgs::VT_COUNT,
                                  cmd::DeviceAddArgs::VT_KIND, cmd::DeviceAddArgs::VT_ID},
                                 [](CommandJob& job, const cmd::DeviceAddArgs& a) {
                                   useMasterWindow(job);
                                   flatbuffers::FlatBufferBuilder b;
                                   std::vector<Device*> added;
                                   try {
                                     added = job.service<LivesoundService>().deviceAdd(
                                         wire::fromWire(a.kind()), wire::fromWire(a.id()), *a.count(), *a.x(), *a.y(),
                                         true);
                                   } catch (const nlohmann::json::exception& e) {
                                     // A speaker mode that is no JSON object: the client learns why.
                                     livesound::log()->error("Device add refused: {}", e.what());
                                     job.refuse();
                                     b.Finish(cmd::CreateDeviceAddResult(b, 0, b.CreateString(e.what())));
                                     return finish(job, b);
                                   }
                                   std::vector<flatbuffers::Offset<flatbuffers::String>> ids;
                                   for (Device* device : added) ids.push_back(b.CreateString(device->strId()));
                                   b.Finish(cmd::CreateDeviceAddResult(b, b.CreateVector(ids)));
                                   finish(job, b);
                                 });

  addCommand<cmd::DeviceRemoveArgs>(controller, "/deviceRemove", {cmd::DeviceRemoveArgs::VT_DEVICE},
                                    [](CommandJob& job, const cmd::DeviceRemoveArgs& a) {
                                      job.service<LivesoundService>().deviceRemove(job.entity<Device>(a.device()));
                                    });

  addCommand<cmd::DeviceGroupEmbedArgs>(controller, "/deviceGroupEmbed", {cmd::DeviceGroupEmbedArgs::VT_DEVICE},
                                        [](CommandJob& job, const cmd::DeviceGroupEmbedArgs& a) {
                                          job.service<LivesoundService>().deviceGroupEmbed(
                                              job.entity<Device>(a.device()), a.x(), a.y());
                                        });

  addCommand<cmd::DeviceMappingClearArgs>(
      controller, "/deviceMappingClear", {cmd::DeviceMappingClearArgs::VT_DEVICE},
      [](CommandJob& job, const cmd::DeviceMappingClearArgs& a) {
        job.service<LivesoundService>().deviceMappingClear(job.entity<Device>(a.device()));
      });

  addCommand<cmd::DeviceMappingLoadAutomaticByDeviceIdArgs>(
      controller, "/deviceMappingLoadAutomaticByDeviceId", {cmd::DeviceMappingLoadAutomaticByDeviceIdArgs::VT_DEVICE},
      [](CommandJob& job, const cmd::DeviceMappingLoadAutomaticByDeviceIdArgs& a) {
        job.service<LivesoundService>().deviceMappingLoadAutomaticByDeviceId(job.entity<Device>(a.device()));
      });

  addCommand<cmd::TestcaseBarrierArgs>(controller, "/testcaseBarrier", {cmd::TestcaseBarrierArgs::VT_KEY},
                                       [](CommandJob& job, const cmd::TestcaseBarrierArgs& a) {
                                         job.service<LivesoundService>().testcaseBarrier(wire::fromWire(a.key()));
                                       });

  addCommand<cmd::FirmwareLoadFWArgs>(controller, "/firmwareLoadFW",
                                      {cmd::FirmwareLoadFWArgs::VT_DEVICEINFO, cmd::FirmwareLoadFWArgs::VT_PATH},
                                      [](CommandJob& job, const cmd::FirmwareLoadFWArgs& a) {
                                        job.service<LivesoundService>().firmwareLoadFW(
                                            job.entity<FtDeviceInfo>(a.deviceInfo()), wire::fromWire(a.path()));
                                      });

  addCommand<cmd::DiscoveredDeviceAddArgs>(
      controller, "/discoveredDeviceAdd", {cmd::DiscoveredDeviceAddArgs::VT_DISCOVEREDDEVICE},
      [](CommandJob& job, const cmd::DiscoveredDeviceAddArgs& a) {
        auto* found = job.entity<DiscoveredDevice>(a.discoveredDevice());
        useMasterWindow(job);
        Device* device = job.service<LivesoundService>().discoveredDeviceAdd(found, a.x(), a.y());
        flatbuffers::FlatBufferBuilder b;
        b.Finish(cmd::CreateDiscoveredDeviceAddResult(b, device ? b.CreateString(device->strId()) : 0));
        finish(job, b);
      });

  addCommand<cmd::DiscoveredDeviceAddAllArgs>(
      controller, "/discoveredDeviceAddAll", {cmd::DiscoveredDeviceAddAllArgs::VT_SESSIONWINDOW},
      [](CommandJob& job, const cmd::DiscoveredDeviceAddAllArgs& a) {
        job.service<SessionService>().setCurrentSessionWindow(job.uuid(a.sessionWindow()));
        job.service<LivesoundService>().discoveredDeviceAddAll(a.x(), a.y());
      });

  addCommand<cmd::DiscoveredDeviceAddExtendedArgs>(
      controller, "/discoveredDeviceAddExtended", {cmd::DiscoveredDeviceAddExtendedArgs::VT_DISCOVEREDDEVICES},
      [](CommandJob& job, const cmd::DiscoveredDeviceAddExtendedArgs& a) {
        std::vector<DiscoveredDevice*> list;
        if (a.discoveredDevices()) {
          for (const auto* id : *a.discoveredDevices()) list.push_back(job.entity<DiscoveredDevice>(id));
        }
        useMasterWindow(job);
        job.service<LivesoundService>().discoveredDeviceAddExtended(list, a.x(), a.y());
      });

  addCommand<cmd::SetDeviceFindArgs>(controller, "/setDeviceFind", {cmd::SetDeviceFindArgs::VT_DISCOVEREDDEVICE},
                                     [](CommandJob& job, const cmd::SetDeviceFindArgs& a) {
                                       auto* found = job.entity<DiscoveredDevice>(a.discoveredDevice());
                                       job.service<LivesoundService>().deviceFind(found->id(), a.find());
                                     });

  addCommand<cmd::DeviceMappingSearchArgs>(
      controller, "/deviceMappingSearch",
      {cmd::DeviceMappingSearchArgs::VT_DEVICE, cmd::DeviceMappingSearchArgs::VT_FILTER},
      [](CommandJob& job, const cmd::DeviceMappingSearchArgs& a) {
        const auto found = job.service<LivesoundService>().deviceMappingSearch(job.entity<Device>(a.device()),
                                                                               wire::fromWire(a.filter()));
        flatbuffers::FlatBufferBuilder b;
        std::vector<flatbuffers::Offset<flatbuffers::String>> ids;
        for (const DiscoveredDevice* dd : found) ids.push_back(b.CreateString(dd->strId()));
        b.Finish(cmd::CreateDeviceMappingSearchResult(b, b.CreateVector(ids)));
        finish(job, b);
      });

  addCommand<cmd::DeviceMappingLoadArgs>(
      controller, "/deviceMappingLoad",
      {cmd::DeviceMappingLoadArgs::VT_DEVICE, cmd::DeviceMappingLoadArgs::VT_DISCOVEREDDEVICE},
      [](CommandJob& job, const cmd::DeviceMappingLoadArgs& a) {
        Device* device = job.entity<Device>(a.device());
        auto* found = job.entity<DiscoveredDevice>(a.discoveredDevice());
        job.service<LivesoundService>().deviceMappingLoad(device, found->id());
      });
}

}  // namespace qor::server
