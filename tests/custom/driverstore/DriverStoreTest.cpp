// Drivers kept per device in a sub-container of the project: what is saved
// is read back in order, a save leaves nothing of devices gone since, and a
// damaged sub-container is refused naming the entry and the fault.

#include "custom/driverstore/DriverStore.h"

#include "fennik/server/project/FileContainer.h"
#include "fennik/server/project/HostInterface.h"

#include <gtest/gtest.h>
#include <simdjson.h>

#include <functional>
#include <string>
#include <vector>

namespace qor::server {
namespace {

using fennik::server::FileContainer;
using fennik::server::HostInterface;
using fennik::server::Json;
using fennik::server::Uuid;
using fennik::server::UuidFromS;

const Uuid A = UuidFromS("0a6f2c1e-93b4-4f5e-8d21-5c7a9e0b1d23");
const Uuid B = UuidFromS("b1e2d3c4-a5f6-4789-9abc-def012345678");

class DriverStoreTest : public ::testing::Test {
 protected:
  DriverStoreTest() : folder(HostInterface::createTemporaryFolder("qortest")), project(folder) {}
  ~DriverStoreTest() override { HostInterface::removeFolder(folder); }

  std::filesystem::path folder;
  FileContainer project;
  DriverStore store{"Drivers"};
};

TEST_F(DriverStoreTest, SavedDriversComeBackAndRemovedOnesAreGone) {
  EXPECT_TRUE(store.load(project).empty());
  store.save(project, {{B, Json{{"gain", 26.5}}}, {A, Json{{"name", "Stage Left"}}}});
  EXPECT_TRUE(project.has("Drivers/driverIds"));
  EXPECT_TRUE(project.has("Drivers/b1e2d3c4-a5f6-4789-9abc-def012345678"));

  auto entries = store.load(project);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].first, B);
  EXPECT_EQ(entries[0].second["gain"], 26.5);
  EXPECT_EQ(entries[1].first, A);
  EXPECT_EQ(entries[1].second["name"], "Stage Left");

  // B was removed from the project: the next save forgets it.
  store.save(project, {{A, Json{{"name", "Stage Right"}}}});
  EXPECT_FALSE(project.has("Drivers/b1e2d3c4-a5f6-4789-9abc-def012345678"));
  entries = store.load(project);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].second["name"], "Stage Right");
  store.save(project, {});
  EXPECT_FALSE(project.exists("Drivers"));

  // A text that is no UTF-8 never makes a save fail.
  store.save(project, {{A, Json{{"name", std::string("Amp \xff")}}}});
  EXPECT_EQ(store.load(project).size(), 1u);
}

TEST_F(DriverStoreTest, ADamagedSubContainerIsRefusedNamingTheEntry) {
  const std::string a = "0a6f2c1e-93b4-4f5e-8d21-5c7a9e0b1d23";
  struct Case {
    std::string expect;
    std::function<void(FileContainer&)> damage;
  };
  const std::vector<Case> cases = {
      {"'Drivers/driverIds' is damaged: the list of devices is missing",
       [](FileContainer& c) { c.unset("Drivers/driverIds"); }},
      {"'Drivers/driverIds' is damaged: it is no JSON",
       [](FileContainer& c) { c.set("Drivers/driverIds", "[\"0a6f"); }},
      {"'Drivers/driverIds' is damaged: it must be a list of device ids, but is object",
       [](FileContainer& c) { c.set("Drivers/driverIds", "{}"); }},
      {"'Drivers/driverIds' is damaged: item 0 (\"../entities.json\") is no device id",
       [](FileContainer& c) { c.set("Drivers/driverIds", "[\"../entities.json\"]"); }},
      {"'Drivers/driverIds' is damaged: item 0 (\"0A6F2C1E-93B4-4F5E-8D21-5C7A9E0B1D23\") is no device id",
       [](FileContainer& c) { c.set("Drivers/driverIds", "[\"0A6F2C1E-93B4-4F5E-8D21-5C7A9E0B1D23\"]"); }},
      {"'Drivers/driverIds' is damaged: the device " + a + " is listed twice",
       [a](FileContainer& c) { c.set("Drivers/driverIds", "[\"" + a + "\",\"" + a + "\"]"); }},
      {"'Drivers/" + a + "' is damaged: it is listed in driverIds but missing",
       [a](FileContainer& c) { c.unset("Drivers/" + a); }},
      {"'Drivers/" + a + "' is damaged: it is no JSON", [a](FileContainer& c) { c.set("Drivers/" + a, "{\"gain\":"); }},
      {"'Drivers/" + a + "' is damaged: it is larger than 1024 bytes",
       [a](FileContainer& c) { c.set("Drivers/" + a, "\"" + std::string(2000, 'x') + "\""); }},
      {"'Drivers/" + a + "' is damaged: gain: too loud",
       [a](FileContainer& c) { c.set("Drivers/" + a, "{\"gain\": 99}"); }},
  };
  const DriverStore small("Drivers", {10, 1024});
  const DriverStore::Verify verify = [](const Uuid&, const Json& doc) {
    if (doc.contains("gain") && doc["gain"].get<double>() > 44.0) throw std::runtime_error("gain: too loud");
  };
  // Reading in place refuses in words of its own; the message is still the
  // tree's, since a refused entry is read again as a tree.
  int readInPlace = 0;
  const DriverStore::ReadInPlace inPlace = [&](const Uuid&, const simdjson::dom::element& doc) {
    double gain = 0.0;
    if (!doc["gain"].get(gain) && gain > 44.0) throw std::runtime_error("other words");
    ++readInPlace;
  };
  for (const auto& c : cases) {
    for (const bool tree : {true, false}) {
      small.save(project, {{A, Json{{"gain", 26.5}}}, {B, Json{{"gain", 30.0}}}});
      c.damage(project);
      try {
        if (tree) {
          small.load(project, verify);
        } else {
          small.read(project, inPlace, verify);
        }
        ADD_FAILURE() << "accepted, expected: " << c.expect;
      } catch (const DriverStoreError& e) {
        EXPECT_NE(std::string(e.what()).find(c.expect), std::string::npos) << e.what() << "\nexpected: " << c.expect;
      }
    }
  }
  // Undamaged, both entries are read in place.
  small.save(project, {{A, Json{{"gain", 26.5}}}, {B, Json{{"gain", 30.0}}}});
  readInPlace = 0;
  small.read(project, inPlace, verify);
  EXPECT_EQ(readInPlace, 2);
  // More devices than the store takes.
  std::string many = "[";
  for (int i = 0; i < 11; ++i)
    many += std::string(i ? "," : "") + "\"" + fennik::server::UuidToS(fennik::server::random_uuid()) + "\"";
  EXPECT_THROW(small.parseIds(many + "]"), DriverStoreError);
}

