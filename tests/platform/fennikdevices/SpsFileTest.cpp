// SPS files: the samples in data/speakerdb/sps (written by an independent
// writer, tools/speakerdb/make_samples.py) read as documented, and damaged
// files are refused with a message naming the file and the problem.

#include "fennik/devices/SpsFile.h"

#include "fennik/server/core/FileBytes.h"

#include <gtest/gtest.h>
#include <boost/crc.hpp>

#include <cmath>
#include <cstring>

namespace {

using namespace fennik::devices::sps;

const std::string SPS = std::string(QOR_SOURCE_DIR) + "/data/speakerdb/sps/";

std::string readFile(const std::string& path) { return fennik::server::readFileBytes(path, 1u << 30); }

// Replaces the checksum so that a deliberately changed file passes it and
// the reader reaches the field under test.
std::string withChecksum(std::string bytes) {
  boost::crc_32_type crc;
  crc.process_bytes(bytes.data(), bytes.size() - 4);
  const std::uint32_t sum = crc.checksum();
  for (int i = 0; i < 4; ++i) bytes[bytes.size() - 4 + i] = static_cast<char>((sum >> (8 * i)) & 0xFF);
  return bytes;
}

void putFloat(std::string& bytes, std::size_t at, float value) { std::memcpy(&bytes[at], &value, 4); }

std::string errorOf(const std::string& bytes) {
  try {
    parseSps(bytes, "show.sps");
    return "";
  } catch (const SpsError& e) {
    return e.what();
  }
}

TEST(SpsFileTest, ReadsTheSampleFilesAsDocumented) {
  const fennik::devices::common::legacy::dsp::KelvaroSpeakerSetting biamp(SPS + "demo-biamp.sps");
  const SpsData& data = biamp.data();
  EXPECT_EQ(data.name, "Demo bi-amped");
  ASSERT_EQ(data.bands.size(), 2u);
  EXPECT_EQ(data.bands[0].acousticRole, 2);  // high
  EXPECT_FALSE(data.bands[0].inverted);
  EXPECT_FLOAT_EQ(data.bands[0].gainDb, -6.0f);
  ASSERT_EQ(data.bands[0].filters.size(), 1u);
  EXPECT_EQ(data.bands[0].filters[0].type, FilterType::HIGH_PASS);
  EXPECT_FLOAT_EQ(data.bands[0].filters[0].frequencyHz, 1200.0f);
  EXPECT_EQ(data.bands[1].acousticRole, 3);  // low
  EXPECT_TRUE(data.bands[1].inverted);
  EXPECT_FLOAT_EQ(data.bands[1].delayMs, 0.35f);
  ASSERT_EQ(data.bands[1].filters.size(), 2u);
  EXPECT_EQ(data.bands[1].filters[1].type, FilterType::LOW_PASS);
  EXPECT_FLOAT_EQ(data.bands[1].filters[1].q, 0.7f);

  // The amplifier is told the file's name and its setting id.
  const fennik::devices::SpeakerSetting setting = biamp.speakersetting();
  EXPECT_EQ(setting.name, "Demo bi-amped");
  EXPECT_EQ(setting.dspChainId, fennik::server::UuidToS(data.settingId));
  EXPECT_EQ(setting.dspChainId.size(), 36u);

  // Our writer gives the very bytes of the independent sample writer.
  for (const char* file : {"demo-biamp.sps", "demo-fullrange.sps", "demo-sub-cardioid.sps"}) {
    const std::string bytes = readFile(SPS + file);
    EXPECT_EQ(writeSps(parseSps(bytes, file)), bytes) << file;
  }
}

TEST(SpsFileTest, DamagedFilesAreRefusedWithTheirProblem) {
  const std::string good = readFile(SPS + "demo-biamp.sps");
  ASSERT_EQ(errorOf(good), "");
  // Layout of demo-biamp.sps: header 26 bytes + name (13), band 1 at 39 with
  // one filter (16 bytes) after its 12, band 2 at 67.
  const std::size_t band1 = 26 + 13, band2 = band1 + 12 + 16;
  struct Case {
    const char* what;
    std::function<void(std::string&)> change;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"magic", [](std::string& b) { b[0] = 'X'; }, "is not an SPS file"},
      {"version", [](std::string& b) { b[4] = 2; }, "has format version 2"},
      {"no bands", [](std::string& b) { b[6] = 0; }, "has 0 bands"},
      {"too many bands", [](std::string& b) { b[6] = 9; }, "has 9 bands"},
      {"nil id", [](std::string& b) { std::memset(&b[8], 0, 16); }, "nil setting id"},
      {"name length", [](std::string& b) { b[24] = 0; }, "has a name of 0 bytes"},
      {"name not UTF-8", [](std::string& b) { b[26] = '\xFF'; }, "name that is not valid UTF-8"},
      {"role", [=](std::string& b) { b[band1] = 9; }, "band 1 has acoustic role 9"},
      {"polarity", [=](std::string& b) { b[band2 + 1] = 2; }, "band 2 has polarity 2"},
      {"reserved", [=](std::string& b) { b[band1 + 3] = 1; }, "band 1 has a reserved byte"},
      {"gain", [=](std::string& b) { putFloat(b, band1 + 4, 30.0f); }, "band 1 gain (dB) is 30, outside -60..24"},
      {"delay NaN", [=](std::string& b) { putFloat(b, band2 + 8, std::nanf("")); }, "band 2 delay (ms) is nan"},
      {"filter type", [=](std::string& b) { b[band1 + 12] = 6; }, "band 1 filter 1 has type 6"},
      {"filter frequency", [=](std::string& b) { putFloat(b, band1 + 16, 5.0f); },
       "band 1 filter 1 frequency (Hz) is 5, outside 10..24000"},
      {"filter Q", [=](std::string& b) { putFloat(b, band2 + 12 + 16 + 12, 0.0f); }, "band 2 filter 2 Q is 0"},
      {"more filters than bytes", [=](std::string& b) { b[band2 + 2] = 3; }, "ends inside band 2 filter 3"},
      {"fewer bands than bytes", [](std::string& b) { b[6] = 1; }, "has 44 bytes after the last band"},
  };
  for (const Case& c : cases) {
    std::string bytes = good;
    c.change(bytes);
    const std::string message = errorOf(withChecksum(bytes));
    EXPECT_EQ(message.rfind("show.sps: ", 0), 0u) << c.what << ": " << message;
    EXPECT_NE(message.find(c.message), std::string::npos) << c.what << ": " << message;
  }

