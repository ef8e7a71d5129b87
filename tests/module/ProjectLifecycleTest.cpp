// The host's project life cycle with the live-sound module: what is saved
// comes back entity by entity, the services' hooks see the container, and a
// file that cannot be opened changes neither itself nor the running project.

#include "module/LivesoundModule.h"
#include "support/ProjectFiles.h"

#include "qor/server/entities/All.h"
#include "qor/server/services/FtDelayService.h"
#include "qor/server/services/FtLabelService.h"

#include "fennik/server/entity/Database.h"
#include "fennik/server/project/EntitiesReader.h"
#include "fennik/server/project/FileContainer.h"
#include "fennik/server/project/HostInterface.h"
#include "fennik/server/service/ServiceResolver.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

namespace qor::server::testing {
namespace {

namespace fs = std::filesystem;
using fennik::server::EntityContext;
using fennik::server::EntityJsonSerializer;
using fennik::server::FileContainer;
using fennik::server::Json;
using fennik::server::ProjectError;
using fennik::server::ProjectManager;

// Records the project hooks and keeps a note of its own in the container.
class RecordingService : public fennik::server::Service {
 public:
  using Service::Service;
  std::vector<std::string> calls;
  std::string note;
  void load(FileContainer& c) override {
    calls.push_back("load");
    note = c.has("recorder/note.txt") ? c.get("recorder/note.txt") : "";
  }
  void loaded() override { calls.push_back("loaded"); }
  void loadedFinished() override { calls.push_back("loadedFinished"); }
  void save(FileContainer& c) override {
    calls.push_back("save");
    c.scopedContainer("recorder")->set("note.txt", note);
  }
};

// Every stored entity as its file form, by id.
std::map<std::string, Json> snapshot(const EntityContext& context) { return entitiesById(context, false); }

class ProjectLifecycleTest : public ::testing::Test {
 protected:
  ProjectLifecycleTest() : context_(makeProjectContext()), project_(context_, "test 1.0") {
    recorder_ = std::make_shared<RecordingService>(context_->db(), context_->loop(), context_->services());
    context_->services()->add(recorder_);
  }
  ~ProjectLifecycleTest() override {
    project_.close();
    context_->services()->clear();
  }

  // A delay group over two members with different bridge modes, one member
  // linked to a third delay and labelled.
  void buildDelays() {
    auto delays = context_->services()->get<FtDelayService>();
    group_ = delays->create();
    group_->setIsGroup(true, false);
    group_->setSource(FtSource::GROUP, false);
    a_ = delays->create();
    b_ = delays->create();
    c_ = delays->create();
    delays->setBridgeMode(a_, FtBridgeMode::PARALLEL, false);
    delays->setBridgeMode(b_, FtBridgeMode::BRIDGED, false);
    delays->addChild(group_, a_, false);
    delays->addChild(group_, b_, true);
    a_->addLinked(c_);
    c_->addLinked(a_);
    auto* label = context_->services()->get<FtLabelService>()->create();
    label->setName("Left hang", false);
    a_->setLabel(label);
    ASSERT_FALSE(group_->getBridgeModeConsistent());
  }

