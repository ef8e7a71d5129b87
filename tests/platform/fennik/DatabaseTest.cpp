// The entity database: ids stay unique, classes keep insertion order through
// deletions, and listeners see additions and removals of their class only.
// Also the relation lists the entities keep of each other.

#include "fennik/server/entity/Database.h"
#include "fennik/server/entity/Relation.h"

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

TEST(DatabaseTest, OrderAndLookupSurviveManyDeletionsAndWalksThatChangeTheClass) {
  Database db;
  std::vector<std::shared_ptr<Apple>> apples;
  for (int i = 0; i < 200; ++i) {
    apples.push_back(make<Apple>());
    db.add(apples.back());
  }
  // Out of the middle, far more than half: the class's order closes its gaps.
  std::vector<Apple*> expected;
  for (int i = 0; i < 200; ++i) {
    if (i % 5 == 0) {
      expected.push_back(apples[i].get());
    } else {
      EXPECT_TRUE(db.deleteEntity(apples[i]->id()));
    }
  }
  EXPECT_EQ(db.all<Apple>(), expected);
  EXPECT_EQ(db.countOfClass(kApple), 40u);
  // Every survivor is still found, and deleting one takes exactly it.
  for (Apple* a : expected) EXPECT_EQ(db.find(a->id()), a);
  EXPECT_TRUE(db.deleteEntity(expected[7]));
  expected.erase(expected.begin() + 7);
  EXPECT_EQ(db.all<Apple>(), expected);

  // A walk sees what is added during it and not what is deleted before its
  // turn, even when most of the class goes.
  auto late = make<Apple>();
  std::vector<Apple*> walked;
  db.forEachOfClass(kApple, [&](Entity* e) {
    walked.push_back(static_cast<Apple*>(e));
    if (e == expected.front()) {
      for (std::size_t i = 1; i + 1 < expected.size(); ++i) db.deleteEntity(expected[i]);
      db.add(late);
    }
  });
  EXPECT_EQ(walked, (std::vector<Apple*>{expected.front(), expected.back(), late.get()}));
  EXPECT_EQ(db.all<Apple>(), walked);
  EXPECT_EQ(db.entities().size(), 3u);
  db.clear();
  EXPECT_EQ(db.size(), 0u);
  EXPECT_TRUE(db.all<Apple>().empty());
}

