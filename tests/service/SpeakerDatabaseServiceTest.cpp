// Speaker databases in the server: version choice, precompiled copies,
// installing uploads, the SpeakerDatabase entity and the speaker device types.

#include "custom/LogCapture.h"
#include "model/GeneratedServices.h"
#include "support/ProjectFiles.h"

#include "qor/server/entities/DeviceType.h"
#include "qor/server/entities/SpeakerDatabase.h"
#include "service/SpeakerDatabaseService.h"

#include "fennik/server/core/FileBytes.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/project/FileContainer.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/ServiceResolver.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

namespace qor::server::testing {
namespace {

namespace fs = std::filesystem;
using fennik::common::speakerdb::Version;
using fennik::server::UuidFromS;

const fs::path SAMPLES = fs::path(QOR_SOURCE_DIR) / "data" / "speakerdb";
const std::string POINT_SOURCE = "Fennik Demo Point Source";

Version v(const char* text) { return *Version::fromString(text); }
std::string bytesOf(const fs::path& file) { return fennik::server::readFileBytes(file, 1u << 30); }

// Every file under a folder with its bytes.
std::map<std::string, std::string> snapshot(const fs::path& folder) {
  std::map<std::string, std::string> files;
  if (!fs::exists(folder)) return files;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file()) files[fs::relative(e.path(), folder).string()] = bytesOf(e.path());
  return files;
}

class SpeakerDatabaseServiceTest : public ::testing::Test {
 protected:
  SpeakerDatabaseServiceTest() {
    addGeneratedServices(context);
    fs::create_directories(shipped());
    for (const char* f :
         {"fennik-demo-point-source-1.2.sdb", "fennik-demo-point-source-1.10.sdb", "fennik-demo-line-array-2.1.sdb"})
      fs::copy_file(SAMPLES / f, shipped() / f);
    reset();
  }
  // The service as a fresh server start would have it, with the shipped
  // folder and a data folder of this test only.
  void reset() {
    service().clearLoadPathes();
    service().setDataFolder(scratch.path() / "data");
    service().pushLoadPath(shipped().string());
    service().pushLoadPath(service().getInstallPath());
    service().initialize();
  }
  SpeakerDatabaseService& service() { return *context->services()->get<SpeakerDatabaseService>(); }
  fs::path shipped() const { return scratch.path() / "shipped"; }
  fennik::server::Database& db() { return *context->db(); }
  std::vector<std::string> installedVersions() { return db().all<SpeakerDatabase>().at(0)->getInstalledVersions(); }
  std::vector<std::string> usedVersions() { return db().all<SpeakerDatabase>().at(0)->getUsedVersions(); }
  void loadProject() {
    fennik::server::FileContainer container(scratch.path());
    service().load(container);
  }

