#include "service/DeviceService.h"

#include "custom/deviceplant/DevicePlant.h"

#include "service/ChannelKey.h"
#include "service/FeatureServices.h"
#include "service/GroupRecalc.h"
#include "service/GroupRules.h"
#include "service/GroupWalk.h"

#include "fennik/server/core/Logging.h"
#include "qor/server/entities/DeviceType.h"
#include "qor/server/services/VisualItemService.h"

#include <concepts>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>

namespace qor::server {

namespace {

using fennik::server::getLogger;
using fennik::server::MODULE_LOGGER;

constexpr const char* GROUP_NAME = "Group";

template <class E>
concept Labelled = requires(E* e) {
  { e->getLabel() } -> std::convertible_to<FtLabel*>;
};

// A single feature slot of a device: its getter and setter.
template <class E>
struct Slot {
  E* (Device::*get)() const;
  void (Device::*set)(E*);
};

// A feature list of a device.
template <class E>
struct ListSlot {
  fennik::server::ListView<E*> (Device::*get)() const;
  void (Device::*add)(E*);
  void (Device::*remove)(E*);
};

constexpr Slot<FtLabel> LABEL{&Device::getLabel, &Device::setLabel};
constexpr Slot<FtPower> POWER{&Device::getPower, &Device::setPower};
constexpr Slot<FtAudio> AUDIO{&Device::getAudio, &Device::setAudio};
constexpr Slot<FtOnline> ONLINE{&Device::getOnline, &Device::setOnline};
constexpr Slot<FtDeviceInfo> DEVICE_INFO{&Device::getDeviceInfo, &Device::setDeviceInfo};
constexpr Slot<FtDeviceState> DEVICE_STATE{&Device::getDeviceState, &Device::setDeviceState};
constexpr Slot<FtSignalGenerator> SIGNAL_GENERATOR{&Device::getSignalGenerator, &Device::setSignalGenerator};
constexpr Slot<FtPreset> PRESET{&Device::getPreset, &Device::setPreset};
constexpr Slot<FtSpeakerSetting> SPEAKER_SETTING{&Device::getSpeakerSetting, &Device::setSpeakerSetting};
constexpr Slot<FtAmplifierMode> AMPLIFIER_MODE{&Device::getAmplifierMode, &Device::setAmplifierMode};
constexpr Slot<FtAmplifierDriveMode> DRIVE_MODE{&Device::getAmplifierDriveMode, &Device::setAmplifierDriveMode};
constexpr Slot<FtAmplifierGain> GAIN{&Device::getAmplifierGain, &Device::setAmplifierGain};
constexpr Slot<FtConnector> CONNECTOR{&Device::getConnector, &Device::setConnector};
constexpr Slot<FtSupermeter> SUPERMETER{&Device::getSupermeter, &Device::setSupermeter};
constexpr Slot<FtSpeakerMode> SPEAKER_MODE{&Device::getSpeakerMode, &Device::setSpeakerMode};
constexpr Slot<FtInputSource> INPUT_SOURCE{&Device::getInputSource, &Device::setInputSource};
constexpr Slot<FtFailoverConfig> FAILOVER{&Device::getFailoverConfig, &Device::setFailoverConfig};
constexpr Slot<FtNetwork> NETWORK{&Device::getNetwork, &Device::setNetwork};
constexpr Slot<FtGPIO> GPIO{&Device::getGpio, &Device::setGpio};
constexpr Slot<FtLoad> LOAD{&Device::getLoad, &Device::setLoad};
constexpr Slot<FtPanel> PANEL{&Device::getPanel, &Device::setPanel};

constexpr ListSlot<FtInputRouting> ROUTINGS{&Device::inputRoutings, &Device::addInputRouting,
                                            &Device::removeInputRouting};
constexpr ListSlot<FtDelay> DELAYS{&Device::delays, &Device::addDelay, &Device::removeDelay};
constexpr ListSlot<FtEqFilterBank> BANKS{&Device::eqFilterBanks, &Device::addEqFilterBank, &Device::removeEqFilterBank};

// Calls fn(slot) for each slot, in the order given.
template <class Fn, class... E>
void forSlots(Fn&& fn, const Slot<E>&... slots) {
  (fn(slots), ...);
}

// The key under which a leaf feature joins a group: its label's short name,
// through the alias table. Leaves without a short-named label have none.
template <class E>
std::optional<std::string> keyOf(const E* feature) {
  if constexpr (Labelled<E>) {
    const FtLabel* label = feature->getLabel();
    if (label && !label->getShortName().empty()) return channelKey(label->getShortName());
  }
  return std::nullopt;
}

// The labels of a group's channels: one per channel key, owned by the group
// device's label. Every group feature of a channel points to it, and the
// members' channel labels join it, so renaming a group channel renames the
// members' channels.
class GroupLabels {
 public:
  GroupLabels(Device* group, FtLabelService& labels) : group_(group), labels_(labels) {}

