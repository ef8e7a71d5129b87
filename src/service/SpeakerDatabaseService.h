#pragma once
// Speaker databases: finds the database files in the load folders, keeps every
// version of every database, uses the newest version of each, installs
// databases that clients upload, mirrors the installed and used versions into
// the SpeakerDatabase entity, and makes one SPEAKER device type per product
// (keyed by the product id), so speakers are added like any other device.

#include "qor/server/services/SpeakerDatabaseServiceBase.h"

#include "fennik/common/speakerdb/ISpeakerDatabase.h"

#include <boost/signals2/signal.hpp>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qor::server {

class DeviceType;

class SpeakerDatabaseService : public SpeakerDatabaseServiceBase {
 public:
  using Database = std::shared_ptr<const fennik::common::speakerdb::ISpeakerDatabase>;
  using Version = fennik::common::speakerdb::Version;
  using Uuid = fennik::server::Uuid;
  // The one SpeakerDatabase entity keeps this id, so that a client can find
  // it and a reopened project has the same one.
  static constexpr const char* ENTITY_ID = "6f3b1c52-8d4e-4a1f-9b7c-2e5d0a9c4b18";

  // Load folders, in order: the executable's folder joined with
  // ../../deliverables/speakerdb, ../Resources/speakerdb and ../speakerdb,
  // then the install folder. Install and precompiled folders lie in the
  // application's data folder (speakerdb/install, speakerdb/precompiled).
  SpeakerDatabaseService(std::shared_ptr<fennik::server::Database> db, std::shared_ptr<fennik::server::EntityLoop> loop,
                         std::shared_ptr<fennik::server::ServiceResolver> services);

  void initialize() override;                                    // loadAllDatabases
  void load(fennik::server::FileContainer& container) override;  // updateEntities, createDeviceTypes

  void pushLoadPath(const std::string& path);
  const std::vector<std::string>& getLoadPathes() const { return loadPaths_; }
  void clearLoadPathes() { loadPaths_.clear(); }
  // Moves the install and precompiled folders into another data folder (and
  // the install folder in the load list with them).
  void setDataFolder(const std::filesystem::path& folder);
  std::string getInstallPath() const { return installPath_.string(); }
  std::string getPrecompiledPath() const { return precompiledPath_.string(); }

  void loadAllDatabases();
  // Loads the databases unless they were loaded already: a project opened
  // when the server starts meets a service that was never initialized.
  void ensureLoaded();
  // Counts the loads: what was made from the databases of an earlier count
  // is out of date.
  unsigned generation() const { return generation_; }
  // Called after every load of the databases (start, install, reload), so
  // that what is made from them is made then and not on first use.
  boost::signals2::connection onDatabasesLoaded(std::function<void()> slot) {
    return databasesLoaded_.connect(std::move(slot));
  }
  void updateEntities();
  void createDeviceTypes();
  // Installs a database file (JSON text or a ZIP holding it); false, logged,
  // and nothing changed when it does not parse or that version is there.
  bool install(const std::string& bytes);

  const std::map<std::string, std::map<Version, Database>>& getAllDatabases() const { return all_; }
  const std::map<std::string, Database>& getUsedDatabases() const { return used_; }
  Database getDatabase(const std::string& name) const;
  Database getDatabase(const std::string& name, const Version& version) const;
  Database getDatabaseFor(const DeviceType* type) const;
  Database getDatabaseFor(const fennik::common::speakerdb::SpeakerDB* records) const;
  Database getDatabaseForProduct(const Uuid& productId) const;
  Database getDatabaseForPreset(const Uuid& presetId) const;
  Database getDatabaseForDspChain(const Uuid& chainId) const;
  const fennik::common::speakerdb::DspChain* findDspChainById(const Uuid& id) const;
  const fennik::common::speakerdb::Product* findProductById(const Uuid& id) const;
  bool isProductVisible(const Uuid& productId) const;
  // The lowest installed version of the database that knows the product,
  // the electro-acoustic variant and the preset.
  std::optional<Version> getMinimalRequiredDatabaseFor(const std::string& name, const Uuid& productId,
                                                       const Uuid& variantId, const Uuid& presetId) const;
  bool isSpeakerDatabaseVersionInstalled(const std::string& name, const Version& version) const;
  // True when the used version of the database is the given one or newer.
  bool isCompatibleSpeakerDatabaseVersionInstalled(const std::string& name, const Version& version) const;
  // A speaker product's device type has the product id as its entity id.
  static Uuid getDeviceTypeIdByProductId(const std::string& productId);

 private:
  Database loadFile(const std::filesystem::path& file);
  template <class Find>
  Database firstUsed(Find find) const;

  std::vector<std::string> loadPaths_;
  std::filesystem::path installPath_;
  std::filesystem::path precompiledPath_;
  std::map<std::string, std::map<Version, Database>> all_;
  std::map<std::string, Database> used_;
  bool loaded_ = false;
  unsigned generation_ = 0;
  boost::signals2::signal<void()> databasesLoaded_;
};

}  // namespace qor::server
