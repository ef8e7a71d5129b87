// The device plant's registry and how it dispatches to factories.

#include "DeviceFixture.h"
#include "custom/deviceplant/DevicePlant.h"
#include "custom/deviceplant/MatrixService.h"

#include "fennik/server/project/FileContainer.h"
#include "fennik/server/project/HostInterface.h"

#include <gtest/gtest.h>

namespace qor::server::testing {
namespace {

using fennik::server::Uuid;

// A factory that only records what it is asked.
class RecordingFactory : public DeviceFactory {
 public:
  explicit RecordingFactory(DeviceDescriptor d) : descriptor_(std::move(d)) {}
  Device* create(DeviceType*, const Uuid&) override {
    ++creates;
    return nullptr;
  }
  std::unique_ptr<fennik::devices::FennikDevice> createDriver(DeviceType*) override {
    ++drivers;
    return nullptr;
  }
  void connect(Device* device) override { connected.push_back(device); }
  Device* duplicate(const Uuid&) override {
    ++duplicates;
    return nullptr;
  }
  Device* createGroup(Device* group, const std::vector<Device*>&) override {
    ++groups;
    return group;
  }
  void destroy(const Uuid& id) override { destroyed.push_back(id); }
  const DeviceDescriptor& descriptor() const override { return descriptor_; }
  void releaseAll() override {}

  int creates = 0, drivers = 0, duplicates = 0, groups = 0;
  std::vector<Device*> connected;
  std::vector<Uuid> destroyed;

