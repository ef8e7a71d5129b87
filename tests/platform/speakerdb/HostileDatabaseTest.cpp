// Damaged and hostile databases: every reader refuses them as a whole, with
// a message that names the file and the problem, and never crashes.

#include "fennik/common/speakerdb/JsonSpeakerDatabase.h"

#include "fennik/server/core/FileBytes.h"

#include <gtest/gtest.h>
#include <zip.h>
#include <nlohmann/json.hpp>

#include <functional>

namespace {

using namespace fennik::common::speakerdb;
using nlohmann::json;

const std::string DATA = std::string(QOR_SOURCE_DIR) + "/data/speakerdb/";

std::string readFile(const std::string& path) { return fennik::server::readFileBytes(path, 1u << 30); }

json sample() { return json::parse(readFile(DATA + "fennik-demo-point-source-1.2.sdb")); }

// The error message of reading `bytes`, or "" when they read.
std::string errorOf(const std::string& bytes, const std::string& source = "show.sdb") {
  try {
    JsonSpeakerDatabase::fromBytes(bytes, source);
    return "";
  } catch (const SpeakerDatabaseError& e) {
    return e.what();
  }
}

TEST(HostileDatabaseTest, BrokenDocumentsNameTheFileAndTheProblem) {
  struct Case {
    const char* what;
    std::function<void(json&)> damage;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"foreign document", [](json& d) { d["format"] = "something-else"; }, "has format \"something-else\""},
      {"newer format", [](json& d) { d["formatVersion"] = 2; }, "newer than this reader's 1"},
      {"no version", [](json& d) { d.erase("version"); }, "has no member \"version\""},
      {"bad version", [](json& d) { d["version"] = "1..2"; }, "version \"1..2\""},
      {"version as number", [](json& d) { d["version"] = 1.2; }, "the document.version is not a text"},
      {"empty name", [](json& d) { d["name"] = ""; }, "the database name is empty"},
      {"products not a list", [](json& d) { d["products"] = json::object(); }, "products is not an array"},
      {"product not an object", [](json& d) { d["products"][1] = 7; }, "products[1] is not an object"},
      {"bad product id", [](json& d) { d["products"][0]["id"] = "not-an-id"; }, "products[0].id is not an id"},
      {"nil product id", [](json& d) { d["products"][0]["id"] = "00000000-0000-0000-0000-000000000000"; },
       "products[0].id is the nil id"},
      {"duplicate product", [](json& d) { d["products"][2]["id"] = d["products"][0]["id"]; }, "is used twice"},
      {"unknown preset", [](json& d) { d["products"][0]["presets"][1] = "0b6c1d2e-3f40-4152-8637-48596a7b8c9d"; },
       "products[0].presets[1] 0b6c1d2e-3f40-4152-8637-48596a7b8c9d names no preset of this database"},
      {"preset twice", [](json& d) { d["products"][0]["presets"][1] = d["products"][0]["presets"][0]; },
       "products[0].presets[1] appears twice"},
      {"unknown variant", [](json& d) { d["products"][1]["variants"][0] = d["presets"][0]["id"]; },
       "products[1].variants[0]"},
      {"visible missing", [](json& d) { d["products"][0].erase("visible"); }, "has no member \"visible\""},
      {"visible as text", [](json& d) { d["products"][0]["visible"] = "yes"; }, "is not true or false"},
      {"negative size", [](json& d) { d["products"][0]["size"]["first"] = -0.3; }, "products[0].size holds -0.3 m"},
      {"zero size", [](json& d) { d["products"][0]["size"]["second"] = 0; }, "products[0].size holds 0 m"},
      {"huge size", [](json& d) { d["products"][0]["size"]["second"] = 1e300; }, "products[0].size holds"},
      {"chain count", [](json& d) { d["presets"][0]["chains"][1]["dspChains"].erase(1); },
       "presets[0].chains[1] lists 1 DSP chains, but its variant has 2 bands"},
      {"role mismatch",
       [](json& d) {
         auto& chains = d["presets"][0]["chains"][1]["dspChains"];
         std::swap(chains[0], chains[1]);
       },
       "presets[0].chains[1].dspChains[0] has acoustic role 3, but band 0 of the variant has role 2"},
      {"dangling chain", [](json& d) { d["presets"][0]["chains"][0]["dspChains"][0] = d["products"][0]["id"]; },
       "names no DSP chain of this database"},
      {"dangling preset variant", [](json& d) { d["presets"][0]["chains"][0]["variant"] = d["products"][0]["id"]; },
       "presets[0].chains[0].variant"},
      {"role out of range", [](json& d) { d["dspChains"][0]["acousticRole"] = 256; }, "acousticRole is outside 0..255"},
      {"role negative", [](json& d) { d["dspChains"][0]["acousticRole"] = -1; }, "acousticRole is outside 0..255"},
      {"role fraction", [](json& d) { d["dspChains"][0]["acousticRole"] = 1.5; }, "is not a whole number"},
      {"role huge", [](json& d) { d["dspChains"][0]["acousticRole"] = 18446744073709551615ull; }, "outside 0..255"},
      {"no bands", [](json& d) { d["variants"][0]["bands"] = json::array(); }, "variants[0] has 0 bands"},
      {"empty chain name", [](json& d) { d["dspChains"][3]["name"] = ""; }, "dspChains[3].name is empty"},
  };
  for (const Case& c : cases) {
    json doc = sample();
    c.damage(doc);
    const std::string message = errorOf(doc.dump(), "show.sdb");
    EXPECT_EQ(message.rfind("show.sdb: ", 0), 0u) << c.what << ": " << message;
    EXPECT_NE(message.find(c.message), std::string::npos) << c.what << ": " << message;
  }
  // The untouched sample reads, so the cases above fail for their damage only.
  EXPECT_EQ(errorOf(sample().dump()), "");
}

