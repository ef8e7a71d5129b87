#include "support/LargeProject.h"

#include "qor/server/entities/All.h"
#include "qor/server/services/DeviceService.h"
#include "qor/server/services/FtAmplifierDriveModeService.h"
#include "qor/server/services/FtAmplifierGainService.h"
#include "qor/server/services/FtAmplifierModeService.h"
#include "qor/server/services/FtAudioService.h"
#include "qor/server/services/FtChannelStateService.h"
#include "qor/server/services/FtConnectorService.h"
#include "qor/server/services/FtDelayService.h"
#include "qor/server/services/FtDeviceInfoService.h"
#include "qor/server/services/FtDeviceStateService.h"
#include "qor/server/services/FtEqFilterBankService.h"
#include "qor/server/services/FtEqFilterService.h"
#include "qor/server/services/FtFailoverConfigService.h"
#include "qor/server/services/FtGPIOService.h"
#include "qor/server/services/FtInputRoutingService.h"
#include "qor/server/services/FtInputSourceService.h"
#include "qor/server/services/FtLabelService.h"
#include "qor/server/services/FtLoadService.h"
#include "qor/server/services/FtNetworkService.h"
#include "qor/server/services/FtOnlineService.h"
#include "qor/server/services/FtPowerService.h"
#include "qor/server/services/FtPresetService.h"
#include "qor/server/services/FtSignalGeneratorService.h"
#include "qor/server/services/FtSpeakerModeService.h"
#include "qor/server/services/FtSpeakerSettingService.h"
#include "qor/server/services/FtSupermeterService.h"

#include "fennik/server/entity/Database.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/ServiceResolver.h"

#include <string>
#include <vector>

namespace qor::server::testing {

namespace {

class Builder {
 public:
  Builder(const std::shared_ptr<fennik::server::EntityContext>& context, const LargeProjectShape& shape)
      : context_(context), shape_(shape) {}

  template <class S>
  S& service() const {
    return *context_->services()->get<S>();
  }

  // A device-level feature, optionally with one owned child per channel.
  template <class S>
  auto* feature(bool perChannel, int deviceIndex) {
    auto& s = service<S>();
    auto* f = s.create();
    f->setSource(FtSource::DEVICE, false);
    f->setIndex(deviceIndex, false);
    if (perChannel) {
      for (int ch = 0; ch < shape_.channels; ++ch) s.addChild(f, channel<S>(ch), true);
    }
    return f;
  }

  template <class S>
  auto* channel(int ch) {
    auto* f = service<S>().create();
    f->setSource(FtSource::CHANNEL, false);
    f->setIndex(ch, false);
    return f;
  }

  // A group feature over the members' features of the same slot.
  template <class S, class F>
  F* group(const std::vector<F*>& members) {
    auto& s = service<S>();
    auto* g = s.create();
    g->setSource(FtSource::GROUP, false);
    g->setIsGroup(true, false);
    for (F* m : members) s.addChild(g, m, false);
    return g;
  }

  Device* amplifier(int n) {
    auto* d = service<DeviceService>().create();
    d->setImplementation(DeviceTypeImplementation::AMPLIFIER, false);
    d->setDeviceId("AMP-" + std::to_string(n), false);
    auto* label = feature<FtLabelService>(false, n);
    label->setName("Amplifier " + std::to_string(n), false);
    d->setLabel(label);
    auto* info = feature<FtDeviceInfoService>(false, n);
    info->setModel("QA-4", false);
    info->setName("Amplifier " + std::to_string(n), false);
    d->setDeviceInfo(info);
    d->setOnline(feature<FtOnlineService>(false, n));
    d->setPower(feature<FtPowerService>(false, n));
    d->setSignalGenerator(feature<FtSignalGeneratorService>(false, n));
    d->setPreset(feature<FtPresetService>(false, n));
    d->setAmplifierMode(feature<FtAmplifierModeService>(false, n));
    d->setAmplifierDriveMode(feature<FtAmplifierDriveModeService>(false, n));
    d->setInputSource(feature<FtInputSourceService>(false, n));
    d->setFailoverConfig(feature<FtFailoverConfigService>(false, n));
    d->setConnector(feature<FtConnectorService>(false, n));
    d->setNetwork(feature<FtNetworkService>(false, n));
    d->setGpio(feature<FtGPIOService>(false, n));
    d->setAudio(feature<FtAudioService>(true, n));
    d->setSupermeter(feature<FtSupermeterService>(true, n));
    d->setLoad(feature<FtLoadService>(true, n));
    d->setAmplifierGain(feature<FtAmplifierGainService>(true, n));
    d->setSpeakerMode(feature<FtSpeakerModeService>(true, n));
    d->setSpeakerSetting(feature<FtSpeakerSettingService>(true, n));
    auto* state = feature<FtDeviceStateService>(false, n);
    for (int ch = 0; ch < shape_.channels; ++ch) state->addChannelState(channel<FtChannelStateService>(ch));
    d->setDeviceState(state);
    for (int ch = 0; ch < shape_.channels; ++ch) {
      auto* delay = channel<FtDelayService>(ch);
      delay->setDelayInMs(0.5 * ch, false);
      d->addDelay(delay);
      d->addInputRouting(channel<FtInputRoutingService>(ch));
      auto* bank = channel<FtEqFilterBankService>(ch);
      for (int k = 0; k < shape_.filtersPerBank; ++k) bank->addFilter(channel<FtEqFilterService>(k));
      d->addEqFilterBank(bank);
    }
    return d;
  }

  // A group device over amplifiers, with group features for the single slots.
  void groupOf(const std::vector<Device*>& members, int n) {
    auto& devices = service<DeviceService>();
    auto* g = devices.create();
    g->setIsGroup(true, false);
    g->setDeviceId("GROUP-" + std::to_string(n), false);
    for (Device* m : members) devices.addChild(g, m, false);
    auto collect = [&](auto getter) {
      std::vector<std::remove_pointer_t<decltype((members.front()->*getter)())>*> out;
      for (Device* m : members) out.push_back((m->*getter)());
      return out;
    };
    g->setLabel(group<FtLabelService>(collect(&Device::getLabel)));
    g->setAudio(group<FtAudioService>(collect(&Device::getAudio)));
    g->setPower(group<FtPowerService>(collect(&Device::getPower)));
    g->setOnline(group<FtOnlineService>(collect(&Device::getOnline)));
    g->setLoad(group<FtLoadService>(collect(&Device::getLoad)));
    g->setSupermeter(group<FtSupermeterService>(collect(&Device::getSupermeter)));
    g->setAmplifierGain(group<FtAmplifierGainService>(collect(&Device::getAmplifierGain)));
    g->setDeviceState(group<FtDeviceStateService>(collect(&Device::getDeviceState)));
  }

  std::size_t build() {
    const std::size_t before = context_->db()->size();
    std::vector<Device*> pending;
    int groups = 0;
    for (int n = 0; n < shape_.amplifiers; ++n) {
      pending.push_back(amplifier(n));
      if (static_cast<int>(pending.size()) == shape_.amplifiersPerGroup) {
        groupOf(pending, groups++);
        pending.clear();
      }
    }
    if (!pending.empty()) groupOf(pending, groups);
    return context_->db()->size() - before;
  }

 private:
  std::shared_ptr<fennik::server::EntityContext> context_;
  LargeProjectShape shape_;
};

}  // namespace

std::size_t buildLargeProject(const std::shared_ptr<fennik::server::EntityContext>& context,
                              const LargeProjectShape& shape) {
  return Builder(context, shape).build();
}

}  // namespace qor::server::testing
