// The JSON form of every entity type: what a project file holds and what
// comes back from it. The round trip runs over every type the catalogue
// lists, with a value for every field that differs from its default.

#include "support/AwkwardValues.h"

#include "qor/server/entities/All.h"
#include "qor/server/entities/EntityTypes.h"
#include "qor/server/serializers/JsonSerializers.h"

#include "fennik/server/core/Uuid.h"

#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <set>
#include <string>

namespace qor::server {
namespace {

using fennik::server::Json;
using testing::awkwardValue;
using testing::catalogue;
using testing::otherValue;
using testing::randomId;
using testing::typeEntry;

// The text write appends is exactly the dump of the object serialize builds,
// with and without runtime fields, after whatever the text already held.
template <class T>
void expectWriteMatchesSerialize(const JsonSerializerOf<T>& serializer, const fennik::server::Entity& entity) {
  for (const bool runtime : {false, true}) {
    Json object;
    serializer.serialize(&entity, object, runtime);
    std::string text = "[0,";
    serializer.write(&entity, text, runtime);
    EXPECT_EQ(text, "[0," + object.dump()) << (runtime ? "with" : "without") << " runtime fields";
  }
}

template <class T>
void checkWriteWithAwkwardValues() {
  SCOPED_TRACE(std::string(T::CLASS_NAME));
  const JsonSerializerOf<T> serializer;
  const auto& entry = typeEntry(T::TYPE_NAME);
  for (std::size_t round = 0; round < 4; ++round) {
    Json input = Json::object();
    input["id"] = randomId();
    std::size_t variant = round;
    for (const auto& f : entry["fields"])
      input[f["name"].template get<std::string>()] = awkwardValue(f["type"], variant++);
    for (const auto& r : entry["references"]) {
      input[r["name"].template get<std::string>()] =
          r["many"].template get<bool>() ? awkwardValue("list of uuid", variant++) : awkwardValue("uuid", variant++);
    }
    auto entity = serializer.deserialize(input, false);
    expectWriteMatchesSerialize<T>(serializer, *entity);
  }
}

template <class T>
void checkRoundTrip() {
  SCOPED_TRACE(std::string(T::CLASS_NAME));
  const JsonSerializerOf<T> serializer;
  EXPECT_EQ(serializer.entityClassName(), T::CLASS_NAME);
  const auto& entry = typeEntry(T::TYPE_NAME);

  Json input = Json::object();
  input["id"] = randomId();
  for (const auto& f : entry["fields"]) {
    input[f["name"].template get<std::string>()] = otherValue(f["type"], f["default"]);
  }
  for (const auto& r : entry["references"]) {
    input[r["name"].template get<std::string>()] =
        r["many"].template get<bool>() ? Json::array({randomId(), randomId()}) : Json(randomId());
  }

  auto entity = serializer.deserialize(input, false);
  ASSERT_TRUE(entity);
  EXPECT_EQ(entity->strId(), input["id"]);
  expectWriteMatchesSerialize<T>(serializer, *entity);
  Json full;
  serializer.serialize(entity.get(), full, true);

  // Same keys and values; keys in the written order: id, fields in field
  // order, then the references.
  std::vector<std::string> keys;
  for (const auto& [k, v] : full.items()) keys.push_back(k);
  ASSERT_EQ(keys.size(), input.size());
  EXPECT_EQ(keys.front(), "id");
  for (std::size_t i = 0; i < entry["fields"].size(); ++i) EXPECT_EQ(keys[i + 1], entry["fields"][i]["name"]);
  for (const auto& [k, v] : input.items()) {
    EXPECT_EQ(full[k], v) << k;
    // Numbers keep their JSON type.
    EXPECT_EQ(full[k].type(), v.type()) << k;
  }
  const std::size_t referenceStart = 1 + entry["fields"].size();
  std::vector<std::string> references(keys.begin() + static_cast<std::ptrdiff_t>(referenceStart), keys.end());
  if (T::HAS_GROUPS) {
    ASSERT_GE(references.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(references.begin(), references.begin() + 4),
              (std::vector<std::string>{"parent", "children", "childrenShared", "linked"}));
  }

  // A plain project file: non-file fields absent, file fields and every
  // reference present.
  Json plain;
  serializer.serialize(entity.get(), plain, false);
  for (const auto& f : entry["fields"]) {
    const bool file = std::find(f["flags"].begin(), f["flags"].end(), "F") != f["flags"].end();
    EXPECT_EQ(plain.contains(f["name"].template get<std::string>()), file) << f["name"];
  }
  for (const auto& r : entry["references"])
    EXPECT_TRUE(plain.contains(r["name"].template get<std::string>())) << r["name"];

  // An entity with nothing set writes its defaults and nil single references.
  auto fresh = serializer.deserialize(Json{{"id", randomId()}}, false);
  expectWriteMatchesSerialize<T>(serializer, *fresh);
  Json defaults;
  serializer.serialize(fresh.get(), defaults, true);
  for (const auto& f : entry["fields"])
    EXPECT_EQ(defaults[f["name"].template get<std::string>()], f["default"]) << f["name"];
  for (const auto& r : entry["references"]) {
    const auto& value = defaults[r["name"].template get<std::string>()];
    if (r["many"].template get<bool>()) {
      EXPECT_EQ(value, Json::array()) << r["name"];
    } else {
      EXPECT_EQ(value, fennik::server::NIL_UUID_TEXT) << r["name"];
    }
  }
}

TEST(JsonSerializerTest, EveryTypeRoundTripsWithEveryFieldAndReference) {
  int types = 0;
  forEachEntityType([&]<class T>(std::type_identity<T>) {
    checkRoundTrip<T>();
    ++types;
  });
  EXPECT_EQ(types, static_cast<int>(catalogue()["types"].size()));
  EXPECT_EQ(types, 40);
}

TEST(JsonSerializerTest, EveryTypeWritesTheTextItsObjectDumpsTo) {
  int types = 0;
  forEachEntityType([&]<class T>(std::type_identity<T>) {
    checkWriteWithAwkwardValues<T>();
    ++types;
  });
  EXPECT_EQ(types, 40);

  // Text that is no valid UTF-8 cannot be dumped from the tree. The saving
  // writer stores it and a NaN repaired instead, so the file stays one the
  // reader takes, with every other key as it was.
  const FtDelayJsonSerializer serializer;
  FtDelay delay(fennik::server::random_uuid());
  delay.setAbPresetsAsJson("broken \xff\xfe", false);
  delay.setDelayInMs(std::numeric_limits<double>::quiet_NaN(), false);
  delay.setSource(FtSource::GROUP_CHANNEL, false);
  Json object;
  serializer.serialize(&delay, object, true);
  EXPECT_THROW((void)object.dump(), Json::type_error);
  std::string text;
  ASSERT_NO_THROW(serializer.write(&delay, text, true));
  const Json back = Json::parse(text);
  EXPECT_EQ(back["abPresetsAsJson"], "broken \xef\xbf\xbd\xef\xbf\xbd");
  EXPECT_EQ(back["delayInMs"], 0.0);
  EXPECT_EQ(back["source"], "GROUP_CHANNEL");
  auto again = serializer.deserialize(back, false);
  EXPECT_EQ(again->id(), delay.id());
}

TEST(JsonSerializerTest, DelayWritesItsFileKeysAndEnumerationsByName) {
  const FtDelayJsonSerializer serializer;
  FtDelay delay(fennik::server::random_uuid());
  delay.setSource(FtSource::GROUP_CHANNEL, false);
  delay.setDelayInMs(12.5, false);
  Json plain;
  serializer.serialize(&delay, plain, false);
  EXPECT_EQ(plain["source"], "GROUP_CHANNEL");
  EXPECT_EQ(plain["label"], "00000000-0000-0000-0000-000000000000");
  for (const char* runtime : {"delayInMs", "isBypassed", "abPresetsAsJson", "delayInMsMax"}) {
    EXPECT_FALSE(plain.contains(runtime)) << runtime;
  }
  for (const char* key : {"isGroup", "parent", "children", "childrenShared", "linked", "label", "delayInMsDecimals"}) {
    EXPECT_TRUE(plain.contains(key)) << key;
  }
  EXPECT_TRUE(plain["delayInMsDecimals"].is_number_integer());

  // Out of the table: written as the sentinel name, read back as the sentinel value.
  delay.setSource(static_cast<FtSource>(5), false);
  delay.setBridgeMode(static_cast<FtBridgeMode>(42), false);
  Json odd;
  serializer.serialize(&delay, odd, true);
  EXPECT_EQ(odd["source"], "FTSOURCE_MAX");
  EXPECT_EQ(odd["bridgeMode"], "FTBRIDGEMODE_MAX");
  EXPECT_TRUE(odd["delayInMs"].is_number_float());
  EXPECT_TRUE(odd["abPresetsAsJson"].is_string());
  auto back = std::static_pointer_cast<FtDelay>(serializer.deserialize(odd, false));
  EXPECT_EQ(static_cast<int>(back->getSource()), 12);
  EXPECT_EQ(static_cast<int>(back->getBridgeMode()), 6);
  odd["source"] = "NO_SUCH_SOURCE";
  EXPECT_EQ(static_cast<int>(std::static_pointer_cast<FtDelay>(serializer.deserialize(odd, false))->getSource()), 12);
}

TEST(JsonSerializerTest, BadInputThrowsAndNamesTheKey) {
  const FtDelayJsonSerializer serializer;
  const std::string id = randomId();

  // Only an id: every default, empty lists; unknown keys are ignored.
  auto bare = std::static_pointer_cast<FtDelay>(serializer.deserialize(Json{{"id", id}, {"colour", "red"}}, false));
  EXPECT_EQ(bare->getDelayInMsDecimals(), 2);
  EXPECT_TRUE(bare->childrenIds().empty());
  EXPECT_TRUE(bare->labelId().is_nil());

  EXPECT_ANY_THROW(serializer.deserialize(Json{{"index", 1}}, false));
  EXPECT_ANY_THROW(serializer.deserialize(Json{{"id", 7}}, false));
  EXPECT_ANY_THROW(serializer.deserialize(Json{{"id", "not-a-uuid"}}, false));
  EXPECT_EQ(serializer.findBadKey(Json{{"id", "not-a-uuid"}}), "id");

  Json wrongNumber{{"id", id}, {"index", "three"}};
  try {
    serializer.deserialize(wrongNumber, false);
    FAIL() << "a text where a number belongs must throw";
  } catch (const Json::type_error& e) {
    EXPECT_NE(std::string(e.what()).find("type must be number, but is string"), std::string::npos) << e.what();
  }
  EXPECT_EQ(serializer.findBadKey(wrongNumber), "index");
  EXPECT_THROW(serializer.deserialize(Json{{"id", id}, {"isGroup", 1}}, false), Json::type_error);
  EXPECT_THROW(serializer.deserialize(Json{{"id", id}, {"children", "x"}}, false), Json::type_error);
  EXPECT_ANY_THROW(serializer.deserialize(Json{{"id", id}, {"label", "nope"}}, false));
  EXPECT_EQ(serializer.findBadKey(Json{{"id", id}, {"label", "nope"}}), "label");
  EXPECT_EQ(serializer.findBadKey(Json{{"id", id}, {"index", 3}}), std::nullopt);
}

}  // namespace
}  // namespace qor::server
