#include "service/SpeakerDatabaseService.h"

#include "qor/server/entities/DeviceType.h"
#include "qor/server/entities/SpeakerDatabase.h"
#include "qor/server/services/DeviceTypeService.h"

#include "fennik/common/speakerdb/JsonSpeakerDatabase.h"
#include "fennik/server/core/FileBytes.h"
#include "fennik/server/core/HostPaths.h"
#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/project/HostInterface.h"
#include "fennik/server/service/ServiceResolver.h"

#include <algorithm>

namespace qor::server {

namespace fs = std::filesystem;
using fennik::common::speakerdb::JsonSpeakerDatabase;
using fennik::common::speakerdb::SpeakerDatabaseError;

namespace {

auto logger() { return fennik::server::getLogger(fennik::server::MODULE_LOGGER); }

// A file name made of the database's name: anything but letters, digits,
// blanks, dots, dashes and underscores becomes "_", and it never starts with
// a dot, so no name reaches outside the install folder.
std::string safeFileName(const std::string& name) {
  std::string result;
  for (char c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' ||
                       c == '.' || c == '-' || c == '_';
    result += plain ? c : '_';
  }
  if (result.empty() || result.front() == '.') result.insert(result.begin(), '_');
  return result.substr(0, 200);
}

std::string versionText(const std::string& name, const SpeakerDatabaseService::Version& version) {
  return name + " " + version.toString();
}

}  // namespace

SpeakerDatabaseService::SpeakerDatabaseService(std::shared_ptr<fennik::server::Database> db,
                                               std::shared_ptr<fennik::server::EntityLoop> loop,
                                               std::shared_ptr<fennik::server::ServiceResolver> services)
    : SpeakerDatabaseServiceBase(std::move(db), std::move(loop), std::move(services)) {
  const fs::path exe = fennik::server::executableFolder();
  loadPaths_ = {(exe / ".." / ".." / "deliverables" / "speakerdb").string(),
                (exe / ".." / "Resources" / "speakerdb").string(), (exe / ".." / "speakerdb").string()};
  const fs::path data = fennik::server::applicationDataFolder();
  installPath_ = data / "speakerdb" / "install";
  precompiledPath_ = data / "speakerdb" / "precompiled";
  loadPaths_.push_back(installPath_.string());
}

void SpeakerDatabaseService::setDataFolder(const fs::path& folder) {
  const std::string oldInstall = installPath_.string();
  installPath_ = folder / "speakerdb" / "install";
  precompiledPath_ = folder / "speakerdb" / "precompiled";
  std::replace(loadPaths_.begin(), loadPaths_.end(), oldInstall, installPath_.string());
}

void SpeakerDatabaseService::pushLoadPath(const std::string& path) {
  if (!path.empty()) loadPaths_.push_back(path);
}

void SpeakerDatabaseService::initialize() { loadAllDatabases(); }

void SpeakerDatabaseService::ensureLoaded() {
  if (!loaded_) loadAllDatabases();
}

void SpeakerDatabaseService::load(fennik::server::FileContainer&) {
  ensureLoaded();
  updateEntities();
  createDeviceTypes();
}

void SpeakerDatabaseService::loadAllDatabases() {
  loaded_ = true;
  ++generation_;
  all_.clear();
  used_.clear();
  for (const std::string& folder : loadPaths_) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) continue;
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder, ec))
      if (entry.path().extension() == ".sdb" && entry.is_regular_file(ec)) files.push_back(entry.path());
    std::sort(files.begin(), files.end());  // the same order on every machine
    for (const fs::path& file : files) {
      Database database = loadFile(file);
      if (!database) continue;
      auto& versions = all_[database->name()];
      if (!versions.emplace(database->version(), database).second)
        logger()->info("{} {} is loaded already; {} is not used", database->name(), database->version().toString(),
                       file.string());
    }
  }
  for (const auto& [name, versions] : all_) used_[name] = versions.rbegin()->second;
  databasesLoaded_();
}

