// The device commands over a real connection: a client finds an amplifier in
// the catalog, adds two, is told why a bad speaker mode adds nothing, and
// gets the documented status for every bad id without anything changing.

#include "ModelServerFixture.h"

#include "apps/ChildProcess.h"
#include "custom/livesound/LivesoundController.h"
#include "qor/server/entities/All.h"
#include "qor/server/fbs/LivesoundCommands_generated.h"

#include "fennik/devices/SimulatedNetwork.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>
#include <vector>

namespace qor::testing {
namespace {

namespace cmd = qor::server::fbs::cmd;
using qor::server::Device;
using qor::server::LivesoundProject;

class DeviceCommandWireTest : public ModelServerFixture {
 protected:
  std::vector<std::string> deviceNames() {
    return read<std::vector<std::string>>([&] {
      std::vector<std::string> names;
      for (Device* d : context->db()->all<Device>()) names.push_back(d->getDeviceInfo()->getName());
      return names;
    });
  }
};

TEST_F(DeviceCommandWireTest, FindInTheCatalogThenAddAndRefuseABadSpeakerMode) {
  auto found = call("/deviceCatalogQuery", table([](flatbuffers::FlatBufferBuilder& b) {
                      return cmd::CreateDeviceCatalogQueryArgs(b, b.CreateVectorOfStrings({"Eight-Channel"}));
                    }));
  ASSERT_EQ(status(found), 200);
  const auto* result = tableOf<cmd::DeviceCatalogQueryResult>(found->payload);
  ASSERT_TRUE(result && result->matches() && result->matches()->size() == 1);
  const auto* match = result->matches()->Get(0);
  ASSERT_EQ(match->tokens()->size(), 1u);
  EXPECT_EQ(match->tokens()->Get(0)->str(), "eight-channel");
  ASSERT_EQ(match->items()->size(), 1u);
  const auto* item = match->items()->Get(0);
  EXPECT_EQ(item->model()->str(), "QA-8");

  auto added = deviceAdd(item->kind()->str(), item->id()->str(), 2);
  ASSERT_EQ(status(added), 200);
  const auto* devices = tableOf<cmd::DeviceAddResult>(added->payload);
  ASSERT_TRUE(devices && devices->devices());
  ASSERT_EQ(devices->devices()->size(), 2u);
  EXPECT_EQ(deviceNames(), (std::vector<std::string>{"Amp1", "Amp2"}));

  // The JSON library's complaint reaches the client; nothing is added.
  auto refused = deviceAdd("SpeakerMode", "[1]", 1);
  ASSERT_EQ(status(refused), 422);
  const auto* why = tableOf<cmd::DeviceAddResult>(refused->payload);
  ASSERT_TRUE(why && why->error());
  EXPECT_NE(why->error()->str().find("type_error"), std::string::npos) << why->error()->str();
  EXPECT_EQ(deviceNames().size(), 2u);

  // Incomplete: a count left out. A count of 0 written is complete and adds nothing.
  EXPECT_EQ(status(call("/deviceAdd", table([](flatbuffers::FlatBufferBuilder& b) {
                          return cmd::CreateDeviceAddArgs(b, 1, 1, flatbuffers::nullopt, b.CreateString("Amplifier"),
                                                          b.CreateString("x"));
                        }))),
            400);
  EXPECT_EQ(status(deviceAdd(item->kind()->str(), item->id()->str(), 0)), 200);
  EXPECT_EQ(deviceNames().size(), 2u);
}

TEST_F(DeviceCommandWireTest, BadIdsGetTheDocumentedStatusAndChangeNothing) {
  auto added = deviceAdd("Amplifier", fennik::server::UuidToS(devicetypes::qa8Descriptor().id), 1);
  ASSERT_EQ(status(added), 200);
  const std::string ampId = tableOf<cmd::DeviceAddResult>(added->payload)->devices()->Get(0)->str();
  const std::string projectId = read<std::string>([&] { return context->db()->all<LivesoundProject>()[0]->strId(); });
  const std::size_t before = read<std::size_t>([&] { return context->db()->size(); });

  auto deviceArg = [](const std::string& path, const std::string& id) { return std::make_pair(path, id); };
  for (const auto& [path, id] :
       {deviceArg("/deviceRemove", "no uuid"), deviceArg("/deviceRemove", projectId),
        deviceArg("/deviceMappingClear", "3f2c7d2e-5a55-4c39-9a52-6d8c5c3bd0e1"),
        deviceArg("/deviceMappingClear", projectId), deviceArg("/deviceMappingLoadAutomaticByDeviceId", "")}) {
    auto reply = call(path, table([&, &id = id](flatbuffers::FlatBufferBuilder& b) {
                        return cmd::CreateDeviceRemoveArgs(b, b.CreateString(id));
                      }));
    EXPECT_EQ(status(reply), 500) << path << " " << id;
  }
  auto embed = call("/deviceGroupEmbed", table([&](flatbuffers::FlatBufferBuilder& b) {
                      return cmd::CreateDeviceGroupEmbedArgs(b, b.CreateString("nil"), 0, 0);
                    }));
  EXPECT_EQ(status(embed), 500);
  EXPECT_EQ(status(call("/deviceRemove", {})), 400);
  // A firmware file for something that is no device info, or without a file.
  auto firmware = [&](const std::string& info, const char* path) {
    return status(call("/firmwareLoadFW", table([&](flatbuffers::FlatBufferBuilder& b) {
                         return cmd::CreateFirmwareLoadFWArgs(b, b.CreateString(info), path ? b.CreateString(path) : 0);
                       })));
  };
  EXPECT_EQ(firmware(ampId, "/updates/qa8-3.0.0.bin"), 500);
  EXPECT_EQ(firmware(ampId, nullptr), 400);
  EXPECT_EQ(read<std::size_t>([&] { return context->db()->size(); }), before);

  // A single device is not removed by "/deviceRemove".
  auto remove = call("/deviceRemove", table([&](flatbuffers::FlatBufferBuilder& b) {
                       return cmd::CreateDeviceRemoveArgs(b, b.CreateString(ampId));
                     }));
  EXPECT_EQ(status(remove), 200);
  EXPECT_EQ(deviceNames(), std::vector<std::string>{"Amp1"});

  auto barrier = call("/testcaseBarrier", table([](flatbuffers::FlatBufferBuilder& b) {
                        return cmd::CreateTestcaseBarrierArgs(b, b.CreateString("after-remove"));
                      }));
  EXPECT_EQ(status(barrier), 200);
  EXPECT_EQ(read<std::string>([&] { return context->db()->all<LivesoundProject>()[0]->getTestCaseBarrierKey(); }),
            "after-remove");
}

TEST_F(DeviceCommandWireTest, QorctlQueriesTheCatalogAndShowsARefusal) {
  const std::string url = "ws://127.0.0.1:" + std::to_string(server().port()) + "/ksp";
  std::string out;
  ASSERT_EQ(runToCompletion({QORCTL_PATH, "--url", url, "call", "/deviceCatalogQuery", "queries=matrix",
                             "queries=kind:amplifier -qa-8"},
                            out),
            0)
      << out;
  const auto reply = nlohmann::json::parse(out);
  const auto& matches = reply["result"]["matches"];
  ASSERT_EQ(matches.size(), 2u);
  std::vector<std::string> models;
  for (const auto& m : matches) {
    for (const auto& i : m["items"]) models.push_back(i["model"]);
  }
  std::sort(models.begin(), models.end());
  EXPECT_EQ(models, (std::vector<std::string>{"QA-4", "QM-16"}));

  EXPECT_EQ(
      runToCompletion(
          {QORCTL_PATH, "--url", url, "call", "/deviceAdd", "kind=SpeakerMode", "id=3", "count=1", "x=0", "y=0"}, out),
      1);
  EXPECT_NE(out.find("\"status\":422"), std::string::npos) << out;
  EXPECT_NE(out.find("type_error"), std::string::npos) << out;
}

}  // namespace
}  // namespace qor::testing
