#pragma once
// A new project whose server knows the sample speaker databases of
// data/speakerdb (both versions of the point-source database among them),
// with an open project container for the SPS cache.

#include "custom/livesound/ProjectFixture.h"
#include "custom/speakers/SpeakerModeId.h"
#include "custom/speakers/SpeakerService.h"
#include "custom/speakers/SpsFileService.h"
#include "service/SpeakerDatabaseService.h"
#include "support/ProjectFiles.h"

#include "fennik/server/project/FileContainer.h"

#include <filesystem>

namespace qor::server::testing {

namespace sample {
inline const std::filesystem::path DATA = std::filesystem::path(QOR_SOURCE_DIR) / "data" / "speakerdb";
inline const std::string POINT_SOURCE_DB = "b38f4d4c-74ed-5a43-af7c-f589de0d8b23";
inline const std::string DP12 = "55516039-12d6-5c31-8777-7a33476fc4d4";  // 0.36 x 0.6, passive or bi-amped
inline const std::string DC4 = "608bd16b-e6c6-5595-9420-2e9fda4a28e4";   // 0.12 x 0.36 column
inline const std::string DS18 = "ba1b16d9-9b85-5e9f-ad0b-4cc9395e74ea";  // 0.5 x 0.3 subwoofer
inline const std::string DM15 = "40327f84-ed56-5afd-8bf2-4e0091ddf846";  // only in version 1.10
inline const std::string STANDARD = "3a481d8b-3400-5d9f-b948-2eb7a7b116ad";
inline const std::string SPEECH = "0bae48e7-ff7f-5c17-9286-5a08af912155";
inline const std::string PASSIVE = "614d02cc-8e13-5222-aa6b-9845f11db0d0";
inline const std::string BI_AMPED = "6bc8e81e-4af2-5ead-8acb-14174f4d4db0";
// DSP chains of the point-source database.
inline const std::string FULL_RANGE_STANDARD = "ac96de8c-b527-5521-9012-9ffb64e6e602";
inline const std::string FULL_RANGE_SPEECH = "671cd060-0892-54c5-8ae0-7db06aa0b19c";
inline const std::string HF_STANDARD = "dd723229-06dd-5c31-bece-926b66c24ca0";
inline const std::string LF_STANDARD = "4801bd62-b107-5795-b72a-846d5e0e7f56";
}  // namespace sample

class SpeakerFixture : public ProjectFixture {
 protected:
  SpeakerFixture() {
    auto& databases = *service<SpeakerDatabaseService>();
    databases.clearLoadPathes();
    databases.setDataFolder(scratch / "data");
    databases.pushLoadPath(sample::DATA.string());
    std::filesystem::create_directories(scratch / "project");
    container = std::make_shared<fennik::server::FileContainer>(scratch / "project");
    // What opening the project does for the speaker services.
    databases.initialize();
    databases.load(*container);
    service<SpsFileService>()->load(*container);
    service<SpeakerService>()->load(*container);
    service<SpeakerService>()->loaded();
  }

  static std::string mode(const std::string& product, const std::string& preset, const std::string& variant) {
    return makeSpeakerModeId(preset, product, variant, sample::POINT_SOURCE_DB);
  }
  // One speaker, added as a client adds it from the catalog.
  Device* addSpeaker(const std::string& modeId) {
    const auto added = livesound().deviceAdd("SpeakerMode", modeId, 1, 0, 0, true);
    return added.empty() ? nullptr : added.front();
  }
  SpeakerService& speakers() const { return *service<SpeakerService>(); }
  SpsFileService& sps() const { return *service<SpsFileService>(); }

  // The channel entities of a speaker in channel order.
  static std::vector<FtSpeakerSetting*> bands(const Device* d) { return d->getSpeakerSetting()->childrens(); }
  static std::vector<FtConnector*> inputs(const Device* d) { return d->getConnector()->childrens(); }

  ScratchFolder scratch;
  std::shared_ptr<fennik::server::FileContainer> container;
};

}  // namespace qor::server::testing