  FtLabel* forKey(const std::string& key, FtLabel* memberLabel, std::int32_t index) {
    index_();
    FtLabel*& label = byKey_[key];
    if (!label) {
      label = make(memberLabel, index);
      const bool named = isChannelLabel(memberLabel) && !memberLabel->getShortName().empty();
      label->setShortName(named ? memberLabel->getShortName() : key, false);
    }
    join(label, memberLabel);
    return label;
  }

  // Makes a member's channel label a member of the group label. Device
  // labels (those with channel labels of their own) stay out: a group
  // channel's name is the channels' name, and renaming it must not rename
  // the member devices.
  void join(FtLabel* label, FtLabel* memberLabel) {
    if (!label || !isChannelLabel(memberLabel) || memberLabel == label) return;
    const auto& parents = memberLabel->parents();
    if (std::find(parents.begin(), parents.end(), label) == parents.end()) labels_.addChild(label, memberLabel, false);
  }

  // A label for a group channel that has no channel key.
  FtLabel* unkeyed(FtLabel* memberLabel, std::int32_t index) {
    FtLabel* label = make(memberLabel, index);
    join(label, memberLabel);
    return label;
  }

 private:
  FtLabel* deviceLabel() {
    FtLabel* label = group_->getLabel();
    if (!label) {
      label = labels_.create();
      label->setIsGroup(true, false);
      label->setSource(FtSource::GROUP, false);
      group_->setLabel(label);
    }
    return label;
  }

  void index_() {
    if (indexed_) return;
    indexed_ = true;
    for (FtLabel* channel : deviceLabel()->childrens()) {
      if (auto key = keyOf(channel)) byKey_[*key] = channel;
    }
  }

  static bool isChannelLabel(const FtLabel* label) { return label && label->childrens().empty(); }

  FtLabel* make(const FtLabel* memberLabel, std::int32_t index) {
    FtLabel* label = labels_.create();
    label->setIndex(index, false);
    if (isChannelLabel(memberLabel)) label->setName(memberLabel->getName(), false);
    label->setIsGroup(true, false);
    label->setSource(FtSource::GROUP_CHANNEL, false);
    labels_.addChild(deviceLabel(), label, true);
    return label;
  }