TEST(HostileDatabaseTest, TextThatIsNoDatabaseIsRefused) {
  EXPECT_NE(errorOf("").find("is not valid JSON text"), std::string::npos);
  EXPECT_NE(errorOf("{\"format\": ").find("is not valid JSON text"), std::string::npos);
  EXPECT_NE(errorOf("[1,2,3]").find("the document is not an object"), std::string::npos);
  EXPECT_NE(errorOf("null").find("is not an object"), std::string::npos);
  // Invalid UTF-8 inside a text.
  std::string text = sample().dump();
  text.replace(text.find("Fennik Demo Point Source"), 6, "\xC3\x28nnik");
  EXPECT_NE(errorOf(text), "");
  // Deep nesting is refused before it costs stack or memory.
  EXPECT_NE(errorOf(std::string(100000, '[') + std::string(100000, ']')).find("nested deeper than 32 levels"),
            std::string::npos);
  // Every truncation of a valid document fails cleanly.
  const std::string whole = readFile(DATA + "fennik-demo-point-source-1.2.sdb");
  for (std::size_t n = 0; n < whole.size() - 2; n += 7) EXPECT_NE(errorOf(whole.substr(0, n)), "") << n;
}

// A ZIP archive, in memory, holding the given entries.
std::string makeZip(const std::vector<std::pair<std::string, std::string>>& entries) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
  zip_t* archive = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
  zip_source_keep(buffer);
  for (const auto& [name, bytes] : entries) {
    zip_source_t* src = zip_source_buffer(archive, bytes.data(), bytes.size(), 0);
    zip_file_add(archive, name.c_str(), src, ZIP_FL_ENC_UTF_8);
  }
  zip_close(archive);
  zip_source_open(buffer);
  zip_source_seek(buffer, 0, SEEK_END);
  const zip_int64_t size = zip_source_tell(buffer);
  zip_source_seek(buffer, 0, SEEK_SET);
  std::string result(static_cast<std::size_t>(size), '\0');
  zip_source_read(buffer, result.data(), static_cast<zip_uint64_t>(size));
  zip_source_close(buffer);
  zip_source_free(buffer);
  zip_error_fini(&error);
  return result;
}

TEST(HostileDatabaseTest, ArchivesHoldExactlyOneSoundDatabase) {
  const std::string text = readFile(DATA + "fennik-demo-point-source-1.2.sdb");
  EXPECT_EQ(JsonSpeakerDatabase::fromBytes(makeZip({{"db.json", text}}))->version().toString(), "1.2");
  // Folders beside the one file are fine.
  EXPECT_EQ(errorOf(makeZip({{"speakers/", ""}, {"speakers/db.json", text}})), "");

  EXPECT_NE(errorOf(makeZip({{"a.json", text}, {"b.json", text}})).find("holds more than one file"), std::string::npos);
  EXPECT_NE(errorOf(makeZip({{"empty/", ""}})).find("holds no file"), std::string::npos);
  // The text inside is checked like any other.
  EXPECT_NE(errorOf(makeZip({{"db.json", "{}"}}), "in.sdb").find("in.sdb: the document has no member \"format\""),
            std::string::npos);

  // Damage anywhere in the archive: a clean refusal or, where the damage
  // hits bytes the reader does not depend on, the same database.
  const std::string archive = makeZip({{"db.json", text}});
  EXPECT_NE(errorOf(archive.substr(0, archive.size() / 2)), "");
  for (std::size_t i = 0; i < archive.size(); ++i) {
    std::string damaged = archive;
    damaged[i] = static_cast<char>(damaged[i] ^ 0x5A);
    const std::string message = errorOf(damaged, "damaged.sdb");
    if (!message.empty()) {
      EXPECT_EQ(message.rfind("damaged.sdb: ", 0), 0u) << message;
    }
  }
}

TEST(HostileDatabaseTest, DamagedPrecompiledFormIsRefusedOrReadWhole) {
  const std::string binary =
      JsonSpeakerDatabase::fromFile(DATA + "fennik-demo-point-source-1.2.sdb")->toFlatbufferData();
  EXPECT_NE(errorOf(binary.substr(0, 8), "cache.bin").find("cache.bin: is a damaged precompiled speaker database"),
            std::string::npos);
  for (std::size_t n = 8; n < binary.size(); n += 3) EXPECT_NE(errorOf(binary.substr(0, n)), "") << n;
  // Every single-byte change either fails cleanly or still gives a database
  // that passes every check (a changed letter in a name, say).
  std::size_t refused = 0;
  for (std::size_t i = 0; i < binary.size(); ++i) {
    for (unsigned char flip : {0x01, 0x80, 0xFF}) {
      std::string damaged = binary;
      damaged[i] = static_cast<char>(damaged[i] ^ flip);
      if (!errorOf(damaged).empty()) ++refused;
    }
  }
  EXPECT_GT(refused, 0u);
  // The precompiled form gets the same record checks as the text.
  SpeakerDB records = JsonSpeakerDatabase::fromJson(sample().dump())->speakerDb();
  records.products[0].presets.push_back(records.products[0].id);
  EXPECT_NE(errorOf(speakerDbToFlatbuffer(records)).find("products[0].presets[2]"), std::string::npos);
}

TEST(HostileDatabaseTest, MissingAndOversizedFiles) {
  try {
    JsonSpeakerDatabase::fromFile(DATA + "no-such-file.sdb");
    FAIL();
  } catch (const SpeakerDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("no-such-file.sdb: cannot be read"), std::string::npos);
  }
}

}  // namespace
