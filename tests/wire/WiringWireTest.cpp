// Wiring over a real connection: a client wires channel 1 of one amplifier
// to channel 1 of another with the connector dialogue and sees the linked
// levels follow a level change; an amplifier mode releases the wire again.
// Incomplete tables get 400, unknown ids change nothing.

#include "ModelServerFixture.h"

#include "qor/server/entities/All.h"
#include "qor/server/fbs/LivesoundCommands_generated.h"

#include <string>
#include <vector>

namespace qor::testing {
namespace {

namespace cmd = qor::server::fbs::cmd;
using qor::server::Device;
using qor::server::FtAudio;
using qor::server::FtConnector;

constexpr const char* UNKNOWN = "3f2c7d2e-5a55-4c39-9a52-6d8c5c3bd0e1";

class WiringWireTest : public ModelServerFixture {
 protected:
  std::vector<std::string> addAmps(int count) {
    auto added = deviceAdd("Amplifier", UuidToS(devicetypes::qa8Descriptor().id), count);
    std::vector<std::string> ids;
    const auto* devices = status(added) == 200 ? tableOf<cmd::DeviceAddResult>(added->payload) : nullptr;
    if (devices && devices->devices()) {
      for (const auto* id : *devices->devices()) ids.push_back(id->str());
    }
    return ids;
  }
  Device* device(const std::string& id) const { return context->db()->get<Device>(fennik::server::UuidFromS(id)); }
  // The id of a device's channel feature with that index (on the loop).
  template <class E>
  static std::string channelId(E* feature, int index) {
    for (E* c : feature->childrens()) {
      if (c->getIndex() == index) return c->strId();
    }
    return {};
  }
  std::string connector(const std::string& dev, int index) {
    return read<std::string>([&] { return channelId(device(dev)->getConnector(), index); });
  }
  std::string mode(const std::string& dev, int index) {
    return read<std::string>([&] { return channelId(device(dev)->getAmplifierMode(), index); });
  }
  double level(const std::string& dev, int index) {
    return read<double>([&] {
      for (FtAudio* c : device(dev)->getAudio()->childrens()) {
        if (c->getIndex() == index) return c->getLevelInDb();
      }
      return -1000.0;
    });
  }
  std::string sourceOf(const std::string& connectorId) {
    return read<std::string>([&] {
      const auto* c = context->db()->get<FtConnector>(fennik::server::UuidFromS(connectorId));
      return c && c->getSignalSource() ? c->getSignalSource()->strId() : std::string();
    });
  }

  std::optional<net::Message> withConnector(const std::string& path, const std::string& id) {
    return call(path, table([&](flatbuffers::FlatBufferBuilder& b) {
                  return cmd::CreateConnectorStartArgs(b, b.CreateString(id));
                }));
  }
  std::optional<net::Message> activate(const std::string& modeId, bool active) {
    return call("/amplifierModeActivate", table([&](flatbuffers::FlatBufferBuilder& b) {
                  return cmd::CreateAmplifierModeActivateArgs(b, b.CreateString(modeId), active);
                }));
  }
};

TEST_F(WiringWireTest, WiredChannelsFollowALevelChangeUntilTheModeReleasesThem) {
  const auto amps = addAmps(2);
  ASSERT_EQ(amps.size(), 2u);
  const std::string from = connector(amps[0], 0);
  const std::string to = connector(amps[1], 0);
  ASSERT_FALSE(from.empty());

  ASSERT_EQ(status(withConnector("/connectorStart", from)), 200);
  ASSERT_EQ(status(withConnector("/connectorConnect", to)), 200);
  ASSERT_EQ(status(call("/connectorFinish")), 200);
  EXPECT_EQ(sourceOf(to), from);

  // +4 dB on the first amplifier's channel 1 reaches the second's channel 1.
  const double mine = level(amps[0], 0);
  const double before = level(amps[1], 0);
  const double neighbour = level(amps[1], 1);
  const std::string audio = read<std::string>([&] { return channelId(device(amps[0])->getAudio(), 0); });
  ASSERT_EQ(status(call("/ftAudioLevelRelative", table([&](flatbuffers::FlatBufferBuilder& b) {
                          return cmd::CreateFtAudioLevelRelativeArgs(b, b.CreateString(audio), 4.0);
                        }))),
            200);
  EXPECT_EQ(level(amps[0], 0), mine + 4.0);
  EXPECT_EQ(level(amps[1], 0), before + 4.0);
  EXPECT_EQ(level(amps[1], 1), neighbour);

  // Switching channel 1's mode off (active = false travels as a left-out
  // default) releases its wire, and the channels part.
  ASSERT_EQ(status(activate(mode(amps[0], 0), false)), 200);
  EXPECT_EQ(sourceOf(to), "");
  ASSERT_EQ(status(call("/ftAudioLevelRelative", table([&](flatbuffers::FlatBufferBuilder& b) {
                          return cmd::CreateFtAudioLevelRelativeArgs(b, b.CreateString(audio), -2.0);
                        }))),
            200);
  EXPECT_EQ(level(amps[0], 0), mine + 2.0);
  EXPECT_EQ(level(amps[1], 0), before + 4.0);
}

TEST_F(WiringWireTest, IncompleteTablesAreRefusedAndUnknownIdsChangeNothing) {
  EXPECT_EQ(status(call("/connectorStart")), 400);
  EXPECT_EQ(status(call("/connectorConnect")), 400);
  EXPECT_EQ(status(call("/amplifierModeActivate")), 400);
  EXPECT_EQ(status(call("/amplifierModeActivate", table([](flatbuffers::FlatBufferBuilder& b) {
                          return cmd::CreateAmplifierModeActivateArgs(b, 0, true);
                        }))),
            400);
  EXPECT_EQ(status(call("/connectorFinish")), 200);

  const auto amps = addAmps(2);
  ASSERT_EQ(amps.size(), 2u);
  const std::string from = connector(amps[0], 1);
  const std::string to = connector(amps[1], 1);
  // A dialogue at an unknown connector never starts; one at a known
  // connector does not wire an unknown one.
  EXPECT_EQ(status(withConnector("/connectorStart", UNKNOWN)), 500);
  EXPECT_EQ(status(withConnector("/connectorConnect", to)), 200);
  EXPECT_EQ(sourceOf(to), "");
  ASSERT_EQ(status(withConnector("/connectorStart", from)), 200);
  EXPECT_EQ(status(withConnector("/connectorConnect", UNKNOWN)), 500);
  ASSERT_EQ(status(call("/connectorFinish")), 200);
  EXPECT_EQ(sourceOf(to), "");
  EXPECT_EQ(sourceOf(from), "");
  // An unknown mode (or a connector's id given as a mode) changes nothing.
  ASSERT_EQ(status(withConnector("/connectorStart", from)), 200);
  ASSERT_EQ(status(withConnector("/connectorConnect", to)), 200);
  ASSERT_EQ(status(call("/connectorFinish")), 200);
  ASSERT_EQ(sourceOf(to), from);
  EXPECT_EQ(status(activate(UNKNOWN, false)), 500);
  EXPECT_EQ(status(activate(from, false)), 500);
  EXPECT_EQ(sourceOf(to), from);
}

}  // namespace
}  // namespace qor::testing