  ScratchFolder scratch;
  std::shared_ptr<fennik::server::EntityContext> context =
      fennik::server::EntityContext::create(fennik::server::JobLoop::Mode::Manual);
};

TEST_F(SpeakerDatabaseServiceTest, NewestVersionIsUsedAndEveryVersionStaysInstalled) {
  ASSERT_NE(service().getDatabase(POINT_SOURCE), nullptr);
  EXPECT_EQ(service().getDatabase(POINT_SOURCE)->version().toString(), "1.10");
  ASSERT_NE(service().getDatabase(POINT_SOURCE, v("1.2")), nullptr);
  EXPECT_EQ(service().getDatabase(POINT_SOURCE, v("1.2"))->version().toString(), "1.2");
  EXPECT_EQ(service().getDatabase(POINT_SOURCE, v("1.3")), nullptr);
  EXPECT_EQ(service().getDatabase("No Such Database"), nullptr);
  EXPECT_TRUE(service().isSpeakerDatabaseVersionInstalled(POINT_SOURCE, v("1.2")));
  EXPECT_TRUE(service().isSpeakerDatabaseVersionInstalled(POINT_SOURCE, v("1.10.0")));
  EXPECT_FALSE(service().isSpeakerDatabaseVersionInstalled(POINT_SOURCE, v("1.1")));

  // Compatible: the used version is the asked one or newer.
  EXPECT_TRUE(service().isCompatibleSpeakerDatabaseVersionInstalled("Fennik Demo Line Array", v("2.0")));
  EXPECT_TRUE(service().isCompatibleSpeakerDatabaseVersionInstalled("Fennik Demo Line Array", v("2.1")));
  EXPECT_FALSE(service().isCompatibleSpeakerDatabaseVersionInstalled("Fennik Demo Line Array", v("2.2")));
  EXPECT_TRUE(service().isCompatibleSpeakerDatabaseVersionInstalled(POINT_SOURCE, v("1.9")));
  EXPECT_FALSE(service().isCompatibleSpeakerDatabaseVersionInstalled(POINT_SOURCE, v("2.0")));
  EXPECT_FALSE(service().isCompatibleSpeakerDatabaseVersionInstalled("No Such Database", v("1.0")));

  // The stage monitor and its preset came with 1.10; the DP12 was in 1.2.
  const auto newest = service().getDatabase(POINT_SOURCE);
  auto idOf = [&](const std::string& model) {
    for (const auto& p : newest->products())
      if (p.model == model) return p.id;
    return fennik::server::Uuid{};
  };
  const auto passive = newest->modesOf(*newest->findProduct(idOf("DM15"))).at(0).variant->id;
  const auto monitor = newest->modesOf(*newest->findProduct(idOf("DM15"))).at(0).preset->id;
  const auto standard = newest->modesOf(*newest->findProduct(idOf("DP12"))).at(0).preset->id;
  EXPECT_EQ(service().getMinimalRequiredDatabaseFor(POINT_SOURCE, idOf("DM15"), passive, monitor), v("1.10"));
  EXPECT_EQ(service().getMinimalRequiredDatabaseFor(POINT_SOURCE, idOf("DP12"), passive, standard), v("1.2"));
  EXPECT_EQ(service().getMinimalRequiredDatabaseFor(POINT_SOURCE, idOf("DP12"), passive, passive), std::nullopt);
  EXPECT_EQ(service().getMinimalRequiredDatabaseFor("No Such Database", idOf("DP12"), passive, standard), std::nullopt);

  loadProject();
  EXPECT_EQ(installedVersions(), (std::vector<std::string>{"Fennik Demo Line Array 2.1", "Fennik Demo Point Source 1.2",
                                                           "Fennik Demo Point Source 1.10"}));
  EXPECT_EQ(usedVersions(), (std::vector<std::string>{"Fennik Demo Line Array 2.1", "Fennik Demo Point Source 1.10"}));
  loadProject();  // a second load finds the entity again
  EXPECT_EQ(db().all<SpeakerDatabase>().size(), 1u);
}

TEST_F(SpeakerDatabaseServiceTest, EverySpeakerProductBecomesADeviceTypeKeyedByItsId) {
  loadProject();
  std::map<std::string, DeviceType*> speakers;
  for (DeviceType* t : db().all<DeviceType>())
    if (t->getImplementation() == DeviceTypeImplementation::SPEAKER) speakers[t->getModel()] = t;
  // Point Source 1.10 (DP12, DC4, DS18, DP10, DM15) and the line array (LA10, LS21, FF5).
  EXPECT_EQ(speakers.size(), 8u);
  ASSERT_TRUE(speakers.count("DP12"));
  const DeviceType* dp12 = speakers["DP12"];
  EXPECT_EQ(dp12->getLabel(), "DP12 two-way 12 inch");
  EXPECT_EQ(dp12->getVendor(), "Fennik Demo");
  const auto product = service().findProductById(dp12->id());
  ASSERT_NE(product, nullptr);
  EXPECT_EQ(product->model, "DP12");
  EXPECT_EQ(SpeakerDatabaseService::getDeviceTypeIdByProductId(fennik::server::UuidToS(product->id)), dp12->id());
  EXPECT_EQ(service().getDatabaseFor(dp12), service().getDatabase(POINT_SOURCE));
  EXPECT_EQ(service().getDatabaseFor(speakers["LA10"])->name(), "Fennik Demo Line Array");
  EXPECT_TRUE(service().isProductVisible(dp12->id()));
  EXPECT_FALSE(service().isProductVisible(speakers["DP10"]->id()));  // discontinued, kept for old projects

  // Loading again updates in place: no second type per product.
  loadProject();
  std::size_t count = 0;
  for (DeviceType* t : db().all<DeviceType>()) count += t->getImplementation() == DeviceTypeImplementation::SPEAKER;
  EXPECT_EQ(count, 8u);
}

TEST_F(SpeakerDatabaseServiceTest, PrecompiledCopiesAreUsedAndRepaired) {
  const fs::path precompiled = service().getPrecompiledPath();
  const auto copies = snapshot(precompiled);
  EXPECT_EQ(copies.size(), 3u);  // one per source file
  {
    LogCapture log;
    reset();
    EXPECT_TRUE(log.contains("Loading precompiled speaker database from"));
    EXPECT_FALSE(log.contains("Precompiling speaker database to"));
  }
  EXPECT_EQ(service().getDatabase(POINT_SOURCE)->version().toString(), "1.10");
  // A damaged copy costs a re-read, never the database.
  for (const auto& [name, bytes] : copies) std::ofstream(precompiled / name, std::ios::binary) << "garbage";
  reset();
  EXPECT_EQ(service().getAllDatabases().size(), 2u);
  EXPECT_EQ(service().getDatabase(POINT_SOURCE)->version().toString(), "1.10");
  EXPECT_EQ(snapshot(precompiled), copies);
}

TEST_F(SpeakerDatabaseServiceTest, InstallingAddsADatabaseOnceAndRefusesTheRest) {
  loadProject();
  const fs::path install = service().getInstallPath();
  // A zipped database.
  EXPECT_TRUE(service().install(bytesOf(SAMPLES / "fennik-demo-installation-1.0.sdb")));
  EXPECT_TRUE(fs::exists(install / "Fennik Demo Installation-1.sdb"  // "1.0" is shown as "1"));
  ASSERT_NE(service().getDatabase("Fennik Demo Installation"), nullptr);
  EXPECT_EQ(usedVersions().size(), 3u);
  std::size_t speakers = 0;
  for (DeviceType* t : db().all<DeviceType>()) speakers += t->getImplementation() == DeviceTypeImplementation::SPEAKER;
  EXPECT_EQ(speakers, 10u);  // IC6 and IW5 joined

  const auto before = snapshot(install);
  const auto installedBefore = installedVersions();
  {
    LogCapture log;
    EXPECT_FALSE(service().install(bytesOf(SAMPLES / "fennik-demo-installation-1.0.sdb")));
    EXPECT_TRUE(log.contains("The database is already installed"));
  }
  {
    // Already there from the shipped folder, not the install folder.
    LogCapture log;
    EXPECT_FALSE(service().install(bytesOf(SAMPLES / "fennik-demo-point-source-1.2.sdb")));
    EXPECT_TRUE(log.contains("The database is already installed"));
  }
  {
    LogCapture log;
    EXPECT_FALSE(service().install("this is not a speaker database"));
    EXPECT_TRUE(log.contains("The database couldn't be parsed correctly."));
    EXPECT_FALSE(service().install(""));
  }
  EXPECT_EQ(snapshot(install), before);
  EXPECT_EQ(installedVersions(), installedBefore);
  EXPECT_EQ(service().getAllDatabases().size(), 3u);

  // A name that would reach outside the install folder stays inside it.
  std::string hostile = bytesOf(SAMPLES / "fennik-demo-line-array-2.1.sdb");
  hostile.replace(hostile.find("\"Fennik Demo Line Array\""), 24, "\"../../Escaped\"");
  EXPECT_TRUE(service().install(hostile));
  EXPECT_TRUE(fs::exists(install / "_.._.._Escaped-2.1.sdb"));
  EXPECT_NE(service().getDatabase("../../Escaped"), nullptr);
  EXPECT_FALSE(fs::exists(scratch.path() / "Escaped-2.1.sdb"));
}

}  // namespace
}  // namespace qor::server::testing
