#include "fennik/common/speakerdb/Version.h"

#include <gtest/gtest.h>

namespace {

using fennik::common::speakerdb::Version;

Version v(const char* text) {
  auto parsed = Version::fromString(text);
  EXPECT_TRUE(parsed) << text;
  return parsed.value_or(Version{});
}

TEST(VersionTest, ComparesNumberByNumber) {
  EXPECT_GT(v("1.10"), v("1.2"));
  EXPECT_GT(v("1.10"), v("1.9"));
  EXPECT_LT(v("1.9"), v("2.0"));
  EXPECT_GT(v("2.1"), v("2.0"));
  EXPECT_GT(v("2"), v("1.99.99"));
  EXPECT_LT(v("1.2"), v("1.2.1"));
  // A missing number counts as zero.
  EXPECT_EQ(v("1.2"), v("1.2.0"));
  EXPECT_EQ(v("3"), v("3.0.0"));
  EXPECT_FALSE(v("1.2") < v("1.2.0"));
  EXPECT_FALSE(v("1.2") > v("1.2.0"));
}

TEST(VersionTest, TextFormKeepsNumbersAndDropsTrailingZeros) {
  EXPECT_EQ(v("1.10").toString(), "1.10");
  EXPECT_EQ(v("01.002").toString(), "1.2");
  EXPECT_EQ(v("1.2.0").toString(), "1.2");
  EXPECT_EQ(v("0").toString(), "0");
  EXPECT_EQ(v("0.0.0").toString(), "0");
  EXPECT_EQ(v("0.5").toString(), "0.5");
}

TEST(VersionTest, RefusesWhatIsNotAVersion) {
  for (const char* bad : {"", ".", "1.", ".1", "1..2", "v1.2", "1.2a", " 1.2", "1.2 ", "-1", "+1", "1,2",
                          "1.2.3.4.5.6.7", "1234567890", "1.x"}) {
    EXPECT_FALSE(Version::fromString(bad)) << '"' << bad << '"';
  }
  EXPECT_TRUE(Version::fromString("1.2.3.4.5.6"));
  EXPECT_TRUE(Version::fromString("999999999"));
}

}  // namespace