TEST(RelationListTest, KeepsPointersAndIdsInOrderAndResolvesLoadedIds) {
  std::vector<std::shared_ptr<Apple>> apples;
  for (int i = 0; i < 9; ++i) apples.push_back(make<Apple>());
  RelationList<Apple> list;
  EXPECT_TRUE(list.empty());
  EXPECT_TRUE(list.ids().empty());
  // Past the first few entries, so the list grows several times.
  for (int i = 0; i < 9; ++i) list.add(apples[i % 3 == 2 ? 0 : i].get());
  std::vector<Apple*> added;
  std::vector<Uuid> addedIds;
  for (int i = 0; i < 9; ++i) {
    added.push_back(apples[i % 3 == 2 ? 0 : i].get());
    addedIds.push_back(added.back()->id());
  }
  EXPECT_EQ(list.pointers(), added);
  EXPECT_EQ(list.ids(), addedIds);
  EXPECT_EQ(list.pointers().at(1), apples[1].get());
  EXPECT_THROW((void)list.pointers().at(9), std::out_of_range);

  // Removing takes every occurrence, of the pointer and of its id.
  list.remove(apples[0].get());
  EXPECT_EQ(list.pointers(),
            (std::vector<Apple*>{apples[1].get(), apples[3].get(), apples[4].get(), apples[6].get(), apples[7].get()}));
  EXPECT_EQ(list.ids().size(), 5u);
  for (Apple* a : list.pointers().toVector()) list.remove(a);
  EXPECT_TRUE(list.empty());
  EXPECT_TRUE(list.ids().empty());

  // Loaded from a file: ids first, no pointers until resolved; an id that
  // names nothing (or another class) resolves to a null pointer and stays.
  Database db;
  db.add(apples[4]);
  db.add(apples[5]);
  auto pear = make<Pear>();
  db.add(pear);
  const std::vector<Uuid> loaded{apples[5]->id(), random_uuid(), pear->id(), apples[4]->id()};
  list.setIds(loaded);
  EXPECT_TRUE(list.empty()) << "no pointers before resolving";
  EXPECT_EQ(list.ids(), loaded);
  list.resolve([&db](const Uuid& id) { return db.find(id); });
  EXPECT_EQ(list.pointers(), (std::vector<Apple*>{apples[5].get(), nullptr, nullptr, apples[4].get()}));
  EXPECT_EQ(list.ids(), loaded);
  list.setIds({});
  EXPECT_TRUE(list.ids().empty());
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

TEST(DatabaseTest, ClearingTellsEachRemovalToItsListenersAndTakesTheUnheardClassesAtOnce) {
  Database db;
  std::vector<std::shared_ptr<Pear>> pears;
  for (int i = 0; i < 40; ++i) {
    db.add(make<Apple>());
    pears.push_back(make<Pear>());
    db.add(pears.back());
  }
  // A listener that, at the first removal it hears, adds an apple (heard
  // too, later) and a pear (nobody hears of pears; it must go all the same).
  int heard = 0;
  auto onRemove = db.onRemoved(kApple, [&](Entity*) {
    if (heard++ == 0) {
      db.add(make<Apple>());
      pears.push_back(make<Pear>());
      db.add(pears.back());
    }
  });
  (void)onRemove;
  db.clear();
  EXPECT_EQ(heard, 41);
  EXPECT_EQ(db.size(), 0u);
  EXPECT_EQ(db.countOfClass(kPear), 0u);
  for (const auto& pear : pears) EXPECT_EQ(db.find(pear->id()), nullptr);

  // The database works as new afterwards.
  auto again = make<Pear>();
  db.add(again);
  EXPECT_EQ(db.find(again->id()), again.get());
  EXPECT_EQ(db.ofClass(kPear), std::vector<Entity*>{again.get()});
  db.deleteEntity(again.get());
  EXPECT_EQ(db.size(), 0u);
}

TEST(DatabaseTest, AdoptingTakesEveryEntityWithItsOrderAndSignalsThroughTheListenersOfTheAdoptingDatabase) {
  Database running;
  std::vector<std::string> seen;
  auto late = make<Pear>();
  // Listeners of the running database, as services connect them: one adds
  // an entity while the adopted ones are signalled.
  auto onApple = running.onAdded(kApple, [&](Entity* e) {
    EXPECT_EQ(running.find(e->id()), e) << "signalled once it can be found";
    seen.push_back("apple");
    if (!running.find(late->id())) running.add(late);
  });
  auto onPear = running.onAdded(kPear, [&](Entity*) { seen.push_back("pear"); });
  (void)onApple;
  (void)onPear;
  running.add(make<Apple>());
  running.clear();
  seen.clear();

  Database aside;
  auto a1 = make<Apple>(), a2 = make<Apple>(), a3 = make<Apple>();
  auto p1 = make<Pear>();
  for (const EntityPtr& e : std::vector<EntityPtr>{a1, p1, a2, a3}) aside.add(e);
  aside.deleteEntity(a2.get());
  running.adopt(aside);

  EXPECT_EQ(aside.size(), 0u);
  EXPECT_EQ(aside.find(a1->id()), nullptr);
  EXPECT_EQ(running.size(), 4u) << "three adopted, one added by a listener";
  EXPECT_EQ(running.all<Apple>(), (std::vector<Apple*>{a1.get(), a3.get()}));
  EXPECT_EQ(running.all<Pear>(), (std::vector<Pear*>{p1.get(), late.get()}));
  EXPECT_EQ(seen, (std::vector<std::string>{"apple", "pear", "apple", "pear"}))
      << "each adopted entity once, and the added one by its own addition";
  // Both databases go on working: deletion, re-adding, the emptied one reused.
  EXPECT_TRUE(running.deleteEntity(a1.get()));
  EXPECT_EQ(running.all<Apple>(), (std::vector<Apple*>{a3.get()}));
  aside.add(a2);
  EXPECT_EQ(aside.all<Apple>(), (std::vector<Apple*>{a2.get()}));

  // Only an empty database adopts; the other keeps what it has.
  EXPECT_THROW(running.adopt(aside), std::logic_error);
  EXPECT_EQ(aside.find(a2->id()), a2.get());
  EXPECT_EQ(running.find(a2->id()), nullptr);
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