  // Without a fixed checksum every change is reported as damage, and so is
  // every truncation; nothing crashes.
  for (std::size_t i = 4; i < good.size(); ++i) {
    std::string bytes = good;
    bytes[i] = static_cast<char>(bytes[i] ^ 0x10);
    EXPECT_NE(errorOf(bytes).find("is damaged (checksum mismatch)"), std::string::npos) << i;
  }
  for (std::size_t n = 0; n < good.size(); ++n) EXPECT_NE(errorOf(good.substr(0, n)), "") << n;
  EXPECT_NE(errorOf(good + std::string(MAX_SPS_BYTES, '\0')).find("larger than an SPS file can be"), std::string::npos);
}

TEST(SpsFileTest, MissingFileAndUnwritableSettings) {
  try {
    readSpsFile(SPS + "missing.sps");
    FAIL();
  } catch (const SpsError& e) {
    EXPECT_NE(std::string(e.what()).find("missing.sps: cannot be read"), std::string::npos);
  }
  SpsData data = parseSps(readFile(SPS + "demo-fullrange.sps"), "demo-fullrange.sps");
  data.bands[0].gainDb = 100.0f;
  EXPECT_THROW(writeSps(data), SpsError);
  data.bands.clear();
  EXPECT_THROW(writeSps(data), SpsError);
}

}  // namespace
