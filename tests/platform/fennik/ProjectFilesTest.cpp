// The project container on disk: entries in the working folder, packing it
// into a zip and back, and refusing what would leave the folder.

#include "fennik/server/core/FileBytes.h"
#include "fennik/server/project/FileContainer.h"
#include "fennik/server/project/HostInterface.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <zip.h>

#include <fstream>
#include <iterator>

namespace fennik::server {
namespace {

namespace fs = std::filesystem;

// JSON-like text of at least `bytes` bytes that deflates well, as a
// project's entities do.
std::string largeText(std::size_t bytes) {
  std::string text;
  for (int i = 0; text.size() < bytes; ++i) text += "{\"index\":" + std::to_string(i * 7919 % 1000) + "},";
  return text;
}

class ProjectFilesTest : public ::testing::Test {
 protected:
  ProjectFilesTest() : root_(HostInterface::createTemporaryFolder("fenniktest")) {}
  ~ProjectFilesTest() override { HostInterface::removeFolder(root_); }
  fs::path root_;
};

TEST_F(ProjectFilesTest, AnEntryWrittenAgainUnchangedKeepsItsFile) {
  FileContainer c(root_ / "work");
  c.set("drivers/amp.json", "{\"gain\": 1}");
  const fs::path file = c.path() / "drivers/amp.json";
  const auto written = fs::last_write_time(file);
  struct stat before {};
  ASSERT_EQ(::stat(file.c_str(), &before), 0);

  c.set("drivers/amp.json", "{\"gain\": 1}");
  struct stat after {};
  ASSERT_EQ(::stat(file.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);  // not replaced by a new file
  EXPECT_EQ(fs::last_write_time(file), written);

  // Same size, other bytes; then a longer and a shorter text.
  for (const std::string bytes : {"{\"gain\": 2}", "{\"gain\": 20}", ""}) {
    c.set("drivers/amp.json", bytes);
    EXPECT_EQ(c.get("drivers/amp.json"), bytes);
  }
}

TEST_F(ProjectFilesTest, ContainerEntriesAndSubContainers) {
  FileContainer c(root_ / "work");
  fs::create_directories(c.path());
  EXPECT_FALSE(c.exists("entities.json"));
  Json doc = Json::object();
  doc["b"] = 1;
  doc["a"] = Json::array({"x"});
  c.store("entities.json", doc);
  EXPECT_TRUE(c.has("entities.json"));
  EXPECT_EQ(c.load("entities.json"), doc);
  EXPECT_EQ(c.load("entities.json").begin().key(), "b");  // insertion order kept

  auto panels = c.scopedContainer("PanelService");
  panels->set("one.bin", std::string("\0\1\2", 3));
  EXPECT_TRUE(c.exists("PanelService"));
  EXPECT_FALSE(c.has("PanelService"));  // a folder, not a document
  EXPECT_EQ(c.get("PanelService/one.bin"), std::string("\0\1\2", 3));
  EXPECT_EQ(c.ls(), (std::vector<std::string>{"PanelService", "entities.json"}));
  EXPECT_EQ(c.ls("PanelService"), std::vector<std::string>{"one.bin"});
  EXPECT_EQ(c.path("PanelService/one.bin"), c.path() / "PanelService" / "one.bin");

  const std::string sum = c.checksum();
  EXPECT_EQ(sum.size(), 8u);
  EXPECT_EQ(c.checksum(), sum);
  EXPECT_NE(c.checksum({"entities.json"}), sum);
  panels->set("one.bin", "changed");
  EXPECT_NE(c.checksum(), sum);

  EXPECT_FALSE(c.unset("PanelService"));  // unset removes files only
  EXPECT_TRUE(c.rm("PanelService"));
  EXPECT_FALSE(c.exists("PanelService"));
  EXPECT_TRUE(c.unset("entities.json"));
  EXPECT_FALSE(c.unset("entities.json"));
  EXPECT_THROW(c.load("entities.json"), std::runtime_error);
  c.set("bad.json", "{ nope");
  EXPECT_THROW(c.load("bad.json"), std::runtime_error);

  for (const char* outside : {"../x", "/etc/passwd", "a/../../x", ""}) {
    EXPECT_THROW(c.path(outside), std::invalid_argument) << outside;
  }
}

TEST_F(ProjectFilesTest, ZipRoundTripReplacesAtomicallyAndRefusesEscapingEntries) {
  FileContainer c(root_ / "work");
  c.scopedContainer("sps-file-cache")->set("a.sps", "speaker");
  c.set("entities.json", "{}");
  const fs::path file = root_ / "p.qor";
  { std::ofstream(file) << "previous"; }
  HostInterface::zip(c.path(), file);
  // Only the project is there: the temporary file was renamed over it.
  EXPECT_EQ(std::distance(fs::directory_iterator(root_), fs::directory_iterator()), 2);

  HostInterface::unzip(file, root_ / "back");
  FileContainer back(root_ / "back");
  EXPECT_EQ(back.get("sps-file-cache/a.sps"), "speaker");
  EXPECT_EQ(back.checksum(), c.checksum());

  // An entry that would land outside the folder is refused.
  const fs::path evil = root_ / "evil.zip";
  int code = 0;
  zip_t* z = zip_open(evil.c_str(), ZIP_CREATE, &code);
  ASSERT_TRUE(z);
  static const char text[] = "x";
  zip_file_add(z, "../escaped.txt", zip_source_buffer(z, text, 1, 0), 0);
  ASSERT_EQ(zip_close(z), 0);
  try {
    HostInterface::unzip(evil, root_ / "evil");
    ADD_FAILURE() << "unpacked";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("outside the project"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(fs::exists(root_ / "escaped.txt"));
  EXPECT_THROW(HostInterface::unzip(root_ / "missing.qor", root_ / "m"), std::runtime_error);
  EXPECT_THROW(HostInterface::zip(root_ / "work", root_ / "no" / "such" / "p.qor"), std::exception);
}

// Bytes changed inside an entry's compressed data are found while
// unpacking, whichever way they break it, and the entry is named.
TEST_F(ProjectFilesTest, AnEntryDamagedInsideIsRefusedByName) {
  FileContainer c(root_ / "work");
  const std::string large = largeText(400000);
  c.set("large.json", large);
  c.set("small.txt", "small");
  const fs::path file = root_ / "p.qor";
  HostInterface::zip(c.path(), file);
  HostInterface::unzip(file, root_ / "good");
  EXPECT_EQ(FileContainer(root_ / "good").get("large.json"), large);

  std::string bytes;
  {
    std::ifstream in(file, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  // The large entry comes first and fills most of the file.
  for (const std::size_t at : {bytes.size() / 4, bytes.size() / 2}) {
    std::string damaged = bytes;
    for (std::size_t i = at; i < at + 8; ++i) damaged[i] = static_cast<char>(damaged[i] ^ 0x5a);
    const fs::path broken = root_ / "broken.qor";
    {
      std::ofstream out(broken, std::ios::binary | std::ios::trunc);
      out << damaged;
    }
    // Into a file, and into memory.
    for (const auto& toMemory : std::vector<std::vector<std::string>>{{}, {"large.json"}}) {
      try {
        HostInterface::unzip(broken, root_ / ("back" + std::to_string(at)), {}, toMemory);
        ADD_FAILURE() << "a damaged entry was unpacked";
      } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("is damaged: entry 'large.json'"), std::string::npos) << e.what();
      }
    }
  }
}

TEST_F(ProjectFilesTest, EntriesFromMemoryPackAndSumAsIfTheyWereFiles) {
  FileContainer c(root_ / "work");
  c.scopedContainer("sps-file-cache")->set("a.sps", "speaker");
  c.set("entities.json", "stale");
  const std::string entities = "{\"qor::server::FtDelay\":[]}";
  // Larger than libzip's copy buffer, so it is read in several pieces.
  const std::string large = largeText(300000);
  // The large one deflated ahead, as a save does with its entities.
  const std::vector<MemoryEntry> fromMemory{{"entities.json", entities},
                                            {"late/extra.txt", "from memory"},
                                            {"empty.txt", ""},
                                            {"large.json", large, HostInterface::deflate(large)}};

  // The sum of the folder with the memory entries written to it, the file of
  // the same name replaced.
  const std::string sum = c.checksum({"qorserver-project.json"}, fromMemory);
  EXPECT_NE(sum, c.checksum({"qorserver-project.json"}));
  c.set("qorserver-project.json", "record");
  EXPECT_EQ(c.checksum({"qorserver-project.json"}, fromMemory), sum);

  const fs::path file = root_ / "p.qor";
  HostInterface::zip(c.path(), file, fromMemory);
  EXPECT_EQ(c.get("entities.json"), "stale");  // the folder is left as it was
  EXPECT_FALSE(c.exists("late"));
  HostInterface::unzip(file, root_ / "back");
  FileContainer back(root_ / "back");
  EXPECT_EQ(back.get("entities.json"), entities);
  EXPECT_EQ(back.get("late/extra.txt"), "from memory");
  EXPECT_EQ(back.get("empty.txt"), "");
  EXPECT_EQ(back.get("large.json"), large);
  EXPECT_EQ(back.get("sps-file-cache/a.sps"), "speaker");
  EXPECT_EQ(back.checksum({"qorserver-project.json"}), sum);

  // The project file stays compressed.
  int code = 0;
  zip_t* z = zip_open(file.c_str(), ZIP_RDONLY, &code);
  ASSERT_TRUE(z);
  zip_stat_t stat;
  ASSERT_EQ(zip_stat(z, "large.json", 0, &stat), 0);
  EXPECT_EQ(stat.comp_method, ZIP_CM_DEFLATE);
  EXPECT_LT(stat.comp_size, stat.size / 4);
  zip_discard(z);
}

// Opening reads the entities from memory: the entries asked for come back
// as bytes instead of files, with room for a reader's look-ahead, and sum
// as the files would.
TEST_F(ProjectFilesTest, EntriesUnpackedIntoMemoryAreTheFilesBytes) {
  FileContainer c(root_ / "work");
  const std::string large = largeText(3000000);
  c.set("entities.json", large);
  c.set("drivers/a.json", "{}");
  c.set("empty.json", "");
  const std::string sum = c.checksum();
  const fs::path file = root_ / "p.qor";
  HostInterface::zip(c.path(), file);

  const fs::path folder = root_ / "back";
  auto memory = HostInterface::unzip(file, folder, {}, {"entities.json", "empty.json", "not-there.json"});
  ASSERT_EQ(memory.size(), 2u);
  EXPECT_EQ(memory.at("entities.json"), large);
  EXPECT_GE(memory.at("entities.json").capacity(), large.size() + HostInterface::MEMORY_ENTRY_SPARE);
  EXPECT_EQ(memory.at("empty.json"), "");
  FileContainer back(folder);
  EXPECT_FALSE(back.exists("entities.json"));
  EXPECT_FALSE(back.exists("empty.json"));
  EXPECT_EQ(back.get("drivers/a.json"), "{}");
  EXPECT_EQ(back.checksum({}, {{"entities.json", memory.at("entities.json")}, {"empty.json", ""}}), sum);
}

// A zip bomb stops at the limits, whether the entry goes to a file or to
// memory, and the message names the entry and the limit.
TEST_F(ProjectFilesTest, UnpackingStopsAtTheLimits) {
  FileContainer c(root_ / "work");
  c.set("a.bin", std::string(3u << 20, '\0'));  // 3 MiB that deflate to a few KiB
  c.set("b.bin", std::string(3u << 20, '\0'));
  const fs::path file = root_ / "p.qor";
  HostInterface::zip(c.path(), file);
  const auto refused = [&](const UnpackLimits& limits, const std::vector<std::string>& toMemory) {
    try {
      HostInterface::unzip(file, root_ / "back", limits, toMemory);
    } catch (const std::runtime_error& e) {
      return std::string(e.what());
    }
    return std::string("unpacked");
  };
  for (const auto& toMemory : std::vector<std::vector<std::string>>{{}, {"a.bin", "b.bin"}}) {
    EXPECT_NE(refused({2u << 20, 100u << 20}, toMemory).find("is refused: entry 'a.bin' unpacks to more than 2 MiB"),
              std::string::npos);
    EXPECT_NE(refused({4u << 20, 5u << 20}, toMemory)
                  .find("is refused: the project with entry 'b.bin' unpacks to more than 5 MiB"),
              std::string::npos);
    EXPECT_EQ(refused({4u << 20, 6u << 20}, toMemory), "unpacked");
  }
}

// Entries held in memory answer as files do, in the container and in its
// scoped ones, until a caller asks for a path: then they are files.
TEST_F(ProjectFilesTest, HeldEntriesAnswerAsFilesUntilAPathIsAskedFor) {
  const std::string ids = "[\"a\",\"b\"]";
  const std::string big = largeText(200000);
  FileContainer c(root_ / "work");
  c.set("version.json", "{}");
  c.hold("drivers/a", "alpha");
  c.hold("drivers/b", big);
  c.hold("drivers/driverIds", ids);
  const fs::path onDisk = c.path() / "drivers";
  EXPECT_FALSE(fs::exists(onDisk));

  EXPECT_TRUE(c.exists("drivers"));
  EXPECT_FALSE(c.has("drivers"));
  EXPECT_TRUE(c.has("drivers/b"));
  EXPECT_EQ(c.get("drivers/b"), big);
  EXPECT_EQ(c.size("drivers/b"), big.size());
  EXPECT_EQ(c.ls(), (std::vector<std::string>{"drivers", "version.json"}));
  EXPECT_EQ(c.ls("drivers"), (std::vector<std::string>{"a", "b", "driverIds"}));
  auto sub = c.scopedContainer("drivers");
  EXPECT_EQ(sub->ls(), (std::vector<std::string>{"a", "b", "driverIds"}));
  EXPECT_EQ(sub->load("driverIds"), Json::parse(ids));

  // Written again: kept in memory, changed or not; removed: gone.
  sub->set("a", "alpha");
  sub->set("b", "beta");
  EXPECT_EQ(c.get("drivers/b"), "beta");
  EXPECT_TRUE(sub->unset("driverIds"));
  EXPECT_FALSE(c.has("drivers/driverIds"));
  EXPECT_FALSE(fs::exists(onDisk / "a"));

  // The sum is the one of the same entries written as files.
  FileContainer files(root_ / "files");
  files.set("version.json", "{}");
  files.set("drivers/a", "alpha");
  files.set("drivers/b", "beta");
  EXPECT_EQ(c.checksum(), files.checksum());
  EXPECT_EQ(c.checksum({"version.json"}), files.checksum({"version.json"}));

  // Packed and unpacked, they are the files they stand for.
  const fs::path zipped = root_ / "held.qor";
  HostInterface::zip(c.path(), zipped, c.heldEntries());
  const auto back = HostInterface::unzip(zipped, root_ / "back", UnpackLimits(), {"drivers/a", "drivers/b"});
  EXPECT_EQ(back.at("drivers/a"), "alpha");
  EXPECT_EQ(back.at("drivers/b"), "beta");

  // Asking for a path writes the entry (or a folder's entries) out.
  const fs::path a = c.path("drivers");
  EXPECT_EQ(readFileBytes(onDisk / "a", 100), "alpha");
  EXPECT_EQ(readFileBytes(onDisk / "b", 100), "beta");
  EXPECT_TRUE(c.heldEntries().empty());
  EXPECT_EQ(c.checksum(), files.checksum());
  EXPECT_TRUE(c.rm("drivers"));
  EXPECT_FALSE(c.exists("drivers"));
  EXPECT_FALSE(fs::exists(a));
}

}  // namespace
}  // namespace fennik::server
