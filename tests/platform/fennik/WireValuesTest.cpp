// The text check of requests agrees with what a saved project can hold: a
// string passes exactly when the JSON writer can store it.

#include "fennik/server/core/Uuid.h"
#include "fennik/server/entity/EntityJsonSerializer.h"
#include "fennik/server/ksp/WireValues.h"

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

}  // namespace
}  // namespace fennik::server
