#pragma once
// The SPS file cache inside the project: every SPS file a speaker setting
// uses is copied into the project's folder "sps-file-cache", named by the
// checksum of its content, so a project moved to another machine still
// loads its settings. Speaker settings keep the cached file's name in
// supposedSpsFilePath; copies no setting names go when the project is
// loaded and before each save.

#include "fennik/devices/FennikDevice.h"
#include "fennik/server/service/Service.h"

#include <memory>
#include <optional>
#include <set>
#include <string>

namespace fennik::server {
class FileContainer;
}

namespace qor::server {

class SpsFileService : public fennik::server::Service {
 public:
  using Service::Service;
  static constexpr const char* CACHE_FOLDER = "sps-file-cache";

  std::string serviceName() const override { return "qor::server::SpsFileService"; }

  void load(fennik::server::FileContainer& container) override;
  void loaded() override;
  void save(fennik::server::FileContainer& container) override;
  void unloaded() override;

  // Parses an SPS file on disk; none (logged) when it is no SPS file.
  std::optional<fennik::devices::SpeakerSetting> loadSpeakerSetting(const std::string& path) const;
  // Parses a cached copy by its name; none (logged) when the cache holds no such file.
  std::optional<fennik::devices::SpeakerSetting> loadSpeakerSettingFromCache(const std::string& name) const;
  // Copies an SPS file into the cache (once per content) and returns the
  // cached copy's path; empty for a missing, empty or malformed file, or
  // without a project.
  std::string storeSpsFileIntoProjectFileAndReturnCachedPath(const std::string& path) const;
  void clearCachedSpsFile(const std::string& name) const;
  // Removes every cached copy that no speaker setting names.
  void clearUnusedCachedSpsFiles() const;
  void clearAllCachedSpsFilesExceptGiven(const std::set<std::string>& keep) const;

  // The cache folder; null without a project container.
  std::shared_ptr<fennik::server::FileContainer> getCacheFolder() const;
  unsigned long long cachedFileCount() const;

  // The name under which a setting refers to a cached copy: the last part
  // of a cached path (settings keep the name, not the working folder's path,
  // which changes every time the project is opened).
  static std::string cachedName(const std::string& pathOrName);

 private:
  std::shared_ptr<fennik::server::FileContainer> container_;
};

}  // namespace qor::server
