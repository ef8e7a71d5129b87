// The entity database: ids stay unique, classes keep insertion order through
// deletions, and listeners see additions and removals of their class only.

#include "fennik/server/entity/Database.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fennik::server {
namespace {

template <const char* Name>
class TestEntity final : public Entity {
 public:
  static constexpr std::string_view CLASS_NAME = Name;
  using Entity::Entity;
  std::string_view className() const override { return CLASS_NAME; }
  bool isFileFlagSet() const override { return true; }
  bool isInterfaceFlagSet() const override { return true; }
  const EntityFieldDescriptors& getFieldDescriptors() const override {
    static const EntityFieldDescriptors none;
    return none;
  }
};

constexpr char kApple[] = "test::Apple";
constexpr char kPear[] = "test::Pear";
using Apple = TestEntity<kApple>;
using Pear = TestEntity<kPear>;

template <class T>
std::shared_ptr<T> make() {
  return std::make_shared<T>(random_uuid());
}

class FakeSerializer final : public EntitySerializer {
 public:
  explicit FakeSerializer(std::string name) : name_(std::move(name)) {}
  std::string_view entityClassName() const override { return name_; }
  std::type_index family() const override { return typeid(FakeSerializer); }

 private:
  std::string name_;
};

TEST(DatabaseTest, KeepsInsertionOrderPerClassThroughDeletions) {
  Database db;
  auto a1 = make<Apple>(), a2 = make<Apple>(), a3 = make<Apple>();
  auto p1 = make<Pear>();
  db.add(a1);
  db.add(p1);
  db.add(a2);
  db.add(a3);
  EXPECT_EQ(db.all<Apple>(), (std::vector<Apple*>{a1.get(), a2.get(), a3.get()}));
  EXPECT_EQ(db.countOfClass(kPear), 1u);

  EXPECT_TRUE(db.deleteEntity(a2.get()));
  EXPECT_FALSE(db.deleteEntity(a2.get())) << "already gone";
  EXPECT_TRUE(db.deleteEntity(p1->id()));
  EXPECT_FALSE(db.deleteEntity(random_uuid()));
  auto a4 = make<Apple>();
  db.add(a4);
  EXPECT_EQ(db.all<Apple>(), (std::vector<Apple*>{a1.get(), a3.get(), a4.get()}));
  EXPECT_EQ(db.size(), 3u);
  EXPECT_EQ(db.find(a3->id()), a3.get());
  EXPECT_EQ(db.get<Pear>(a3->id()), nullptr) << "typed lookup checks the type";
  EXPECT_TRUE(db.ofClass("no::Such").empty());
}

TEST(DatabaseTest, RejectsDuplicateIdsAndNull) {
  Database db;
  auto a = make<Apple>();
  db.add(a);
  auto twin = std::make_shared<Pear>(a->id());
  EXPECT_THROW(db.add(twin), std::invalid_argument);
  EXPECT_THROW(db.add(nullptr), std::invalid_argument);
  EXPECT_EQ(db.size(), 1u);
  // Deleting by pointer must not delete another entity that has the same id.
  EXPECT_FALSE(db.deleteEntity(twin.get()));
  EXPECT_EQ(db.find(a->id()), a.get());
}

TEST(DatabaseTest, SignalsAdditionsAndRemovalsPerClassWithTheEntityStillAlive) {
  Database db;
  std::vector<std::string> seen;
  auto onAdd = db.onAdded(kApple, [&](Entity* e) { seen.push_back("+" + e->strId()); });
  auto onRemove = db.onRemoved(kApple, [&](Entity* e) {
    EXPECT_EQ(e->className(), kApple) << "the entity is still alive while listeners run";
    EXPECT_EQ(db.find(e->id()), nullptr) << "and no longer found";
    seen.push_back("-" + e->strId());
  });
  (void)onAdd;
  (void)onRemove;
  auto a = make<Apple>();
  const auto id = a->strId();
  db.add(a);
  db.add(make<Pear>());
  a.reset();  // the database now holds the only reference
  db.clear();
  EXPECT_EQ(seen, (std::vector<std::string>{"+" + id, "-" + id}));
  EXPECT_EQ(db.size(), 0u);
}

TEST(DatabaseTest, SerializersAreKeyedByFamilyAndClassAndReplaced) {
  Database db;
  auto first = std::make_shared<FakeSerializer>(kApple);
  auto second = std::make_shared<FakeSerializer>(kApple);
  db.registerSerializer(first);
  db.registerSerializer(second);
  db.registerSerializer(std::make_shared<FakeSerializer>(kPear));
  EXPECT_EQ(db.serializerCount(), 2u);
  EXPECT_EQ(db.serializer<FakeSerializer>(kApple), second);
  EXPECT_EQ(db.serializer(typeid(int), kApple), nullptr);
  db.deregisterSerializer(typeid(FakeSerializer), kApple);
  EXPECT_EQ(db.serializer<FakeSerializer>(kApple), nullptr);
  EXPECT_EQ(db.serializerCount(), 1u);
}

}  // namespace
}  // namespace fennik::server
