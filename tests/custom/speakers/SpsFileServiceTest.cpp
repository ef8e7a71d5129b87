// SPS files travel inside the project: a setting that runs one keeps working
// when the project is moved, the same file is stored once, and a saved
// project carries only the files its settings use.

#include "custom/speakers/SpeakerFixture.h"
#include "custom/speakers/SpeakerSettingService.h"

#include "qor/server/services/FtSpeakerSettingService.h"

#include "fennik/devices/SpsFile.h"
#include "fennik/server/core/FileBytes.h"

#include <nlohmann/json.hpp>

#include <fstream>

namespace qor::server::testing {
namespace {

namespace fs = std::filesystem;
using sample::BI_AMPED;
using sample::DP12;
using sample::PASSIVE;
using sample::STANDARD;

const fs::path FULLRANGE = sample::DATA / "sps" / "demo-fullrange.sps";
const fs::path BIAMP = sample::DATA / "sps" / "demo-biamp.sps";

class SpsFileServiceTest : public SpeakerFixture {
 protected:
  fs::path write(const std::string& name, const std::string& bytes) {
    const fs::path file = scratch / name;
    std::ofstream(file, std::ios::binary) << bytes;
    return file;
  }
  std::vector<std::string> cached() const { return sps().getCacheFolder()->ls(); }
  static std::string settingIdOf(const fs::path& file) {
    return fennik::server::UuidToS(fennik::devices::sps::readSpsFile(file).settingId);
  }
};

TEST_F(SpsFileServiceTest, TheSameFileStoredTwiceIsCachedOnceAndBadFilesAreNotCached) {
  const fs::path renamed = write("copy-of-fullrange.sps", fennik::server::readFileBytes(FULLRANGE, 1 << 20));
  const std::string first = sps().storeSpsFileIntoProjectFileAndReturnCachedPath(FULLRANGE.string());
  const std::string second = sps().storeSpsFileIntoProjectFileAndReturnCachedPath(renamed.string());
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first, second);
  EXPECT_EQ(sps().cachedFileCount(), 1u);
  // Inside the project's own folder.
  EXPECT_EQ(fs::path(first).parent_path(), container->path() / "sps-file-cache");

  EXPECT_EQ(sps().storeSpsFileIntoProjectFileAndReturnCachedPath(write("empty.sps", "").string()), "");
  EXPECT_EQ(sps().storeSpsFileIntoProjectFileAndReturnCachedPath((scratch / "missing.sps").string()), "");
  EXPECT_EQ(sps().storeSpsFileIntoProjectFileAndReturnCachedPath(write("junk.sps", "FSPS not really").string()), "");
  EXPECT_EQ(sps().cachedFileCount(), 1u);
}

TEST_F(SpsFileServiceTest, WithoutAProjectThereIsNoCache) {
  SpsFileService alone(context_->db(), context_->loop(), context_->services());
  EXPECT_EQ(alone.getCacheFolder(), nullptr);
  EXPECT_EQ(alone.cachedFileCount(), 0u);
  EXPECT_EQ(alone.storeSpsFileIntoProjectFileAndReturnCachedPath(FULLRANGE.string()), "");
}

TEST_F(SpsFileServiceTest, ALoadedFileMakesTheSettingGenericAndTheAmplifierLoadsTheFile) {
  Device* speaker = addSpeaker(mode(DP12, STANDARD, PASSIVE));
  FtSpeakerSetting* band = bands(speaker)[0];
  livesound().speakerSettingLoadSps(band, FULLRANGE.string());
  EXPECT_TRUE(band->getIsGeneric());
  ASSERT_EQ(cached().size(), 1u);
  EXPECT_EQ(band->getSupposedSpsFilePath(), cached()[0]);
  // The speaker input tells the connector dialogue: a file, and no chain.
  const auto filter = nlohmann::json::parse(inputs(speaker)[0]->getFilter());
  EXPECT_EQ(filter["spsFileName"], cached()[0]);
  EXPECT_EQ(filter["dspChainId"], nlohmann::json::array({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

  // What an amplifier channel running this setting is given: the file's setting.
  auto converted = service<SpeakerSettingService>()->toDriverSetting(*band);
  ASSERT_TRUE(converted);
  EXPECT_EQ(converted->dspChainId, settingIdOf(FULLRANGE));

  // Cleared, it runs its database chain again.
  livesound().speakerSettingClear(band);
  EXPECT_FALSE(band->getIsGeneric());
  converted = service<SpeakerSettingService>()->toDriverSetting(*band);
  ASSERT_TRUE(converted);
  EXPECT_EQ(converted->dspChainId, sample::FULL_RANGE_STANDARD);
  EXPECT_EQ(converted->name, "Full range standard");

  // A file that is no SPS file changes nothing.
  livesound().speakerSettingLoadSps(band, write("junk.sps", "junk").string());
  EXPECT_FALSE(band->getIsGeneric());
  EXPECT_EQ(band->getSupposedSpsFilePath(), "");
}

TEST_F(SpsFileServiceTest, AfterASaveTheCacheHoldsExactlyTheFilesInUse) {
  Device* a = addSpeaker(mode(DP12, STANDARD, BI_AMPED));
  Device* b = addSpeaker(mode(DP12, STANDARD, PASSIVE));
  livesound().speakerSettingLoadSps(bands(a)[0], BIAMP.string());
  livesound().speakerSettingLoadSps(bands(a)[1], BIAMP.string());
  livesound().speakerSettingLoadSps(bands(b)[0], FULLRANGE.string());
  EXPECT_EQ(sps().cachedFileCount(), 2u);
  // The second speaker goes back to its chain: its file is used no more.
  livesound().speakerSettingClear(bands(b)[0]);
  EXPECT_EQ(sps().cachedFileCount(), 2u) << "kept until the project is saved";

  sps().save(*container);
  EXPECT_EQ(cached(), std::vector<std::string>{bands(a)[0]->getSupposedSpsFilePath()});

  // A copy of the speaker runs the same file from the same cached copy.
  Device* copy = livesound().deviceDuplicate(a);
  EXPECT_EQ(bands(copy)[1]->getSupposedSpsFilePath(), bands(a)[1]->getSupposedSpsFilePath());
  EXPECT_TRUE(bands(copy)[1]->getIsGeneric());
  EXPECT_EQ(sps().cachedFileCount(), 1u);
}

TEST_F(SpsFileServiceTest, ChainIdsTheDatabasesDoNotKnowAreHandedOnAndEmptySettingsLoadNothing) {
  auto& settings = *service<FtSpeakerSettingService>();
  FtSpeakerSetting* setting = settings.create();
  EXPECT_FALSE(service<SpeakerSettingService>()->toDriverSetting(*setting));
  settings.setSupposedSpeakerDbDspChainId(setting, "device-chain-7", false);
  const auto converted = service<SpeakerSettingService>()->toDriverSetting(*setting);
  ASSERT_TRUE(converted);
  EXPECT_EQ(converted->dspChainId, "device-chain-7");
  // A chain of a database names its band.
  settings.setSupposedSpeakerDbDspChainId(setting, sample::LF_STANDARD, false);
  EXPECT_EQ(setting->getBandType(), FtSpeakerSettingBandType::LOW_FREQ);
}

}  // namespace
}  // namespace qor::server::testing
