// `qorserver catalogue --json` must show exactly what the schema describes:
// it reads the generated classes at run time, so a generator fault (a wrong
// default literal, a lost flag, a missing reference) shows up here.

#include "ChildProcess.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <map>

namespace qor::testing {
namespace {

using nlohmann::ordered_json;

ordered_json readJson(const std::filesystem::path& path) {
  std::ifstream in(path);
  return ordered_json::parse(in);
}

class CatalogueCommandTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string out;
    ASSERT_EQ(runToCompletion({QORSERVER_PATH, "catalogue", "--json"}, out), 0) << out;
    dump = new ordered_json(ordered_json::parse(out));
  }
  static void TearDownTestSuite() { delete dump; }

  static std::map<int, ordered_json> schemaTypes() {
    std::map<int, ordered_json> byOrder;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(SCHEMA_DIR) / "entities")) {
      auto doc = readJson(entry.path());
      byOrder[doc["order"].get<int>()] = doc;
    }
    return byOrder;
  }

  static inline ordered_json* dump = nullptr;
};

TEST_F(CatalogueCommandTest, ListsEveryTypeInTypeOrderWithItsFieldsReferencesAndWireIds) {
  const auto schema = schemaTypes();
  const auto& types = (*dump)["types"];
  ASSERT_EQ(types.size(), 40u);
  ASSERT_EQ(schema.size(), 40u);
  std::size_t i = 0;
  for (const auto& [order, expected] : schema) {
    const auto& actual = types.at(i++);
    const std::string name = expected["name"];
    SCOPED_TRACE(name);
    EXPECT_EQ(actual["name"], name);
    EXPECT_EQ(actual["className"], "qor::server::" + name);
    ASSERT_EQ(actual["fields"].size(), expected["fields"].size());
    for (std::size_t f = 0; f < expected["fields"].size(); ++f) {
      const auto& e = expected["fields"][f];
      const auto& a = actual["fields"][f];
      SCOPED_TRACE(e["name"].get<std::string>());
      EXPECT_EQ(a["name"], e["name"]);
      EXPECT_EQ(a["type"], e["type"]);
      EXPECT_EQ(a["default"], e["default"]);
      EXPECT_EQ(a["default"].type(), e["default"].type()) << "a real default must stay a real number";
      EXPECT_EQ(a["flags"], e["flags"]);
    }
    EXPECT_EQ(actual["references"], expected["references"]);
    ASSERT_EQ(actual["wire"].size(), expected["wire"].size());
    for (std::size_t w = 0; w < expected["wire"].size(); ++w) {
      EXPECT_EQ(actual["wire"][w]["id"], expected["wire"][w]["id"]);
      EXPECT_EQ(actual["wire"][w]["name"], expected["wire"][w]["name"]);
    }
  }
}

TEST_F(CatalogueCommandTest, KnownCataloguePointsAreAsUsersSeeThem) {
  auto type = [&](const std::string& name) {
    for (const auto& t : (*dump)["types"]) {
      if (t["name"] == name) return t;
    }
    ADD_FAILURE() << name;
    return ordered_json();
  };
  auto field = [&](const std::string& typeName, const std::string& fieldName) {
    const auto t = type(typeName);
    for (const auto& f : t["fields"]) {
      if (f["name"] == fieldName) return f;
    }
    ADD_FAILURE() << typeName << "." << fieldName;
    return ordered_json();
  };
  EXPECT_EQ(field("FtDelay", "delayInMs"),
            ordered_json::parse(R"({"name":"delayInMs","type":"double","default":0.0,"flags":["I","T","C"]})"));
  EXPECT_EQ(field("FtAmplifierGain", "gainInDb")["default"], 32.0);
  EXPECT_EQ(field("FtOnline", "frontPanelLockPin")["type"], "uint");
  EXPECT_EQ(field("FtGPIO", "gpioModes")["type"], "list of qor::server::FtGPIOMode");
  EXPECT_EQ(field("Device", "driver")["default"], "00000000-0000-0000-0000-000000000000");
  EXPECT_EQ(field("FtSignalGenerator", "type")["default"], "PINK_NOISE");
  EXPECT_EQ(type("FtDelay")["wire"][17], ordered_json::parse(R"({"id":17,"name":"abPresetStatesAsJson"})"));
  EXPECT_EQ(type("VisualItemGroup")["wire"][1]["name"], "items");
}

TEST_F(CatalogueCommandTest, ListsEveryEnumerationWithItsValuesInNumberOrder) {
  const auto schema = readJson(std::filesystem::path(SCHEMA_DIR) / "enums.json")["enums"];
  const auto& enums = (*dump)["enums"];
  ASSERT_EQ(enums.size(), schema.size());
  for (std::size_t i = 0; i < schema.size(); ++i) {
    EXPECT_EQ(enums[i]["name"], schema[i]["name"]);
    EXPECT_EQ(nlohmann::json(enums[i]["values"]), nlohmann::json(schema[i]["values"]));
    int last = -1;
    for (const auto& [name, value] : enums[i]["values"].items()) {
      EXPECT_GT(value.get<int>(), last) << name;
      last = value.get<int>();
    }
  }
}

TEST_F(CatalogueCommandTest, WithoutJsonPrintsASummary) {
  std::string out;
  ASSERT_EQ(runToCompletion({QORSERVER_PATH, "catalogue"}, out), 0) << out;
  EXPECT_EQ(out.rfind("40 entity types, 26 enumerations\n", 0), 0u) << out;
  EXPECT_NE(out.find("  qor::server::FtDelay: 17 fields, 5 references, 18 wire fields\n"), std::string::npos) << out;
}

}  // namespace
}  // namespace qor::testing