SpeakerDatabaseService::Database SpeakerDatabaseService::loadFile(const fs::path& file) {
  logger()->info("Trying to load speakerdb: {}", file.filename().string());
  std::error_code ec;
  if (!fs::exists(file, ec)) {
    logger()->warn("File does not exist: {}", file.string());
    return nullptr;
  }
  try {
    const std::string bytes = fennik::server::readFileBytes(file, JsonSpeakerDatabase::MAX_INPUT_BYTES);
    const fs::path precompiled = precompiledPath_ / fennik::server::contentChecksum(bytes);
    if (fs::exists(precompiled, ec)) {
      logger()->info("Loading precompiled speaker database from {}", precompiled.string());
      try {
        return JsonSpeakerDatabase::fromFlatbuffer(
            fennik::server::readFileBytes(precompiled, JsonSpeakerDatabase::MAX_INPUT_BYTES), precompiled.string());
      } catch (const std::exception& e) {
        // A damaged copy costs only the time to read the source again.
        logger()->warn("The precompiled copy is not usable, reading the source again: {}", e.what());
      }
    }
    logger()->info("Precompiling speaker database to {}", precompiled.string());
    if (JsonSpeakerDatabase::isZip(bytes)) logger()->info("The speaker database is in ZIP format");
    auto database = JsonSpeakerDatabase::fromBytes(bytes, file.string());
    try {
      fs::create_directories(precompiledPath_);
      fennik::server::HostInterface::writeFileAtomically(precompiled, database->toFlatbufferData(), false);
    } catch (const std::exception& e) {
      logger()->warn("Couldn't write the precompiled speaker database {}: {}", precompiled.string(), e.what());
    }
    return database;
  } catch (const std::exception& e) {
    logger()->error("The speaker database {} is not loaded: {}", file.string(), e.what());
    return nullptr;
  }
}

bool SpeakerDatabaseService::install(const std::string& bytes) {
  if (bytes.empty()) {
    logger()->error("The database couldn't be parsed correctly. (no bytes)");
    return false;
  }
  std::shared_ptr<JsonSpeakerDatabase> database;
  try {
    if (JsonSpeakerDatabase::isZip(bytes)) {
      logger()->info("The speaker database is in ZIP format");
      database = JsonSpeakerDatabase::fromJson(JsonSpeakerDatabase::jsonFromZip(bytes, "the uploaded file"),
                                               "the uploaded file");
    } else {
      logger()->info("The speaker database is not in ZIP format");
      database = JsonSpeakerDatabase::fromJson(bytes, "the uploaded file");
    }
  } catch (const SpeakerDatabaseError& e) {
    logger()->error("The database couldn't be parsed correctly. {}", e.what());
    return false;
  }
  if (getDatabase(database->name(), database->version())) {
    logger()->error("The database is already installed");
    return false;
  }
  const fs::path target =
      installPath_ / (safeFileName(database->name()) + "-" + database->version().toString() + ".sdb");
  try {
    fs::create_directories(installPath_);
    // Never replace a file that is there: it may be another database whose
    // name gives the same file name.
    if (fs::exists(target)) throw std::runtime_error(target.string() + " exists already");
    fennik::server::HostInterface::writeFileAtomically(target, bytes);
  } catch (const std::exception& e) {
    logger()->error("Couldn't copy to install path: {}", e.what());
    return false;
  }
  logger()->info("Installed speaker database {} as {}", versionText(database->name(), database->version()),
                 target.string());
  loadAllDatabases();
  updateEntities();
  createDeviceTypes();
  return true;
}

void SpeakerDatabaseService::updateEntities() {
  auto entities = all();
  SpeakerDatabase* entity = entities.empty() ? nullptr : entities.front();
  if (!entity && !db()->find(fennik::server::UuidFromS(ENTITY_ID))) {
    auto made = createDefaultInitialized(fennik::server::UuidFromS(ENTITY_ID));
    entity = made.get();
    db()->add(std::move(made));
  }
  if (!entity) entity = create();  // the fixed id names something else in this file
  std::vector<std::string> installed, used;
  for (const auto& [name, versions] : all_)
    for (const auto& [version, database] : versions) installed.push_back(versionText(name, version));
  for (const auto& [name, database] : used_) used.push_back(versionText(name, database->version()));
  setInstalledVersions(entity, installed, false);
  setUsedVersions(entity, used, false);
}