  Device* group_;
  FtLabelService& labels_;
  std::unordered_map<std::string, FtLabel*> byKey_;
  bool indexed_ = false;
};

// Joins the member feature's channels to the group feature's channels of the
// same key, making a group channel for a key the group does not have yet.
template <class S, class E>
void joinByKey(S& service, E* groupFeature, E* memberFeature, GroupLabels& labels) {
  if (!groupFeature || !memberFeature) return;
  if constexpr (Labelled<E>) {
    std::unordered_map<std::string, E*> channels;
    groupwalk::forEachOwnedLeaf(groupFeature, [&](E* leaf) {
      if (auto key = keyOf(leaf)) channels[*key] = leaf;
    });
    std::vector<std::pair<E*, std::string>> joining;
    groupwalk::forEachOwnedLeaf(memberFeature, [&](E* leaf) {
      if (auto key = keyOf(leaf)) joining.emplace_back(leaf, std::move(*key));
    });
    for (auto& [member, key] : joining) {
      E*& channel = channels[key];
      if (!channel) {
        channel = service.create();
        channel->setLabel(labels.forKey(key, member->getLabel(), member->getIndex()));
        service.setIndex(channel, member->getIndex(), false);
        service.setIsGroup(channel, true, false);
        service.setSource(channel, FtSource::GROUP_CHANNEL, false);
        service.addChild(groupFeature, channel, true);
      } else {
        labels.join(channel->getLabel(), member->getLabel());
      }
      service.addChild(channel, member, false);
    }
  }
}

// Destroys the feature's memberless children, then the feature itself when
// no child is left. True when the feature is gone.
template <class S, class E>
bool prune(S& service, E* feature) {
  if (!feature) return true;
  const std::vector<E*> children = feature->childrens();
  for (E* child : children) {
    if (child && child->childrenShareds().empty()) service.destroy(child);
  }
  if (!feature->childrens().empty()) return false;
  service.destroy(feature);
  return true;
}

// The first owned leaf of a feature with the given index.
template <class E>
E* leafWithIndex(E* feature, std::int32_t index) {
  E* found = nullptr;
  groupwalk::forEachOwnedLeaf(feature, [&](E* leaf) {
    if (!found && leaf->getIndex() == index) found = leaf;
  });
  return found;
}

// The owned child of a group feature with the given index.
template <class E>
E* childWithIndex(E* feature, std::int32_t index) {
  for (E* child : feature->childrens()) {
    if (child && child->getIndex() == index) return child;
  }
  return nullptr;
}

// Defers group recalculation in every service that grouping touches, for the
// lifetime of the guard: joining N members then costs one recalculation per
// group instead of one per member.
class DeferredRecalc {
 public:
  DeferredRecalc(DeviceService& devices, const fennik::server::ServiceResolver& r) {
    defer(devices);
    deferAll<FtLabel, FtPower, FtAudio, FtOnline, FtDeviceInfo, FtDeviceState, FtChannelState, FtSignalGenerator,
             FtPreset, FtSpeakerSetting, FtConnector, FtSupermeter, FtSpeakerMode, FtInputSource, FtFailoverConfig,
             FtNetwork, FtGPIO, FtLoad, FtInputRouting, FtDelay, FtEqFilterBank, FtEqFilter>(r);
  }
  ~DeferredRecalc() {
    for (auto it = ends_.rbegin(); it != ends_.rend(); ++it) (*it)();
  }
  DeferredRecalc(const DeferredRecalc&) = delete;
  DeferredRecalc& operator=(const DeferredRecalc&) = delete;

 private:
  template <class S>
  void defer(S& service) {
    service.beginDeferredRecalc();
    ends_.push_back([&service] { service.endDeferredRecalc(); });
  }
  template <class... E>
  void deferAll(const fennik::server::ServiceResolver& r) {
    (deferOne<E>(r), ...);
  }
  template <class E>
  void deferOne(const fennik::server::ServiceResolver& r) {
    auto service = serviceOf<E>(r);
    if (!service) return;
    service->beginDeferredRecalc();
    ends_.push_back([service] { service->endDeferredRecalc(); });
  }

