// FtDeviceState with one FtChannelState per channel: the flags the driver
// offers, their states, and which of them the device collects.

#include "custom/baseamp/BaseAmplifier.h"
#include "custom/basedevice/FeatureShapes.h"
#include "custom/basedevice/StateFlags.h"

#include "qor/server/entities/FtChannelState.h"
#include "qor/server/entities/FtDeviceState.h"
#include "qor/server/services/FtChannelStateService.h"
#include "qor/server/services/FtDeviceStateService.h"

namespace qor::server {

using fennik::devices::ChannelFlag;
using fennik::devices::DriverSignal;
using fennik::server::Uuid;

void BaseAmplifier::createFtDeviceState(Device* device) {
  auto states = service<FtDeviceStateService>();
  auto channels = service<FtChannelStateService>();
  Driver* d = device ? driver(device) : nullptr;
  if (!states || !channels || !d) return;
  FtDeviceState* state = createDeviceFeature(*states, device);
  states->setIsReactingOnRealAmpChannel(state, true, false);
  initDeviceState(states.get(), state, d);
  for (int ch = 0; ch < d->getChannelCount(); ++ch) {
    FtChannelState* channel =
        createChannelFeature(*channels, static_cast<FtChannelState*>(nullptr), ch, tryGetLabelByIndex(device, ch));
    initChannelState(channels.get(), channel, d);
    state->addChannelState(channel);
  }
  device->setDeviceState(state);
  connectFtDeviceState(device);
}

void BaseAmplifier::initDeviceState(FtDeviceStateService* states, FtDeviceState* state, Driver* d) {
  if (!states || !state || !d) return;
  initDeviceFlagLists(*states, *state, *d);
  states->setIsCollectedErrorHoldSupported(state, d->isCollectedErrorHoldSupported(), false);
  states->setIsCollectedErrorHold(state, d->getCollectedErrorHold(), false);
}

void BaseAmplifier::initChannelState(FtChannelStateService* channels, FtChannelState* state, Driver* d) {
  if (!channels || !state || !d) return;
  std::vector<std::string> names;
  std::vector<bool> collectSupported;
  for (ChannelFlag flag : availableChannelFlags(*d)) {
    names.emplace_back(stateFlagName(flag));
    collectSupported.push_back(d->isChannelFlagCollectSupported(flag));
  }
  const std::size_t n = names.size();
  channels->setFlagNames(state, names, false);
  channels->setFlagStates(state, std::vector<bool>(n, false), false);
  channels->setFlagStatesConsistent(state, std::vector<bool>(n, true), false);
  channels->setFlagCollectStates(state, std::vector<bool>(n, false), false);
  channels->setFlagCollectStatesConsistent(state, std::vector<bool>(n, true), false);
  channels->setFlagCollectSupported(state, collectSupported, false);
}

void BaseAmplifier::updateDeviceState(FtDeviceStateService* states, FtDeviceState* state, Driver* d) {
  if (!states || !state || !d) return;
  refreshDeviceFlagLists(*states, *state, *d);
  states->setIsCollectedErrorHold(state, d->getCollectedErrorHold(), true);
  auto channels = service<FtChannelStateService>();
  if (!channels) return;
  const auto channelFlags = availableChannelFlags(*d);
  for (FtChannelState* channel : state->channelStates()) {
    if (!channel) continue;
    std::vector<bool> flagStates;
    std::vector<bool> collects;
    for (ChannelFlag flag : channelFlags) {
      flagStates.push_back(d->getChannelFlagState(channel->getIndex(), flag));
      collects.push_back(d->getChannelFlagCollect(channel->getIndex(), flag));
    }
    channels->setFlagStates(channel, flagStates, true);
    channels->setFlagCollectStates(channel, collects, true);
  }
}

void BaseAmplifier::connectFtDeviceState(Device* device) {
  BaseDevice::connectFtDeviceState(device);
  Driver* d = device ? driver(device) : nullptr;
  FtDeviceState* state = device ? device->getDeviceState() : nullptr;
  if (!d || !state) return;
  auto states = service<FtDeviceStateService>();
  const Uuid deviceId = device->id();
  // As for the device's flags (see BaseDevice), the channels' flag lists
  // come from the model again after a reopen.
  auto channelStates = service<FtChannelStateService>();
  for (FtChannelState* channel : state->channelStates())
    if (channel && channel->getFlagNames().empty()) initChannelState(channelStates.get(), channel, d);
  updateDeviceState(states.get(), state, d);
  sendDeviceFlagCollect(device);
  for (FtChannelState* channel : state->channelStates()) {
    if (!channel) continue;
    const int ch = channel->getIndex();
    keep(device,
         channel->onFlagCollectStatesChanged([this, deviceId, ch](const std::vector<bool>& collect, bool external) {
           if (external) return;
           toDriver(deviceId, "setChannelFlagCollect", [&](Driver& drv) {
             const auto flags = availableChannelFlags(drv);
             for (std::size_t i = 0; i < flags.size() && i < collect.size(); ++i) {
               if (drv.isChannelFlagCollectSupported(flags[i]) && drv.getChannelFlagCollect(ch, flags[i]) != collect[i])
                 drv.setChannelFlagCollect(ch, flags[i], collect[i]);
             }
           });
         }));
  }
  reportInto<FtDeviceState>(device, state, DriverSignal::State, [this, states](FtDeviceState& e, Driver& drv) {
    updateDeviceState(states.get(), &e, &drv);
  });
}

}  // namespace qor::server