void SpeakerDatabaseService::createDeviceTypes() {
  auto types = services() ? services()->get<DeviceTypeService>() : nullptr;
  for (const auto& [name, database] : used_) {
    for (const auto& product : database->products()) {
      DeviceType* type = db()->get<DeviceType>(product.id);
      if (!type) {
        if (db()->find(product.id)) {
          logger()->error("Speaker product {} ({}) gets no device type: its id is taken by another entity",
                          fennik::server::UuidToS(product.id), product.model);
          continue;
        }
        auto created = DeviceType::createDefaultInitialized(product.id);
        type = created.get();
        db()->add(std::move(created));
      }
      if (types) {
        types->setModel(type, product.model, false);
        types->setLabel(type, product.label, false);
        types->setImplementation(type, DeviceTypeImplementation::SPEAKER, false);
        types->setVendor(type, product.vendor, false);
      }
    }
  }
}

SpeakerDatabaseService::Database SpeakerDatabaseService::getDatabase(const std::string& name) const {
  auto it = used_.find(name);
  return it == used_.end() ? nullptr : it->second;
}

SpeakerDatabaseService::Database SpeakerDatabaseService::getDatabase(const std::string& name,
                                                                     const Version& version) const {
  auto it = all_.find(name);
  if (it == all_.end()) return nullptr;
  auto v = it->second.find(version);
  return v == it->second.end() ? nullptr : v->second;
}

template <class Find>
SpeakerDatabaseService::Database SpeakerDatabaseService::firstUsed(Find find) const {
  for (const auto& [name, database] : used_)
    if (find(*database)) return database;
  return nullptr;
}

SpeakerDatabaseService::Database SpeakerDatabaseService::getDatabaseFor(const DeviceType* type) const {
  if (!type || type->getImplementation() != DeviceTypeImplementation::SPEAKER) return nullptr;
  return getDatabaseForProduct(type->id());
}

SpeakerDatabaseService::Database SpeakerDatabaseService::getDatabaseFor(
    const fennik::common::speakerdb::SpeakerDB* records) const {
  return firstUsed([records](const auto& d) { return &d.speakerDb() == records; });
}

SpeakerDatabaseService::Database SpeakerDatabaseService::getDatabaseForProduct(const Uuid& productId) const {
  return firstUsed([&](const auto& d) { return d.findProduct(productId) != nullptr; });
}

SpeakerDatabaseService::Database SpeakerDatabaseService::getDatabaseForPreset(const Uuid& presetId) const {
  return firstUsed([&](const auto& d) { return d.findPreset(presetId) != nullptr; });
}

SpeakerDatabaseService::Database SpeakerDatabaseService::getDatabaseForDspChain(const Uuid& chainId) const {
  return firstUsed([&](const auto& d) { return d.findDspChain(chainId) != nullptr; });
}

const fennik::common::speakerdb::DspChain* SpeakerDatabaseService::findDspChainById(const Uuid& id) const {
  auto database = getDatabaseForDspChain(id);
  return database ? database->findDspChain(id) : nullptr;
}

const fennik::common::speakerdb::Product* SpeakerDatabaseService::findProductById(const Uuid& id) const {
  auto database = getDatabaseForProduct(id);
  return database ? database->findProduct(id) : nullptr;
}

bool SpeakerDatabaseService::isProductVisible(const Uuid& productId) const {
  auto database = getDatabaseForProduct(productId);
  return database && database->isProductVisible(productId);
}

std::optional<SpeakerDatabaseService::Version> SpeakerDatabaseService::getMinimalRequiredDatabaseFor(
    const std::string& name, const Uuid& productId, const Uuid& variantId, const Uuid& presetId) const {
  auto it = all_.find(name);
  if (it == all_.end()) return std::nullopt;
  for (const auto& [version, database] : it->second)  // lowest first
    if (database->findProduct(productId) && database->findVariant(variantId) && database->findPreset(presetId))
      return version;
  return std::nullopt;
}

bool SpeakerDatabaseService::isSpeakerDatabaseVersionInstalled(const std::string& name, const Version& version) const {
  return getDatabase(name, version) != nullptr;
}

bool SpeakerDatabaseService::isCompatibleSpeakerDatabaseVersionInstalled(const std::string& name,
                                                                         const Version& version) const {
  auto database = getDatabase(name);
  return database && database->version() >= version;
}

fennik::server::Uuid SpeakerDatabaseService::getDeviceTypeIdByProductId(const std::string& productId) {
  try {
    return fennik::server::UuidFromS(productId);
  } catch (const std::exception&) {
    return fennik::server::nilUuid();
  }
}

}  // namespace qor::server
