// Reading the entities of a project document: what the text writer wrote
// comes back entity by entity through the streaming reading; odd documents
// read exactly as the whole-document reading reads them; damaged ones are
// refused with the messages a user has always seen.

#include "support/AwkwardValues.h"
#include "support/ProjectFiles.h"

#include "qor/server/entities/All.h"
#include "qor/server/entities/EntityTypes.h"
#include "qor/server/serializers/JsonSerializers.h"

#include "fennik/server/entity/Database.h"
#include "fennik/server/entity/JsonValueReader.h"
#include "fennik/server/project/EntitiesReader.h"
#include "fennik/server/project/FileContainer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

namespace qor::server::testing {
namespace {

using fennik::server::EntityJsonSerializer;
using fennik::server::EntityPtr;
using fennik::server::FileContainer;
using fennik::server::Json;
using fennik::server::JsonValueReader;
using fennik::server::ProjectError;

class EntitiesReadingTest : public ::testing::Test {
 protected:
  EntitiesReadingTest() : context_(makeProjectContext()), container_(scratch_.path()) {}

  const EntityJsonSerializer& serializerOf(const fennik::server::Entity& e) const {
    return *context_->db()->serializer<EntityJsonSerializer>(e.className());
  }

  // The text of each entity as the writer writes it, in order.
  std::vector<std::string> texts(const std::vector<EntityPtr>& entities, bool withRuntimeFields) const {
    std::vector<std::string> out;
    for (const auto& e : entities) {
      out.emplace_back();
      serializerOf(*e).write(e.get(), out.back(), withRuntimeFields);
    }
    return out;
  }

  std::vector<EntityPtr> read(const std::string& document) {
    container_.set("entities.json", document);
    return fennik::server::readEntities(*context_->db(), container_, file_);
  }
  std::vector<EntityPtr> readAsTree(const std::string& document) {
    container_.set("entities.json", document);
    return fennik::server::readEntitiesAsTree(*context_->db(), container_, file_);
  }

  // What opening the document says, or "" when it opens.
  std::string refusal(const std::string& document) {
    try {
      read(document);
      return "";
    } catch (const ProjectError& e) {
      return e.what();
    }
  }