  ScratchFolder scratch_;
  std::shared_ptr<EntityContext> context_;
  ProjectManager project_;
  std::shared_ptr<RecordingService> recorder_;
  FtDelay* group_ = nullptr;
  FtDelay* a_ = nullptr;
  FtDelay* b_ = nullptr;
  FtDelay* c_ = nullptr;
};

TEST_F(ProjectLifecycleTest, SavedProjectReopensEqualWithPointersAndReaggregatedGroups) {
  project_.newProject();
  EXPECT_EQ(recorder_->calls, (std::vector<std::string>{"load", "loaded", "loadedFinished"}));
  EXPECT_THROW(project_.save(), ProjectError);  // no file yet
  buildDelays();
  recorder_->note = "kept in the container";
  const auto before = snapshot(*context_);
  const fs::path file = scratch_ / "show.qor";
  project_.saveAs(file);
  EXPECT_EQ(project_.file(), file);
  // Written beside the target and renamed: nothing else is left there.
  EXPECT_EQ(std::distance(fs::directory_iterator(scratch_.path()), fs::directory_iterator()), 1);

  // A stale aggregate in the file is recomputed on load.
  editProject(file, [&](Json& doc) {
    for (auto& d : doc["qor::server::FtDelay"]) {
      if (d["id"] == group_->strId()) d["bridgeModeConsistent"] = true;
    }
  });

  auto other = makeProjectContext();
  auto otherRecorder = std::make_shared<RecordingService>(other->db(), other->loop(), other->services());
  other->services()->add(otherRecorder);
  ProjectManager reopened(other, "test 1.0");
  reopened.open(file);
  EXPECT_EQ(otherRecorder->calls, (std::vector<std::string>{"load", "loaded", "loadedFinished"}));
  EXPECT_EQ(otherRecorder->note, "kept in the container");
  EXPECT_EQ(reopened.storedVersion(), (fennik::server::SchemaVersion{1, 3, 0}));
  EXPECT_EQ(snapshot(*other), before);

  auto* group = other->db()->get<FtDelay>(group_->id());
  auto* a = other->db()->get<FtDelay>(a_->id());
  ASSERT_TRUE(group && a);
  EXPECT_FALSE(group->getBridgeModeConsistent());
  ASSERT_EQ(group->childrenShareds().size(), 2u);
  EXPECT_EQ(group->childrenShareds()[0], a);
  EXPECT_EQ(a->parents(), std::vector<FtDelay*>{group});
  ASSERT_EQ(a->linkeds().size(), 1u);
  EXPECT_EQ(a->linkeds()[0]->id(), c_->id());
  ASSERT_TRUE(a->getLabel());
  EXPECT_EQ(a->getLabel()->getName(), "Left hang");

  // Saving the reopened project again keeps it equal; save hooks ran.
  reopened.save();
  EXPECT_EQ(otherRecorder->calls.back(), "save");
  reopened.close();
  EXPECT_EQ(other->db()->size(), 0u);
  other->services()->clear();
}

TEST_F(ProjectLifecycleTest, AProjectOfManyPiecesOpensAsItWasSaved) {
  // More entities than one piece of the reading holds, read while the file
  // is unpacked; the labels' names hold the text that separates entities
  // ("},{"), so some pieces are cut in the wrong place and read again.
  project_.newProject();
  auto delays = context_->services()->get<FtDelayService>();
  auto labels = context_->services()->get<FtLabelService>();
  for (int i = 0; i < 12000; ++i) {
    FtDelay* delay = delays->create();
    delays->setDelayInMs(delay, i / 8.0, false);
    FtLabel* label = labels->create();
    label->setName("hang " + std::to_string(i) + " },{\"id\":\"x\"}", false);
    delay->setLabel(label);
  }
  const auto saved = snapshot(*context_);
  const fs::path file = scratch_ / "large.qor";
  project_.saveAs(file);
  {
    ScratchFolder unpacked;
    const auto entries = fennik::server::HostInterface::unzip(file, unpacked.path(), {}, {"entities.json"});
    ASSERT_GT(entries.at("entities.json").size(), 2 * fennik::server::ENTITY_PIECE_BYTES);
  }

  auto other = makeProjectContext();
  ProjectManager reopened(other, "test 1.0");
  reopened.open(file);
  EXPECT_EQ(snapshot(*other), saved);
  reopened.close();
  other->services()->clear();
}

TEST_F(ProjectLifecycleTest, FilesThatCannotBeOpenedChangeNothing) {
  project_.newProject();
  buildDelays();
  const fs::path good = scratch_ / "good.qor";
  project_.saveAs(good);
  const auto running = snapshot(*context_);

  auto expectRefused = [&](const fs::path& file, std::vector<std::string> parts) {
    SCOPED_TRACE(file.string());
    const std::string bytes = fs::exists(file) ? readBytes(file) : "";
    try {
      project_.open(file);
      ADD_FAILURE() << "opened";
    } catch (const ProjectError& e) {
      parts.push_back(file.filename().string());
      for (const auto& p : parts) EXPECT_NE(std::string(e.what()).find(p), std::string::npos) << e.what();
    }
    EXPECT_EQ(snapshot(*context_), running);
    EXPECT_EQ(project_.file(), good);
    if (!bytes.empty()) {
      EXPECT_EQ(readBytes(file), bytes);
    }
  };

  // Damaged zip: the middle of the file overwritten.
  const fs::path damaged = scratch_ / "damaged.qor";
  std::string bytes = readBytes(good);
  for (std::size_t i = bytes.size() / 3; i < bytes.size() / 3 + 64; ++i) bytes[i] = static_cast<char>(~bytes[i]);
  { std::ofstream(damaged, std::ios::binary) << bytes; }
  expectRefused(damaged, {});
  const fs::path truncated = scratch_ / "truncated.qor";
  { std::ofstream(truncated, std::ios::binary) << readBytes(good).substr(0, 100); }
  expectRefused(truncated, {"no readable project file"});

  // A wrong JSON type names file, class, id and key.
  const fs::path typeError = scratch_ / "type-error.qor";
  fs::copy_file(good, typeError);
  editProject(typeError, [&](Json& doc) {
    for (auto& d : doc["qor::server::FtDelay"]) {
      if (d["id"] == b_->strId()) d["index"] = "three";
    }
  });
  expectRefused(typeError, {"qor::server::FtDelay", b_->strId(), "'index'", "type must be number"});

  const fs::path badId = scratch_ / "bad-id.qor";
  fs::copy_file(good, badId);
  editProject(badId, [](Json& doc) { doc["qor::server::FtDelay"][0]["id"] = "1234"; });
  expectRefused(badId, {"qor::server::FtDelay", "'id'"});

  const fs::path twice = scratch_ / "twice.qor";
  fs::copy_file(good, twice);
  editProject(twice, [](Json& doc) { doc["qor::server::FtDelay"].push_back(doc["qor::server::FtDelay"][0]); });
  expectRefused(twice, {"used twice"});

  // Edited behind the server's back: the checksum no longer fits.
  const fs::path edited = scratch_ / "edited.qor";
  {
    ScratchFolder unpacked;
    fennik::server::HostInterface::unzip(good, unpacked.path());
    FileContainer(unpacked.path()).set("entities.json", "{\"qor::server::FtDelay\": []}");
    fennik::server::HostInterface::zip(unpacked.path(), edited);
  }
  expectRefused(edited, {"damaged", "checksum"});

  // Not JSON inside, foreign zips, newer schemas, plain text, nothing. A file
  // of one entry, with a version record when a schema is given:
  auto packedWith = [&](const std::string& name, const std::string& entry, const std::string& bytes,
                        const std::string& schema) {
    const fs::path file = scratch_ / name;
    ScratchFolder folder;
    FileContainer(folder.path()).set(entry, bytes);
    if (schema.empty()) {
      fennik::server::HostInterface::zip(folder.path(), file);
    } else {
      packProject(folder.path(), file, schema);
    }
    return file;
  };
  expectRefused(packedWith("not-json.qor", "entities.json", "{broken", "1.3.0"), {"entities.json", "no valid JSON"});
  expectRefused(packedWith("foreign.zip", "readme.txt", "hello", ""), {"no qorserver project"});
  expectRefused(packedWith("newer.qor", "entities.json", "{}", "9.0.0"), {"9.0.0", "1.3.0"});
  const fs::path text = scratch_ / "notes.txt";
  { std::ofstream(text) << "just some notes\n"; }
  expectRefused(text, {});
  expectRefused(scratch_ / "missing.qor", {"does not exist"});

  // Saving where it cannot: the project keeps its file.
  EXPECT_THROW(project_.saveAs(scratch_ / "no-such-folder" / "x.qor"), ProjectError);
  EXPECT_EQ(project_.file(), good);
  EXPECT_EQ(snapshot(*context_), running);
}

TEST_F(ProjectLifecycleTest, MigrationsAreRegisteredOnceInVersionOrderAndStay) {
  registerLivesoundServices(context_);  // again: nothing doubles
  const auto& all = context_->migrations().all();
  ASSERT_EQ(all.size(), 4u);
  const std::vector<std::pair<std::string, std::string>> expected{{"Migration_100_120", "1.1.1"},
                                                                  {"Migration_120_122", "1.2.2"},
                                                                  {"Migration_122_124", "1.2.4"},
                                                                  {"Migration_124_130", "1.3.0"}};
  for (std::size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(all[i]->name(), expected[i].first);
    EXPECT_EQ(all[i]->version().toString(), expected[i].second);
  }
  deRegisterLivesoundServices(context_);
  EXPECT_EQ(context_->migrations().all().size(), 4u);
  EXPECT_EQ(project_.currentVersion(), (fennik::server::SchemaVersion{1, 3, 0}));
}

}  // namespace
}  // namespace qor::server::testing
