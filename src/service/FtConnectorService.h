#pragma once
// Connectors and the wiring between them (see docs/wiring.md). A device's
// FtConnector has one child per channel: amplifier outputs (AMP_OUTPUT) and
// loudspeaker inputs (SPEAKER_INPUT), each naming its device as subject. A
// wire is a channel connector's signalSource: the connector that feeds it.
// Wires are made and released by the connector dialogue (start, select,
// finish), which the current session window shows in its possible and
// selected connector lists.

#include "qor/server/entities/Forward.h"
#include "qor/server/services/FtConnectorServiceBase.h"

#include <boost/signals2/signal.hpp>

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <utility>
#include <vector>

namespace qor::server {

class FtConnectorService : public FtConnectorServiceBase {
 public:
  using FtConnectorServiceBase::FtConnectorServiceBase;

  // (channel index, amplifier): one amplifier channel.
  using AmpChannel = std::pair<std::uint32_t, Device*>;
  // Every amplifier channel wired together with others, with those others.
  using LinkedAmpChannels = std::map<AmpChannel, std::set<AmpChannel>>;
  // (feeding connector, fed connector, connected): a wire made or released.
  using ConnectionSlot = std::function<void(FtConnector*, FtConnector*, bool)>;

  // --- the connector dialogue ---
  // Begins a dialogue at a channel connector, ending any other one first
  // (a dialogue a client left open never blocks the next). Anything but a
  // channel connector of a single device ends the dialogue only.
  void connectorStart(FtConnector* connector);
  // Within a dialogue: the started connector itself releases all its wires;
  // a connector wired to it is unwired; a connector it may be wired to is
  // wired (a fed connector's earlier source is released first). Anything
  // else, or no dialogue, changes nothing.
  void connectorSelect(FtConnector* connector);
  // Ends the dialogue; the window's connector lists empty.
  void connectorFinish();
  FtConnector* startedConnector() const;
  // Called for every wire made or released, while the caller holds the
  // connection.
  boost::signals2::connection onConnectionChanged(const ConnectionSlot& slot);

  // --- the wiring ---
  // Amplifier outputs and loudspeaker inputs: the connectors wires join.
  static bool isChannelConnector(const FtConnector* c);
  // A single device (not a group) whose type is an amplifier.
  static bool isAmplifier(const Device* d);
  // Whether a wire may join the two connectors (either may be the feeding one).
  bool canConnect(const FtConnector* a, const FtConnector* b) const;
  // Whether the connector is fed or feeds another.
  bool isWired(const FtConnector* connector) const;
  // The amplifier channels joined by wires (directly, or through the same
  // loudspeaker input and the wires between inputs), each with the others.
  LinkedAmpChannels getLinkedAmpChannels() const;
  // The devices at the other end of the device's wires, each once.
  std::vector<Device*> getConnectedDevices(const Device* device) const;
  // The device a connector belongs to (its subject), or null.
  Device* deviceOf(const FtConnector* connector) const;
  // After devices came or went: wires to connectors that are gone are
  // dropped and an open dialogue offers the connectors there are now.
  void update();
  // Recomputes the window's possible and selected connectors of the dialogue.
  void updatePossibleConnections();

  // A connector leaves with its wires; it disappears from every dialogue.
  void destroy(FtConnector* connector) override;

 private:
  void wire(FtConnector* source, FtConnector* sink);
  void unwire(FtConnector* sink);
  void releaseAll(FtConnector* connector);
  SessionWindow* dialogueWindow() const;
  void clearWindow(SessionWindow* window);

  boost::signals2::signal<void(FtConnector*, FtConnector*, bool)> connectionChanged_;
  fennik::server::Uuid startedId_{};
  fennik::server::Uuid windowId_{};
};

}  // namespace qor::server