// A show's devices are read on two threads; the entries still come back in
// list order, and of several faults the first in the list is named.
TEST_F(DriverStoreTest, ManyEntriesComeBackInOrderAndTheFirstFaultIsNamed) {
  // A show's worth of entries is read a batch at a time: enough for several.
  std::vector<DriverStore::Entry> entries;
  for (int i = 0; i < 150; ++i) entries.emplace_back(fennik::server::random_uuid(), Json{{"gain", i}});
  const DriverStore store("Drivers");
  store.save(project, entries);
  const auto back = store.load(project);
  ASSERT_EQ(back.size(), entries.size());
  for (std::size_t i = 0; i < back.size(); ++i) {
    EXPECT_EQ(back[i].first, entries[i].first);
    EXPECT_EQ(back[i].second["gain"], static_cast<int>(i));
  }
  std::vector<std::pair<Uuid, std::int64_t>> inPlace;
  store.read(
      project,
      [&](const Uuid& id, const simdjson::dom::element& doc) { inPlace.emplace_back(id, doc["gain"].get_int64()); },
      {});
  ASSERT_EQ(inPlace.size(), entries.size());
  for (std::size_t i = 0; i < inPlace.size(); ++i) {
    EXPECT_EQ(inPlace[i].first, entries[i].first);
    EXPECT_EQ(inPlace[i].second, static_cast<std::int64_t>(i));
  }

  const auto name = [&](std::size_t i) { return "Drivers/" + fennik::server::UuidToS(entries[i].first); };
  project.unset(name(130));
  project.set(name(140), "{\"gain\":");
  const DriverStore::Verify verify = [&](const Uuid& id, const Json&) {
    if (id == entries[70].first) throw std::runtime_error("refused");
  };
  const auto fault = [&](const std::function<void()>& reading) {
    try {
      reading();
    } catch (const DriverStoreError& e) {
      return std::string(e.what());
    }
    return std::string("loaded");
  };
  // The tree reading verifies every entry; the in-place one those it refuses.
  const auto refuse = [](const Uuid&, const simdjson::dom::element&) { throw std::runtime_error("not in place"); };
  for (const auto& reading : {std::function<void()>([&] { store.load(project, verify); }),
                              std::function<void()>([&] { store.read(project, refuse, verify); })})
    EXPECT_NE(fault(reading).find("'" + name(70) + "' is damaged: refused"), std::string::npos) << fault(reading);
  for (const auto& reading : {std::function<void()>([&] { store.load(project); }),
                              std::function<void()>([&] { store.read(project, refuse, {}); })})
    EXPECT_NE(fault(reading).find("'" + name(130) + "' is damaged: it is listed in driverIds but missing"),
              std::string::npos)
        << fault(reading);
}

}  // namespace
}  // namespace qor::server