 private:
  DeviceDescriptor descriptor_;
};

class DevicePlantTest : public DeviceFixture {};

TEST_F(DevicePlantTest, RegistryIgnoresNullAndReplacesByTypeInByteOrder) {
  DevicePlant plant(context_->db(), context_->loop(), context_->services());
  const Uuid high = fennik::server::UuidFromS("ff000000-0000-0000-0000-000000000000");
  const Uuid low = fennik::server::UuidFromS("01000000-0000-0000-0000-000000000000");
  RecordingFactory first({high, "v", "m1", "l", 1}), second({high, "v", "m2", "l", 1}), third({low, "v", "m3", "l", 1});
  plant.registerFactory(high, nullptr);
  EXPECT_TRUE(plant.getRegisteredFactories().empty());
  plant.registerFactory(high, &first);
  plant.registerFactory(high, &second);
  plant.registerFactory(low, &third);
  EXPECT_EQ(plant.getRegisteredFactories(), (std::vector<DeviceFactory*>{&third, &second}));
  DevicePlant copy(plant);
  EXPECT_EQ(copy.getRegisteredFactories().size(), 2u);
  EXPECT_EQ(plant.serviceName(), "fennik::server::DevicePlant");
}

TEST_F(DevicePlantTest, LoadEnsuresTypesWithoutTouchingExistingOnes) {
  LogCapture log;
  DevicePlant plant(context_->db(), context_->loop(), context_->services());
  auto id = [](int n) { return fennik::server::UuidFromS("00000000-0000-0000-0000-00000000000" + std::to_string(n)); };
  RecordingFactory matrix({id(1), "V", "M", "Matrix", 0}), amp({id(2), "V", "A", "Amp", 1}),
      speaker({id(3), "V", "S", "Speaker", 2}), odd({id(4), "V", "X", "Odd", 5}), kept({id(5), "V", "new", "new", 0}),
      clash({id(6), "V", "C", "Clash", 1});
  for (auto* f : {&matrix, &amp, &speaker, &odd, &kept, &clash}) plant.registerFactory(f->descriptor().id, f);
  auto stored = DeviceType::createDefaultInitialized(id(5));
  stored->setModel("stored", false);
  stored->setLabel("stored label", false);
  stored->setVendor("stored vendor", false);
  stored->setImplementation(DeviceTypeImplementation::PANEL, false);
  db().add(stored);
  // An entity of another kind under a factory's id stays as it is.
  auto label = FtLabel::createDefaultInitialized(id(6));
  label->setName("not a type", false);
  db().add(label);
  const auto before = db().countOfClass(DeviceType::CLASS_NAME);

  EXPECT_TRUE(plant.ensureDeviceTypes());
  EXPECT_EQ(db().countOfClass(DeviceType::CLASS_NAME), before + 4);
  EXPECT_EQ(db().get<DeviceType>(id(1))->getImplementation(), DeviceTypeImplementation::MATRIX);
  EXPECT_EQ(db().get<DeviceType>(id(2))->getImplementation(), DeviceTypeImplementation::AMPLIFIER);
  EXPECT_EQ(db().get<DeviceType>(id(3))->getImplementation(), DeviceTypeImplementation::SPEAKER);
  EXPECT_EQ(db().get<DeviceType>(id(2))->getLabel(), "Amp");
  EXPECT_EQ(db().get<DeviceType>(id(2))->getVendor(), "V");
  ASSERT_TRUE(db().get<DeviceType>(id(4)));
  EXPECT_EQ(db().get<DeviceType>(id(4))->getImplementation(), DeviceType::getImplementationDefaultValue());
  EXPECT_EQ(log.count("Unknown DeviceTypeImplementation is used"), 1);
  EXPECT_EQ(db().get<DeviceType>(id(5))->getModel(), "stored");
  EXPECT_EQ(db().get<DeviceType>(id(5))->getLabel(), "stored label");
  EXPECT_EQ(db().get<DeviceType>(id(5))->getVendor(), "stored vendor");
  EXPECT_EQ(db().get<DeviceType>(id(5))->getImplementation(), DeviceTypeImplementation::PANEL);
  EXPECT_EQ(db().get<FtLabel>(id(6))->getName(), "not a type");
  EXPECT_EQ(log.count("is not added: its id is taken by another entity"), 1);

  // Running it again adds nothing.
  plant.ensureDeviceTypes();
  EXPECT_EQ(db().countOfClass(DeviceType::CLASS_NAME), before + 4);
}

TEST_F(DevicePlantTest, DispatchNeedsADeviceWithATypeThatHasAFactory) {
  DevicePlant plant(context_->db(), context_->loop(), context_->services());
  const Uuid typeId = fennik::server::random_uuid();
  RecordingFactory factory({typeId, "V", "A", "Amp", 1});
  plant.registerFactory(typeId, &factory);
  auto registered = DeviceType::createDefaultInitialized(typeId);
  auto unregistered = DeviceType::createDefaultInitialized(fennik::server::random_uuid());
  db().add(registered);
  db().add(unregistered);
  auto makeDevice = [&](DeviceType* type) {
    Device* d = service<DeviceService>()->create();
    if (type) d->setType(type);
    return d;
  };
  Device* typed = makeDevice(registered.get());
  Device* foreign = makeDevice(unregistered.get());
  Device* untyped = makeDevice(nullptr);

  EXPECT_EQ(plant.create(nullptr, fennik::server::random_uuid()), nullptr);
  EXPECT_EQ(plant.create(unregistered.get(), fennik::server::random_uuid()), nullptr);
  EXPECT_FALSE(plant.createDriver(nullptr));
  plant.create(registered.get(), fennik::server::random_uuid());
  plant.createDriver(registered.get());
  EXPECT_EQ(factory.creates, 1);
  EXPECT_EQ(factory.drivers, 1);

  for (Device* d : {static_cast<Device*>(nullptr), foreign, untyped, typed}) {
    plant.reconnect(d);
    plant.duplicate(d);
    plant.destroy(d);
  }
  EXPECT_EQ(factory.connected, std::vector<Device*>{typed});
  EXPECT_EQ(factory.duplicates, 1);
  EXPECT_EQ(factory.destroyed, std::vector<Uuid>{typed->id()});

  EXPECT_EQ(plant.createGroup(nullptr, {}), nullptr);
  EXPECT_EQ(plant.createGroup(untyped, {typed}), untyped);
  EXPECT_EQ(plant.createGroup(foreign, {typed}), foreign);
  EXPECT_EQ(plant.createGroup(typed, {}), typed);
  EXPECT_EQ(factory.groups, 1);

  // After a load only devices whose type has a factory are connected.
  factory.connected.clear();
  plant.loaded();
  EXPECT_EQ(factory.connected, std::vector<Device*>{typed});
}

TEST_F(DevicePlantTest, LoadedRewiresEveryDeviceOnceAndReadsItsDriver) {
  Device* amp = createDevice(devicetypes::QA8_TYPE_ID);
  Device* matrix = service<MatrixService>()->create(type(devicetypes::QM16_TYPE_ID));
  Device* foreign = service<DeviceService>()->create();
  ASSERT_TRUE(amp && matrix && foreign);
  const auto ampWired = qa8_->connectionCount(amp->id());
  const auto matrixWired = qm16_->connectionCount(matrix->id());
  // As after a project load: features without connections, and a driver
  // that holds other values than the features.
  qa8_->disconnectAllDriverSignals(amp);
  qm16_->disconnectAllDriverSignals(matrix);
  qa8_->driver(amp)->setGain(3, 33.0);
  EXPECT_NE(amp->getAmplifierGain()->childrens()[3]->getGainInDb(), 33.0);

  plant_->loaded();
  EXPECT_EQ(qa8_->connectionCount(amp->id()), ampWired);
  EXPECT_EQ(qm16_->connectionCount(matrix->id()), matrixWired);
  EXPECT_DOUBLE_EQ(amp->getAmplifierGain()->childrens()[3]->getGainInDb(), 33.0);
  // Loaded once more, nothing is wired twice.
  plant_->loaded();
  EXPECT_EQ(qa8_->connectionCount(amp->id()), ampWired);
  const auto writes = network_->writesReceived();
  service<FtAmplifierGainService>()->setGainInDb(amp->getAmplifierGain()->childrens()[3], 30.0, false);
  EXPECT_EQ(network_->writesReceived(), writes + 1);

  // Closed for an open that fails, then put back: its devices connect
  // again, and a write still reaches the driver once.
  qa8_->unload();
  EXPECT_EQ(qa8_->connectionCount(amp->id()), 0u);
  plant_->loaded();
  qa8_->loadedFinished();
  EXPECT_EQ(qa8_->connectionCount(amp->id()), ampWired);
  service<FtAmplifierGainService>()->setGainInDb(amp->getAmplifierGain()->childrens()[3], 31.0, false);
  EXPECT_EQ(network_->writesReceived(), writes + 2);

  // Closed for good: once the next project has loaded, the closed one's
  // connections are undone in the background.
  qa8_->unload();
  qa8_->loadedFinished();
  context_->loop()->runUntilIdle();
  service<FtAmplifierGainService>()->setGainInDb(amp->getAmplifierGain()->childrens()[3], 32.0, false);
  EXPECT_EQ(network_->writesReceived(), writes + 2);
}

TEST_F(DevicePlantTest, AClosedProjectPutBackGetsWhatItsDriversHeldWhenItClosed) {
  Device* amp = createDevice(devicetypes::QA8_TYPE_ID);
  ASSERT_TRUE(amp);
  const auto folder = fennik::server::HostInterface::createTemporaryFolder("qorplant");
  fennik::server::FileContainer project(folder);
  plant_->load(project);
  plant_->loaded();
  qa8_->driver(amp)->setGain(3, 33.0);  // since the last save
  // Closed for an open that fails, then put back.
  plant_->unload();
  plant_->load(project);
  const auto* kept = plant_->storedDriverSettings(amp->id());
  ASSERT_NE(kept, nullptr);
  ASSERT_GT(kept->channels.size(), 3u);
  EXPECT_EQ(kept->channels[3].gain, 33.0);
  // Closed for good once another project has loaded: nothing is kept.
  plant_->loaded();
  plant_->unload();
  plant_->loadedFinished();
  plant_->load(project);
  EXPECT_EQ(plant_->storedDriverSettings(amp->id()), nullptr);
  fennik::server::HostInterface::removeFolder(folder);
}

TEST_F(DevicePlantTest, MatrixServiceCreatesAndDuplicatesThroughThePlant) {
  auto matrices = service<MatrixService>();
  EXPECT_EQ(matrices->create(nullptr), nullptr);
  Device* matrix = matrices->create(type(devicetypes::QM16_TYPE_ID));
  ASSERT_TRUE(matrix);
  EXPECT_EQ(matrix->getType()->getModel(), "QM-16");

  // A copy joins the group the original's visual item sits in.
  auto items = service<VisualItemService>();
  VisualItem* group = items->create();
  group->addChildren(matrix->getVisualItem());
  matrix->getVisualItem()->setParent(group);
  Device* copy = matrices->duplicate(matrix);
  ASSERT_TRUE(copy);
  EXPECT_NE(copy->id(), matrix->id());
  EXPECT_EQ(copy->getVisualItem()->getParent(), group);
  EXPECT_EQ(group->childrens().size(), 2u);

  Device* bare = service<DeviceService>()->create();
  EXPECT_EQ(matrices->duplicate(bare), nullptr);
  EXPECT_EQ(matrices->duplicate(nullptr), nullptr);
}

}  // namespace
}  // namespace qor::server::testing