  ScratchFolder scratch_;
  std::shared_ptr<fennik::server::EntityContext> context_;
  FileContainer container_;
  const std::filesystem::path file_ = "/shows/arena.qor";
};

TEST_F(EntitiesReadingTest, EveryTypeWithAwkwardValuesReadsBackAsWritten) {
  // Four entities of each of the 40 types, every field and reference with a
  // value that is hard to write (escapes, control characters, four-byte
  // UTF-8, integer limits, -0.0, the smallest denormal, 1e300,
  // unknown enumeration names, empty lists), written by the text writer:
  // once as a project holds them and once with the runtime fields too.
  std::vector<EntityPtr> written;
  int types = 0;
  forEachEntityType([&]<class T>(std::type_identity<T>) {
    const JsonSerializerOf<T> serializer;
    for (std::size_t round = 0; round < 4; ++round) {
      written.push_back(serializer.deserialize(awkwardEntity(T::TYPE_NAME, round), false));
    }
    ++types;
  });
  ASSERT_EQ(types, 40);

  for (const bool runtime : {false, true}) {
    SCOPED_TRACE(runtime ? "with runtime fields" : "file fields");
    std::string document = "{";
    const std::vector<std::string> expected = texts(written, runtime);
    for (std::size_t i = 0; i < written.size(); ++i) {
      if (i % 4 == 0) document += (i ? "]," : "") + Json(std::string(written[i]->className())).dump() + ":[";
      if (i % 4) document += ',';
      document += expected[i];
    }
    document += "]}";

    // Every object is taken by the streaming reading itself, none left to
    // the tree reading.
    std::size_t streamed = 0;
    const bool complete =
        fennik::server::readJsonObject(document, [&](std::string_view className, JsonValueReader& list) {
          auto serializer = context_->db()->serializer<EntityJsonSerializer>(className);
          return list.forEachItem([&](JsonValueReader& object) {
            EntityPtr entity = serializer->read(object);
            if (!entity) ADD_FAILURE() << className << " object " << streamed << " was not read by streaming";
            streamed += entity ? 1 : 0;
            return entity != nullptr;
          });
        });
    EXPECT_TRUE(complete);
    EXPECT_EQ(streamed, written.size());

    // Read back, each entity writes the very text it was read from.
    const auto back = read(document);
    EXPECT_EQ(texts(back, runtime), expected);
  }
}

TEST_F(EntitiesReadingTest, OddDocumentsReadAsTheWholeDocumentReadingReadsThem) {
  const std::string id = randomId();
  const std::string other = randomId();
  const std::string label = randomId();
  const auto delay = [&](const std::string& body) {
    return R"({"qor::server::FtDelay":[{"id":")" + id + "\"" + (body.empty() ? "" : ",") + body + "}]}";
  };
  const std::vector<std::string> documents = {
      // As written, with whitespace and an empty class.
      " {\n \"qor::server::FtLabel\" : [ ] ,\n" + delay(R"("index" : 3 , "label" : ")" + label + "\"").substr(1),
      // Keys out of field order, a key given twice (the last one counts), an
      // escaped key, the id not first.
      delay(R"("label":")" + label + R"(","index":4,"source":"GROUP","index":5)"),
      delay(R"("\u0069ndex":6,"isLinked":true)"),
      R"({"qor::server::FtDelay":[{"index":2,"id":")" + id + "\"}]}",
      // Unknown keys with nested values, and a class nobody reads.
      delay(R"("colour":{"r":[1,2.5e3,-0,null,true,"\u00fc\ud834\udd1e"],"g":{}},"index":1)"),
      R"({"qor::server::Gone":[{"x":1},{"y":[2]}],"qor::server::FtLabel":[]})",
      // Numbers the JSON library converts: -0 and an integer where a real
      // belongs, reals and a boolean where integers belong, an integer
      // beyond 64 bits.
      delay(R"("delayInMs":-0,"delayInMsMax":12,"index":3.7,"delayInMsDecimals":1e1)"),
      delay(R"("index":true,"delayInMs":123456789012345678901234567890)"),
      // A real written as null (NaN or an infinity when it was saved).
      delay(R"("delayInMs":null)"),
      // One class given twice: the later list counts.
      R"({"qor::server::FtDelay":[{"id":")" + other +
          R"("}],"qor::server::FtLabel":[],"qor::server::FtDelay":[{"id":")" + id + "\"}]}",
      "{}",
  };
  for (const auto& document : documents) {
    SCOPED_TRACE(document);
    std::vector<EntityPtr> streamed;
    std::vector<EntityPtr> tree;
    ASSERT_NO_THROW(streamed = read(document));
    ASSERT_NO_THROW(tree = readAsTree(document));
    EXPECT_EQ(texts(streamed, true), texts(tree, true));
  }

  // What those readings give, as a user sees it in the opened project.
  auto one = [&](const std::string& document) {
    auto entities = read(document);
    EXPECT_EQ(entities.size(), 1u);
    return std::static_pointer_cast<FtDelay>(entities.at(0));
  };
  EXPECT_EQ(one(documents[1])->getIndex(), 5);
  EXPECT_EQ(one(documents[1])->getSource(), FtSource::GROUP);
  EXPECT_EQ(fennik::server::UuidToS(one(documents[1])->labelId()), label);
  EXPECT_EQ(one(documents[2])->getIndex(), 6);
  EXPECT_EQ(one(documents[3])->getIndex(), 2);
  const auto converted = one(documents[6]);
  EXPECT_EQ(converted->getIndex(), 3);
  EXPECT_EQ(converted->getDelayInMsDecimals(), 10);
  EXPECT_EQ(converted->getDelayInMs(), 0.0);
  EXPECT_FALSE(std::signbit(converted->getDelayInMs()));
  EXPECT_TRUE(std::isnan(one(documents[8])->getDelayInMs()));
  EXPECT_EQ(one(documents[9])->strId(), id);
  EXPECT_TRUE(read("{}").empty());
}

