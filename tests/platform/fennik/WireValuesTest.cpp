// The text check of requests agrees with what a saved project can hold: a
// string passes exactly when the JSON writer can store it.

#include "fennik/server/core/Uuid.h"
#include "fennik/server/entity/EntityJsonSerializer.h"
#include "fennik/server/ksp/WireValues.h"
#include "fennik/wire/Ksp_generated.h"

#include <gtest/gtest.h>

#include <random>

namespace fennik::server {
namespace {

bool jsonCanStore(const std::string& text) {
  try {
    (void)Json(text).dump();
    return true;
  } catch (const Json::type_error&) {
    return false;
  }
}

TEST(WireValuesTest, Utf8IsCheckedByTheRulesOfTheStandard) {
  EXPECT_TRUE(isValidUtf8(""));
  EXPECT_TRUE(isValidUtf8("Bühne \xe2\x99\xab \xf0\x9f\x8e\xb5 \xf4\x8f\xbf\xbf"));  // up to U+10FFFF
  EXPECT_FALSE(isValidUtf8("\x80"));                                                 // a continuation byte alone
  EXPECT_FALSE(isValidUtf8("\xc0\xaf"));                                             // overlong "/"
  EXPECT_FALSE(isValidUtf8("\xe0\x80\xaf"));                                         // overlong, three bytes
  EXPECT_FALSE(isValidUtf8("\xf0\x80\x80\xaf"));                                     // overlong, four bytes
  EXPECT_FALSE(isValidUtf8("\xed\xa0\x80"));                                         // a surrogate half
  EXPECT_FALSE(isValidUtf8("\xf4\x90\x80\x80"));                                     // above U+10FFFF
  EXPECT_FALSE(isValidUtf8("\xf5\x80\x80\x80"));
  EXPECT_FALSE(isValidUtf8("abc\xe2\x82"));   // cut short at the end
  EXPECT_FALSE(isValidUtf8("\xe2\x28\xa1"));  // a sequence broken in the middle
  EXPECT_TRUE(checkWireString(std::string(MAX_STRING_BYTES, 'a'), "name") == std::nullopt);
  EXPECT_TRUE(checkWireString(std::string(MAX_STRING_BYTES + 1, 'a'), "name").has_value());
}

TEST(WireValuesTest, WhatPassesIsExactlyWhatTheJsonWriterCanStore) {
  std::mt19937 random(1234);
  // Short strings of bytes drawn mostly from the lead and continuation
  // ranges, where the mistakes hide.
  const std::string alphabet = "a\x7f\x80\xbf\xc0\xc1\xc2\xdf\xe0\xe1\xed\xef\xf0\xf4\xf5\xff\x90\xa0\x9f\x8f";
  for (int i = 0; i < 200000; ++i) {
    std::string text(random() % 6, ' ');
    for (auto& c : text) c = alphabet[random() % alphabet.size()];
    ASSERT_EQ(isValidUtf8(text), jsonCanStore(text)) << ::testing::PrintToString(text);
  }
}

// A batch of changes: envelopes nested in a vector, each with a payload of
// bytes. The bytes are opaque (any value passes); every string in every
// nested envelope is still checked, and the problem names its field.
TEST(WireValuesTest, NestedStringsAreCheckedAndBytePayloadsPassWhole) {
  auto batch = [](const std::string& secondId) {
    flatbuffers::FlatBufferBuilder b;
    std::vector<flatbuffers::Offset<wire::Envelope>> changes;
    const std::vector<std::uint8_t> bytes{0xff, 0xfe, 0x80, 0x00, 0xc0};
    for (const std::string& id : {std::string("first"), secondId}) {
      changes.push_back(wire::CreateEnvelope(b, wire::MessageKind::Changed, 0, b.CreateString("qor::server::FtAudio"),
                                             0, 0, b.CreateString(id), true, 0, b.CreateVector(bytes)));
    }
    b.Finish(wire::CreateChangeBatch(b, b.CreateVector(changes)));
    return std::vector<std::uint8_t>(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize());
  };
  auto problem = [](const std::vector<std::uint8_t>& bytes) {
    return checkWireValues(*flatbuffers::GetRoot<wire::ChangeBatch>(bytes.data()));
  };
  EXPECT_EQ(problem(batch("second")), std::nullopt);
  const auto bad = problem(batch("sec\xc0\xafond"));
  ASSERT_TRUE(bad.has_value());
  EXPECT_EQ(*bad, "the string of field 'entity_id' is no valid UTF-8");
  const auto tooLong = problem(batch(std::string(MAX_STRING_BYTES + 1, 'a')));
  ASSERT_TRUE(tooLong.has_value());
  EXPECT_NE(tooLong->find("'entity_id' is longer than"), std::string::npos);
}

}  // namespace
}  // namespace fennik::server
