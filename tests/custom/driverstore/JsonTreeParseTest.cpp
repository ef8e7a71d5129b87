// The drivers' entries are parsed by a fast parser first. Whatever it gives
// must be exactly the JSON library's tree (values, number kinds, key order),
// and what it cannot vouch for goes to the library, which names the damage.

#include "custom/driverstore/DriverStore.h"
#include "custom/driverstore/JsonTreeParse.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qor::server {
namespace {

using fennik::server::Json;

// Same dump is not enough: 1 read as unsigned and as signed dump alike.
void expectSameTree(const Json& fast, const Json& library, const std::string& where) {
  ASSERT_EQ(fast.type(), library.type()) << where;
  ASSERT_EQ(fast.dump(), library.dump()) << where;
  if (fast.is_object()) {
    for (auto a = fast.begin(), b = library.begin(); a != fast.end(); ++a, ++b) {
      ASSERT_EQ(a.key(), b.key()) << where;
      expectSameTree(a.value(), b.value(), where + "/" + a.key());
    }
  } else if (fast.is_array()) {
    for (std::size_t i = 0; i < fast.size(); ++i) expectSameTree(fast[i], library[i], where + "/" + std::to_string(i));
  }
}

std::string nested(int depth) {
  return std::string(static_cast<std::size_t>(depth), '[') + std::string(static_cast<std::size_t>(depth), ']');
}

TEST(JsonTreeParseTest, TheFastTreeIsTheLibrarysTreeOrNothing) {
  const std::vector<std::string> read = {
      R"({"version":1,"name":"Stage Left","gain":[26.5,-3,0,1e3,2.5E-3,18446744073709551615,-9223372036854775808],
          "mute":[true,false],"none":null,"eq":{"type":"PEQ","q":0.7,"freq":1000},"empty":{},"list":[]})",
      R"({"b":1,"a":2,"b":3})",  // a repeated key keeps its place and takes the last value
      R"({"text":"tab\tquote\"slash\\\/ \u00e9 \u20ac é 🎛"})",
      "  [0, -0.5, 123456789012, 0.1]  \n",
      "\"just a string\"",
      "42",
      R"({"device":"0a6f2c1e-93b4-4f5e-8d21-5c7a9e0b1d23","delay":-0.5,"name":"-0"})",
      nested(50),
  };
  for (const auto& text : read) {
    const auto fast = parseJsonTree(text, 64);
    ASSERT_TRUE(fast) << text;
    expectSameTree(*fast, Json::parse(text), text);
  }

  const std::vector<std::string> left = {
      "",
      "{\"gain\":",
      "{} {}",
      "[1,]",
      "{'a':1}",
      "[-0]",  // the library keeps an integer zero
      "{\"a\": -0 }",
      "[-0.0]",  // indistinguishable from the above once parsed
      "\xEF\xBB\xBF{}",
      "[\"a\x01\"]",
      R"(["\ud83c\udf9b"])",
      "[\"\xC3\x28\"]",  // no UTF-8
      "[1e400]",
      "[18446744073709551616]",
      nested(63),
      nested(200),
  };
  for (const auto& text : left) EXPECT_FALSE(parseJsonTree(text, 64)) << "[" << text << "] " << text.size();
}

TEST(JsonTreeParseTest, ADamagedEntryIsStillNamedByTheLibrary) {
  const DriverStore store("Drivers");
  const auto id = fennik::server::UuidFromS("0a6f2c1e-93b4-4f5e-8d21-5c7a9e0b1d23");
  const std::string name = "'Drivers/0a6f2c1e-93b4-4f5e-8d21-5c7a9e0b1d23' is damaged: ";
  const auto message = [&](const std::string& text) {
    try {
      store.parseEntry(id, text);
    } catch (const DriverStoreError& e) {
      return std::string(e.what());
    }
    return std::string("accepted");
  };
  EXPECT_NE(message(nested(80)).find(name + "it is no JSON (nested deeper than 64 levels)"), std::string::npos)
      << message(nested(80));
  EXPECT_NE(message("{\"gain\":}").find(name + "it is no JSON ([json.exception.parse_error.101]"), std::string::npos)
      << message("{\"gain\":}");
  // Both parsers take a text nested just under the limit.
  EXPECT_EQ(store.parseEntry(id, nested(64)).dump(), Json::parse(nested(64)).dump());
}

}  // namespace
}  // namespace qor::server
