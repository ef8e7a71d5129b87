#include "custom/speakers/SpsFileService.h"

#include "qor/server/entities/FtSpeakerSetting.h"

#include "fennik/devices/SpsFile.h"
#include "fennik/server/core/FileBytes.h"
#include "fennik/server/core/HostPaths.h"
#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/project/FileContainer.h"

#include <filesystem>
#include <system_error>

namespace qor::server {

namespace fs = std::filesystem;
using fennik::devices::common::legacy::dsp::KelvaroSpeakerSetting;

namespace {

auto logger() { return fennik::server::getLogger(fennik::server::MODULE_LOGGER); }

}  // namespace

void SpsFileService::load(fennik::server::FileContainer& container) {
  // A copy shares the entries the project holds in memory.
  container_ = std::make_shared<fennik::server::FileContainer>(container);
}

void SpsFileService::loaded() { clearUnusedCachedSpsFiles(); }

void SpsFileService::save(fennik::server::FileContainer&) { clearUnusedCachedSpsFiles(); }

void SpsFileService::unloaded() { container_.reset(); }

std::string SpsFileService::cachedName(const std::string& pathOrName) {
  return fs::path(pathOrName).filename().string();
}

std::shared_ptr<fennik::server::FileContainer> SpsFileService::getCacheFolder() const {
  if (!container_) return nullptr;
  try {
    return container_->scopedContainer(CACHE_FOLDER);
  } catch (const std::exception& e) {
    logger()->error("SpsFileService: the SPS cache is not usable: {}", e.what());
    return nullptr;
  }
}

unsigned long long SpsFileService::cachedFileCount() const {
  auto cache = getCacheFolder();
  return cache ? cache->ls().size() : 0;
}

std::optional<fennik::devices::SpeakerSetting> SpsFileService::loadSpeakerSetting(const std::string& path) const {
  try {
    return KelvaroSpeakerSetting(path).speakersetting();
  } catch (const std::exception& e) {
    logger()->warn("SpsFileService: Couldn't parse {} as speaker settings file ({})", path, e.what());
    return std::nullopt;
  }
}

std::optional<fennik::devices::SpeakerSetting> SpsFileService::loadSpeakerSettingFromCache(
    const std::string& name) const {
  auto cache = getCacheFolder();
  const std::string entry = cachedName(name);
  if (!cache || entry.empty() || !cache->has(entry)) {
    logger()->warn("SpsFileService: Couldn't fetch {} from project file", name);
    return std::nullopt;
  }
  return loadSpeakerSetting(cache->path(entry).string());  // a file from here on
}

std::string SpsFileService::storeSpsFileIntoProjectFileAndReturnCachedPath(const std::string& path) const {
  std::error_code ec;
  if (path.empty() || !fs::is_regular_file(path, ec) || fs::file_size(path, ec) == 0 || ec) return {};
  if (!loadSpeakerSetting(path)) return {};
  auto cache = getCacheFolder();
  if (!cache) {
    logger()->error("SpsFileService: Couldn't store {} to project file, sps cache: no project is open", path);
    return {};
  }
  try {
    const std::string bytes = fennik::server::readFileBytes(path, fennik::devices::sps::MAX_SPS_BYTES);
    const std::string name = fennik::server::contentChecksum(bytes) + ".sps";
    // The same content is cached once, whatever the file was called.
    if (!cache->has(name)) cache->set(name, bytes);
    if (!cache->has(name)) throw std::runtime_error("the copy is missing after writing it");
    const fs::path cached = cache->path(name);  // a file, also when the project held it in memory
    logger()->info("SpsFileService: Cached {} in project file as {}", path, cached.string());
    return cached.string();
  } catch (const std::exception& e) {
    logger()->error("SpsFileService: Couldn't store {} to project file, sps cache: {}", path, e.what());
    return {};
  }
}

void SpsFileService::clearCachedSpsFile(const std::string& name) const {
  auto cache = getCacheFolder();
  if (!cache) return;
  try {
    if (!cache->rm(name)) logger()->warn("SpsFileService: Couldn't clear {} from project file: no such file", name);
  } catch (const std::exception& e) {
    logger()->warn("SpsFileService: Couldn't clear {} from project file: {}", name, e.what());
  }
}

void SpsFileService::clearUnusedCachedSpsFiles() const {
  std::set<std::string> used;
  for (const FtSpeakerSetting* setting : db()->all<FtSpeakerSetting>()) {
    if (!setting->getSupposedSpsFilePath().empty()) used.insert(cachedName(setting->getSupposedSpsFilePath()));
  }
  clearAllCachedSpsFilesExceptGiven(used);
}

void SpsFileService::clearAllCachedSpsFilesExceptGiven(const std::set<std::string>& keep) const {
  auto cache = getCacheFolder();
  if (!cache) return;
  for (const std::string& name : cache->ls()) {
    if (!keep.count(name)) clearCachedSpsFile(name);
  }
}

}  // namespace qor::server