TEST_F(EntitiesReadingTest, ADocumentReadInPiecesGivesWhatOnePassGives) {
  // A large document is read in pieces cut between two entity objects.
  // Small pieces put the cuts everywhere a "},{" stands: between entities,
  // at the change of class, between objects nested in an entity, inside a
  // string; a cut that is no boundary must not change what is read.
  std::vector<std::string> objects;
  std::string document = R"({"qor::server::Gone":[{"y":[{"a":1},{"b":"},{"}]},{"z":"},{"}],)";
  forEachEntityType([&]<class T>(std::type_identity<T>) {
    const JsonSerializerOf<T> serializer;
    for (std::size_t round = 0; round < 2; ++round) {
      const EntityPtr entity = serializer.deserialize(awkwardEntity(T::TYPE_NAME, round), false);
      const std::string className(entity->className());
      if (className == "qor::server::FtLabel" || className == "qor::server::FtDelay") return;  // given below
      if (round == 0) document += Json(className).dump() + ":[";
      std::string text;
      serializer.write(entity.get(), text, false);
      document += (round ? "," : "") + text;
    }
    document += "],";
  });
  document += R"("qor::server::FtLabel":[],"qor::server::FtDelay":[)";
  for (int i = 0; i < 6; ++i) {
    document += std::string(i ? "," : "") + R"({"id":")" + randomId() + R"(","colour":[{"r":1},{"g":"},{"}],"index":)" +
                std::to_string(i) + "}";
  }
  document += "]}";
  const auto& db = *context_->db();
  const auto tree = texts(readAsTree(document), true);
  ASSERT_EQ(tree.size(), 38u * 2 + 6);
  for (const std::size_t pieceBytes : {1, 20, 150, 700, 4000, 1 << 30}) {
    SCOPED_TRACE(pieceBytes);
    const auto forward = fennik::server::readEntitiesForward(db, document, file_, pieceBytes);
    ASSERT_TRUE(forward.has_value());
    EXPECT_EQ(texts(*forward, true), tree);
  }

  // A class that goes on past a cut is one list; a class given a second
  // time after a cut, or an id used again, is left to the tree reading.
  const auto delays = [](const std::vector<std::string>& ids) {
    std::string list;
    for (const auto& id : ids) list += std::string(list.empty() ? "" : ",") + R"({"id":")" + id + R"(","index":7})";
    return R"("qor::server::FtDelay":[)" + list + "]";
  };
  std::vector<std::string> ids;
  for (int i = 0; i < 8; ++i) ids.push_back(randomId());
  const auto one = fennik::server::readEntitiesForward(db, "{" + delays(ids) + "}", file_, 20);
  ASSERT_TRUE(one.has_value());
  EXPECT_EQ(one->size(), 8u);
  const std::string twice = "{" + delays(ids) + R"(,"qor::server::FtLabel":[],)" + delays({randomId()}) + "}";
  EXPECT_FALSE(fennik::server::readEntitiesForward(db, twice, file_, 20).has_value());
  EXPECT_EQ(read(twice).size(), 1u);  // the later list counts
  std::vector<std::string> again = ids;
  again.back() = ids.front();
  EXPECT_FALSE(fennik::server::readEntitiesForward(db, "{" + delays(again) + "}", file_, 20).has_value());
  EXPECT_EQ(refusal("{" + delays(again) + "}"),
            "Cannot open '/shows/arena.qor': the id " + ids.front() + " (class qor::server::FtDelay) is used twice");
}

TEST_F(EntitiesReadingTest, DamagedDocumentsAreRefusedWithTheirMessages) {
  const std::string id = randomId();
  const std::string prefix = "Cannot open '/shows/arena.qor': ";
  const auto delay = [&](const std::string& body) {
    return R"({"qor::server::FtDelay":[{"id":")" + id + "\"," + body + "}]}";
  };

  // Malformed text, also where nothing reads it (inside unknown keys): the
  // JSON library's own message.
  const std::vector<std::string> damaged = {
      delay(R"("colour":[1,2,])"),
      delay(R"("colour":"\udc00")"),
      delay(R"("colour":"\x")"),
      delay(R"("colour":01)"),
      delay("\"colour\":\"tab\tinside\""),
      delay("\"colour\":\"\xff\xfe\""),
      delay(R"("colour":{"a" 1})"),
      delay(R"("colour":nul)"),
      delay("\"index\":3) "),
      R"({"qor::server::FtDelay":[]} [])",
      R"({"qor::server::FtDelay":[)",
      "",
  };
  for (const std::string& document : damaged) {
    SCOPED_TRACE(document);
    std::string library;
    try {
      const Json parsed = Json::parse(document);
      ADD_FAILURE() << "the JSON library reads it: " << parsed.dump();
    } catch (const Json::parse_error& e) {
      library = e.what();
    }
    EXPECT_EQ(refusal(document), prefix + "The project entry 'entities.json' is no valid JSON: " + library);
  }

  // Well-formed, but not what a project holds.
  EXPECT_EQ(refusal(delay(R"("index":"three")")),
            prefix + "entity " + id +
                " of class qor::server::FtDelay has a bad value for key 'index': [json.exception.type_error.302] type "
                "must be number, but is string");
  EXPECT_EQ(refusal(delay(R"("isGroup":1)")),
            prefix + "entity " + id +
                " of class qor::server::FtDelay has a bad value for key 'isGroup': [json.exception.type_error.302] "
                "type must be boolean, but is number");
  EXPECT_EQ(
      refusal(delay(R"("label":"nope")")),
      prefix + "entity " + id + " of class qor::server::FtDelay has a bad value for key 'label': Not a UUID: 'nope'");
  EXPECT_EQ(refusal(R"({"qor::server::FtDelay":[{"index":1}]})"),
            prefix +
                "entity without id of class qor::server::FtDelay has a bad value for key 'id': "
                "[json.exception.out_of_range.403] key 'id' not found");
  EXPECT_EQ(refusal(R"({"qor::server::FtDelay":[{"id":")" + id + R"("},{"id":")" + id + "\"}]}"),
            prefix + "the id " + id + " (class qor::server::FtDelay) is used twice");
  EXPECT_EQ(refusal(R"({"qor::server::FtDelay":{}})"),
            prefix + "the entities of class qor::server::FtDelay are no list");
  EXPECT_EQ(refusal("[]"), prefix + "entities.json is no object keyed by class name");
}

}  // namespace
}  // namespace qor::server::testing