  std::vector<std::function<void()>> ends_;
};

}  // namespace

Device* DeviceService::create(const fennik::server::Uuid& id) {
  auto device = createDefaultInitialized(id);
  device->setSpecialicationId(fennik::server::NIL_UUID_TEXT, false);
  Device* raw = device.get();
  db()->add(std::move(device));
  return raw;
}

bool DeviceService::isGroupingAllowed(const std::vector<Device*>& devices) const {
  std::set<DeviceTypeImplementation> implementations;
  for (const Device* d : devices) {
    if (d && d->getType()) implementations.insert(d->getType()->getImplementation());
  }
  return implementations.size() == 1;
}

Device* DeviceService::createGroup(const fennik::server::Uuid& id, const std::vector<Device*>& devices) {
  if (devices.empty() || !isGroupingAllowed(devices)) {
    getLogger(MODULE_LOGGER)
        ->info("Devices cannot be grouped; creating an empty group {}", fennik::server::UuidToS(id));
    Device* empty = create(id);
    setIsGroup(empty, true, false);
    setIsVisual(empty, false, false);
    return empty;
  }
  Device* group = create(id);
  setIsGroup(group, true, false);
  setIsVisual(group, true, false);
  group->setType(devices.front() ? devices.front()->getType() : nullptr);
  createAllFeatures(group);
  {
    DeferredRecalc batch(*this, *services());
    for (Device* member : devices) addGroupChild(group, member);
  }
  repairFilterEqPointRelationships(group);
  destroyFeaturesWhichDoNotAggregateAnything(group);
  // The name goes on the group's device info only: a group write would
  // spread it to the member devices, and grouping must not rename them.
  if (FtDeviceInfo* info = group->getDeviceInfo()) info->setName(GROUP_NAME, false);
  getLogger(MODULE_LOGGER)->debug("Created group {} over {} devices", fennik::server::UuidToS(id), devices.size());
  // The device plant completes the group (its device class, its driver); with
  // no plant registered the group stays as built here.
  auto plant = services()->get<DevicePlant>();
  return plant ? plant->createGroup(group, devices) : group;
}

void DeviceService::createAllFeatures(Device* group) {
  if (!group) return;
  const auto& resolver = *services();
  auto create = [&](const auto& slot) {
    using E = std::remove_pointer_t<decltype((group->*slot.get)())>;
    if (!(group->*slot.get)()) (group->*slot.set)(serviceOf<E>(resolver)->create());
  };
  forSlots(create, LABEL, POWER, AUDIO, ONLINE, DEVICE_INFO, DEVICE_STATE, SIGNAL_GENERATOR, PRESET, SPEAKER_SETTING,
           AMPLIFIER_MODE, CONNECTOR, SUPERMETER, SPEAKER_MODE, INPUT_SOURCE, FAILOVER, NETWORK, GPIO, LOAD);

  auto routings = serviceOf<FtInputRouting>(resolver);
  for (FtInputRoutingType type : {FtInputRoutingType::DEFAULT, FtInputRoutingType::FAILOVER}) {
    FtInputRouting* routing = routings->create();
    routings->setIsGroup(routing, true, false);
    routings->setRoutingType(routing, type, false);
    routings->setIndex(routing, -1, false);
    routings->setSource(routing, FtSource::GROUP, false);
    group->addInputRouting(routing);
  }
  auto delays = serviceOf<FtDelay>(resolver);
  auto banks = serviceOf<FtEqFilterBank>(resolver);
  for (FtChannelType type : {FtChannelType::USER, FtChannelType::ARRAY}) {
    FtDelay* delay = delays->create();
    delays->setIsGroup(delay, true, false);
    delays->setChannelType(delay, type, false);
    delays->setSource(delay, FtSource::GROUP, false);
    group->addDelay(delay);
    FtEqFilterBank* bank = banks->create();
    banks->setIsGroup(bank, true, false);
    banks->setChannelType(bank, type, false);
    banks->setSource(bank, FtSource::GROUP, false);
    group->addEqFilterBank(bank);
  }

  auto mark = [&](const auto& slot) {
    using E = std::remove_pointer_t<decltype((group->*slot.get)())>;
    if (E* feature = (group->*slot.get)()) serviceOf<E>(resolver)->setIsGroup(feature, true, false);
  };
  auto source = [&](const auto& slot) {
    using E = std::remove_pointer_t<decltype((group->*slot.get)())>;
    if (E* feature = (group->*slot.get)()) serviceOf<E>(resolver)->setSource(feature, FtSource::GROUP, false);
  };
  forSlots(mark, LABEL, POWER, AUDIO, ONLINE, DEVICE_INFO, DEVICE_STATE, SIGNAL_GENERATOR, PRESET, SPEAKER_SETTING,
           AMPLIFIER_MODE, CONNECTOR, SUPERMETER, SPEAKER_MODE, INPUT_SOURCE, FAILOVER, NETWORK, GPIO, LOAD);
  forSlots(source, LABEL, POWER, AUDIO, ONLINE, DEVICE_INFO, DEVICE_STATE, SIGNAL_GENERATOR, PRESET, SPEAKER_SETTING,
           AMPLIFIER_MODE, CONNECTOR, SUPERMETER, SPEAKER_MODE, INPUT_SOURCE, FAILOVER, NETWORK, GPIO, LOAD);
}

void DeviceService::addGroupChild(Device* group, Device* member) {
  if (!group || !member) return;
  addChild(group, member, false);
  addDeviceStateToGroup(group, member);

  const auto& resolver = *services();
  GroupLabels labels(group, *serviceOf<FtLabel>(resolver));
  auto join = [&](const auto& slot) {
    using E = std::remove_pointer_t<decltype((group->*slot.get)())>;
    joinByKey(*serviceOf<E>(resolver), (group->*slot.get)(), (member->*slot.get)(), labels);
  };
  forSlots(join, POWER, AUDIO, ONLINE, SIGNAL_GENERATOR, PRESET, SPEAKER_SETTING, INPUT_SOURCE, SUPERMETER,
           SPEAKER_MODE, NETWORK, CONNECTOR, FAILOVER, GPIO, LOAD, DEVICE_INFO);

  auto routings = serviceOf<FtInputRouting>(resolver);
  for (FtInputRouting* routing : group->inputRoutings()) {
    for (FtInputRouting* memberRouting : member->inputRoutings()) {
      if (memberRouting->getRoutingType() == routing->getRoutingType()) {
        joinByKey(*routings, routing, memberRouting, labels);
      }
    }
    routings->mergeLists(routing);
  }
  auto delays = serviceOf<FtDelay>(resolver);
  for (FtDelay* delay : group->delays()) {
    for (FtDelay* memberDelay : member->delays()) {
      if (memberDelay->getChannelType() == delay->getChannelType()) joinByKey(*delays, delay, memberDelay, labels);
    }
  }
  auto banks = serviceOf<FtEqFilterBank>(resolver);
  for (FtEqFilterBank* bank : group->eqFilterBanks()) {
    for (FtEqFilterBank* memberBank : member->eqFilterBanks()) {
      if (memberBank->getChannelType() == bank->getChannelType()) joinByKey(*banks, bank, memberBank, labels);
    }
  }
}

void DeviceService::addDeviceStateToGroup(Device* group, Device* member) {
  if (!group || !member || !member->getDeviceState()) return;
  const auto& resolver = *services();
  auto states = serviceOf<FtDeviceState>(resolver);
  auto channels = serviceOf<FtChannelState>(resolver);
  FtDeviceState* memberState = member->getDeviceState();
  FtDeviceState* groupState = group->getDeviceState();
  if (!groupState) {
    groupState = states->create();
    group->setDeviceState(groupState);
  }
  states->addChild(groupState, memberState, false);

  std::unordered_map<std::int32_t, FtChannelState*> byIndex;
  for (FtChannelState* c : groupState->channelStates()) {
    if (c) byIndex[c->getIndex()] = c;
  }
  GroupLabels labels(group, *serviceOf<FtLabel>(resolver));
  for (FtChannelState* memberChannel : memberState->channelStates()) {
    if (!memberChannel) continue;
    FtChannelState*& channel = byIndex[memberChannel->getIndex()];
    if (!channel) {
      channel = channels->create();
      channels->setIndex(channel, memberChannel->getIndex(), false);
      channels->setBridgeMode(channel, memberChannel->getBridgeMode(), false);
      FtLabel* memberLabel = memberChannel->getLabel();
      auto key = keyOf(memberChannel);
      channel->setLabel(key ? labels.forKey(*key, memberLabel, memberChannel->getIndex())
                            : labels.unkeyed(memberLabel, memberChannel->getIndex()));
      channels->setIsGroup(channel, true, false);
      channels->setSource(channel, FtSource::GROUP_CHANNEL, false);
      groupState->addChannelState(channel);
    }
    channels->addChild(channel, memberChannel, false);
  }
}

void DeviceService::repairFilterEqPointRelationships(Device* group) {
  if (!group) return;
  auto filters = serviceOf<FtEqFilter>(*services());
  for (FtEqFilterBank* bank : group->eqFilterBanks()) {
    for (FtEqFilterBank* memberBank : bank->childrens()) {
      for (FtEqFilter* groupFilter : bank->filters()) {
        for (FtEqFilter* memberFilter : memberBank->filters()) {
          if (memberFilter && memberFilter->getIndex() == groupFilter->getIndex()) {
            filters->addChild(groupFilter, memberFilter, true);
            break;
          }
        }
      }
    }
  }
}

void DeviceService::destroyFeaturesWhichDoNotAggregateAnything(Device* device) {
  if (!device || !device->getIsGroup()) return;
  const auto& resolver = *services();
  if (FtDeviceState* state = device->getDeviceState(); state && state->childrenShareds().empty()) {
    device->setDeviceState(nullptr);
    serviceOf<FtDeviceState>(resolver)->destroy(state);
  }
  auto pruneSlot = [&](const auto& slot) {
    using E = std::remove_pointer_t<decltype((device->*slot.get)())>;
    E* feature = (device->*slot.get)();
    if (!feature) return;
    // Clear the slot first: a destroyed feature must not stay referenced.
    (device->*slot.set)(nullptr);
    if (!prune(*serviceOf<E>(resolver), feature)) (device->*slot.set)(feature);
  };
  forSlots(pruneSlot, POWER, ONLINE, PRESET, AUDIO, SPEAKER_SETTING, SIGNAL_GENERATOR, CONNECTOR, SUPERMETER,
           SPEAKER_MODE, AMPLIFIER_MODE, NETWORK, GPIO, LOAD);
  auto pruneList = [&](const auto& list) {
    using E = std::remove_pointer_t<typename std::remove_cvref_t<decltype((device->*list.get)())>::value_type>;
    const std::vector<E*> features = (device->*list.get)();
    for (E* feature : features) {
      (device->*list.remove)(feature);
      if (!prune(*serviceOf<E>(resolver), feature)) (device->*list.add)(feature);
    }
  };
  pruneList(ROUTINGS);
  pruneList(DELAYS);
  pruneList(BANKS);
}

namespace {

// Recalculates every group at or below e through its owned children,
// members first; `extra` visits what an entity holds besides its children.
template <class S, class E, class Extra>
void recalcOwned(S& service, E* e, Extra&& extra) {
  if (!e) return;
  for (E* child : e->childrens()) recalcOwned(service, child, extra);
  extra(e);
  if (!e->childrenShareds().empty()) service.recalcGroup(e);
}

template <class S, class E>
void recalcOwned(S& service, E* e) {
  recalcOwned(service, e, [](E*) {});
}

}  // namespace

void recalcGroupFeatures(Device* group, const fennik::server::ServiceResolver& resolver) {
  if (!group || !group->getIsGroup()) return;
  auto single = [&](const auto& slot) {
    using E = std::remove_pointer_t<decltype((group->*slot.get)())>;
    if (E* feature = (group->*slot.get)()) recalcOwned(*serviceOf<E>(resolver), feature);
  };
  forSlots(single, LABEL, POWER, AUDIO, ONLINE, DEVICE_INFO, SIGNAL_GENERATOR, PRESET, SPEAKER_SETTING, AMPLIFIER_MODE,
           DRIVE_MODE, GAIN, CONNECTOR, SUPERMETER, SPEAKER_MODE, INPUT_SOURCE, FAILOVER, NETWORK, GPIO, LOAD);
  if (FtDeviceState* state = group->getDeviceState()) {
    auto channels = serviceOf<FtChannelState>(resolver);
    recalcOwned(*serviceOf<FtDeviceState>(resolver), state, [&](FtDeviceState* s) {
      for (FtChannelState* channel : s->channelStates()) recalcOwned(*channels, channel);
    });
  }
  auto routings = serviceOf<FtInputRouting>(resolver);
  for (FtInputRouting* routing : group->inputRoutings()) recalcOwned(*routings, routing);
  auto delays = serviceOf<FtDelay>(resolver);
  for (FtDelay* delay : group->delays()) recalcOwned(*delays, delay);
  auto banks = serviceOf<FtEqFilterBank>(resolver);
  auto filters = serviceOf<FtEqFilter>(resolver);
  for (FtEqFilterBank* bank : group->eqFilterBanks()) {
    recalcOwned(*banks, bank, [&](FtEqFilterBank* b) {
      for (FtEqFilter* filter : b->filters()) recalcOwned(*filters, filter);
    });
  }
}

void DeviceService::destroyAllFeatures(Device* device) {
  if (!device) return;
  const auto& resolver = *services();
  auto destroySlot = [&](const auto& slot) {
    using E = std::remove_pointer_t<decltype((device->*slot.get)())>;
    if (E* feature = (device->*slot.get)()) {
      (device->*slot.set)(nullptr);
      serviceOf<E>(resolver)->destroy(feature);
    }
  };
  auto destroyList = [&](const auto& list) {
    using E = std::remove_pointer_t<typename std::remove_cvref_t<decltype((device->*list.get)())>::value_type>;
    const std::vector<E*> features = (device->*list.get)();
    for (E* feature : features) {
      (device->*list.remove)(feature);
      serviceOf<E>(resolver)->destroy(feature);
    }
  };
  destroyList(ROUTINGS);
  destroyList(DELAYS);
  destroyList(BANKS);
  // The label goes last: the other features point to it until they are gone.
  forSlots(destroySlot, POWER, AUDIO, ONLINE, DEVICE_INFO, DEVICE_STATE, SIGNAL_GENERATOR, PRESET, SPEAKER_SETTING,
           AMPLIFIER_MODE, DRIVE_MODE, GAIN, CONNECTOR, SUPERMETER, SPEAKER_MODE, INPUT_SOURCE, FAILOVER, NETWORK, GPIO,
           LOAD, PANEL, LABEL);
}

void DeviceService::destroy(Device* device) {
  if (!device) return;
  // Only the groups that hold the device directly are rebuilt: a group that
  // holds it through another group aggregates that group's features, which
  // the rebuild keeps intact.
  const std::vector<Device*> groups = device->parents();
  if (VisualItem* item = device->getVisualItem()) {
    device->setVisualItem(nullptr);
    if (auto items = services()->get<VisualItemService>()) items->destroy(item);
  }
  destroyAllFeatures(device);
  unhook(device);
  const auto id = device->id();
  db()->deleteEntity(device);
  for (Device* group : groups) {
    if (group && group != device && group->getIsGroup()) revalidateGroup(group);
  }
  getLogger(MODULE_LOGGER)->debug("Destroyed device {}", fennik::server::UuidToS(id));
}

void DeviceService::revalidateGroup(Device* group) {
  if (!group || !group->getIsGroup()) return;
  const std::string name = group->getDeviceInfo() ? group->getDeviceInfo()->getName() : std::string();
  const std::vector<Device*> members = group->childrenShareds();
  for (Device* member : members) {
    if (!member) continue;
    group->removeChildren(member);
    group->removeChildrenShared(member);
    member->removeParent(group);
  }
  destroyAllFeatures(group);
  createAllFeatures(group);
  {
    DeferredRecalc batch(*this, *services());
    for (Device* member : members) addGroupChild(group, member);
  }
  repairFilterEqPointRelationships(group);
  destroyFeaturesWhichDoNotAggregateAnything(group);
  FtDeviceInfo* info = group->getDeviceInfo();
  if (!info) {
    info = serviceOf<FtDeviceInfo>(*services())->create();
    group->setDeviceInfo(info);
  }
  info->setName(name, false);
  // The device plant completes the rebuilt group as it did the new one.
  if (auto plant = services()->get<DevicePlant>()) plant->createGroup(group, members);
}

void DeviceService::destroyGroup(Device* group) {
  if (!group || !group->getIsGroup()) return;
  destroyAllFeatures(group);
  unhook(group);
  db()->deleteEntity(group);
}

void DeviceService::clearGroupFeatures(Device* group) {
  if (group && group->getIsGroup()) destroyAllFeatures(group);
}

namespace {

// Calls fn(groupFeature, memberFeature, service) for every per-channel feature
// kind a speaker group joins channel by channel.
template <class Fn>
void forSpeakerChannelKinds(const fennik::server::ServiceResolver& r, Device* group, Device* speaker, Fn&& fn) {
  auto single = [&](const auto& slot) {
    using E = std::remove_pointer_t<decltype((group->*slot.get)())>;
    E* groupFeature = (group->*slot.get)();
    E* memberFeature = (speaker->*slot.get)();
    if (groupFeature && memberFeature) fn(*serviceOf<E>(r), groupFeature, memberFeature);
  };
  forSlots(single, AUDIO, SUPERMETER, SPEAKER_SETTING, CONNECTOR, LOAD, SIGNAL_GENERATOR);
  auto byType = [&](const auto& list) {
    for (auto* groupFeature : (group->*list.get)()) {
      for (auto* memberFeature : (speaker->*list.get)()) {
        if (memberFeature->getChannelType() == groupFeature->getChannelType()) {
          fn(*serviceOf<std::remove_pointer_t<decltype(groupFeature)>>(r), groupFeature, memberFeature);
        }
      }
    }
  };
  byType(DELAYS);
  byType(BANKS);
}

}  // namespace

void DeviceService::addSpeakerGroupChild(Device* group, Device* speaker, int memberChannel, int groupChannel) {
  if (!group || !speaker || group == speaker) return;
  const auto& members = group->childrenShareds();
  if (std::find(members.begin(), members.end(), speaker) == members.end()) addChild(group, speaker, false);
  const auto& resolver = *services();
  GroupLabels labels(group, *serviceOf<FtLabel>(resolver));
  forSpeakerChannelKinds(resolver, group, speaker, [&](auto& service, auto* groupFeature, auto* memberFeature) {
    auto* leaf = leafWithIndex(memberFeature, memberChannel);
    if (!leaf) return;
    auto* channel = childWithIndex(groupFeature, groupChannel);
    if (!channel) {
      channel = service.create();
      if constexpr (Labelled<std::remove_pointer_t<decltype(leaf)>>) {
        channel->setLabel(labels.forKey(std::to_string(groupChannel + 1), leaf->getLabel(), groupChannel));
      }
      service.setIndex(channel, groupChannel, false);
      service.setIsGroup(channel, true, false);
      service.setSource(channel, FtSource::GROUP_CHANNEL, false);
      service.addChild(groupFeature, channel, true);
    }
    service.addChild(channel, leaf, false);
  });
}

void DeviceService::removeSpeakerGroupChild(Device* group, Device* speaker, int memberChannel, int groupChannel) {
  if (!group || !speaker) return;
  bool stillJoined = false;
  forSpeakerChannelKinds(*services(), group, speaker, [&](auto& service, auto* groupFeature, auto* memberFeature) {
    auto* leaf = leafWithIndex(memberFeature, memberChannel);
    auto* channel = childWithIndex(groupFeature, groupChannel);
    if (leaf && channel) service.removeChild(channel, leaf);
    for (auto* c : groupFeature->childrens()) {
      groupwalk::forEachOwnedLeaf(memberFeature, [&](auto* l) {
        const auto& parents = l->parents();
        stillJoined = stillJoined || std::find(parents.begin(), parents.end(), c) != parents.end();
      });
    }
  });
  // The speaker leaves the group with its last joined channel.
  if (!stillJoined) removeChild(group, speaker);
}

void DeviceService::doRecalc(Device* group) {
  if (group && !group->childrenShareds().empty()) {
    rules::allOf(group, &Device::IsDeviceSettingSupportedGetter, &Device::IsDeviceSettingSupportedExternalSetter);
  }
}

}  // namespace qor::server
