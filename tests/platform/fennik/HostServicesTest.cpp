// The host services the module builds on: timers and debouncing on the loop's
// clock, the ordered service resolver, singletons, notifications, migrations.

#include "fennik/server/core/SingletonRegistry.h"
#include "fennik/server/service/DebounceService.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/KeywordService.h"
#include "fennik/server/service/Migration.h"
#include "fennik/server/service/NotificationService.h"
#include "fennik/server/service/ServiceResolver.h"
#include "fennik/server/service/TimerService.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fennik::server {
namespace {

using namespace std::chrono_literals;

class HostServicesTest : public ::testing::Test {
 protected:
  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
  std::shared_ptr<EntityContext> context = EntityContext::create(JobLoop::Mode::Manual, clock);

  template <class S>
  std::shared_ptr<S> make() {
    return std::make_shared<S>(context->db(), context->loop(), context->services());
  }
  void advance(std::chrono::milliseconds by) {
    clock->advance(by);
    context->loop()->runUntilIdle();
  }
};

TEST_F(HostServicesTest, TimeoutsFireOnceAfterTheirTimeAndCanBeCancelled) {
  auto timers = make<TimerService>();
  int fired = 0;
  timers->createTimeout(1000, "check", [&] { ++fired; });
  const Uuid cancelled = timers->createTimeout(500, "cancelled", [&] { fired += 100; });
  EXPECT_TRUE(timers->cancelTimeout(cancelled));
  advance(999ms);
  EXPECT_EQ(fired, 0);
  advance(1ms);
  EXPECT_EQ(fired, 1);
  advance(5000ms);
  EXPECT_EQ(fired, 1) << "one-shot";
  EXPECT_FALSE(timers->cancelTimeout(cancelled));

  // Periodic work re-arms itself.
  int ticks = 0;
  std::function<void()> tick = [&] {
    ++ticks;
    timers->createTimeout(3000, "tick", tick);
  };
  timers->createTimeout(3000, "tick", tick);
  advance(3000ms);
  advance(3000ms);
  advance(2999ms);
  EXPECT_EQ(ticks, 2);
}

TEST_F(HostServicesTest, BlockedExecutionWaitsOutItsWindow) {
  auto debounce = make<DebounceService>();
  const Uuid id = random_uuid(), key = random_uuid();
  int ran = 0;
  EXPECT_TRUE(debounce->executeIfNotBlocked(id, key, "run", [&] { ++ran; }));
  debounce->blockExecution(id, key, 1000);
  EXPECT_FALSE(debounce->executeIfNotBlocked(id, key, "run", [&] { ++ran; }));
  EXPECT_TRUE(debounce->executeIfNotBlocked(id, random_uuid(), "other key", [&] { ++ran; }));
  advance(1000ms);
  EXPECT_TRUE(debounce->executeIfNotBlocked(id, key, "run", [&] { ++ran; }));
  EXPECT_EQ(ran, 3);
}

TEST_F(HostServicesTest, AtMostEachRunsAtOnceThenOnceMoreWithTheLatestCallAtTheEndOfTheWindow) {
  auto debounce = make<DebounceService>();
  const Uuid id = random_uuid(), key = random_uuid();
  std::vector<int> ran;
  debounce->executeAtMostEach(id, key, "meter", 100, [&] { ran.push_back(1); });
  debounce->executeAtMostEach(id, key, "meter", 100, [&] { ran.push_back(2); });
  advance(50ms);
  debounce->executeAtMostEach(id, key, "meter", 100, [&] { ran.push_back(3); });
  EXPECT_EQ(ran, (std::vector<int>{1}));
  advance(50ms);
  EXPECT_EQ(ran, (std::vector<int>{1, 3})) << "the last value is never lost";
  advance(1000ms);
  EXPECT_EQ(ran, (std::vector<int>{1, 3}));
  debounce->executeAtMostEach(id, key, "meter", 100, [&] { ran.push_back(4); });
  EXPECT_EQ(ran, (std::vector<int>{1, 3, 4}));
}

class OtherService : public Service {
 public:
  using Service::Service;
};

TEST_F(HostServicesTest, ResolverKeepsOrderReplacesByTypeMovingToTheEndAndResolvesBases) {
  ServiceResolver resolver;
  auto timers = make<TimerService>();
  auto other = make<OtherService>();
  auto debounce = make<DebounceService>();
  resolver.add(timers);
  resolver.add(other);
  resolver.add(debounce);
  auto timers2 = make<TimerService>();
  resolver.add(timers2);
  ASSERT_EQ(resolver.size(), 3u);
  EXPECT_EQ(resolver.ordered()[0].second, other);
  EXPECT_EQ(resolver.ordered()[2].second, timers2);
  EXPECT_EQ(resolver.get<TimerService>(), timers2);
  EXPECT_EQ(resolver.get<Service>(), other) << "by base class: the first that is one";
  EXPECT_EQ(timers2->serviceName(), "fennik::server::TimerService");
  EXPECT_TRUE(resolver.remove<OtherService>());
  EXPECT_FALSE(resolver.remove<OtherService>());
  EXPECT_EQ(resolver.get<OtherService>(), nullptr);
}

TEST_F(HostServicesTest, SingletonsAreFoundByExactTypeOnly) {
  SingletonRegistry registry;
  EXPECT_EQ(registry.get<EntityContext>(), nullptr);
  registry.add(context);
  EXPECT_EQ(registry.get<EntityContext>(), context);
  registry.add(context->notifications());
  EXPECT_EQ(registry.get<NotificationService>(), context->notifications());
  registry.remove<EntityContext>();
  EXPECT_EQ(registry.get<EntityContext>(), nullptr);
}

TEST_F(HostServicesTest, NotificationsReachListenersAndKeepABoundedHistory) {
  NotificationService notifications(3);
  std::vector<std::string> heard;
  auto c = notifications.onCreated([&](const Notification& n) { heard.push_back(n.title); });
  for (int i = 0; i < 5; ++i) notifications.create("n" + std::to_string(i), "text", NotificationType::Warning);
  EXPECT_EQ(heard.size(), 5u);
  auto history = notifications.history();
  ASSERT_EQ(history.size(), 3u);
  EXPECT_EQ(history.front().title, "n2");
  EXPECT_EQ(history.back().type, NotificationType::Warning);
  EXPECT_STREQ(toString(NotificationType::Error), "error");
}

class NamedMigration : public Migration {
 public:
  NamedMigration(SchemaVersion v, std::string name) : Migration(v), name_(std::move(name)) {}
  std::string name() const override { return name_; }
  void migrate(const std::shared_ptr<FileContainer>&) override {}

 private:
  std::string name_;
};

TEST_F(HostServicesTest, MigrationsNewerThanTheStoredVersionRunInVersionOrder) {
  Migrations migrations;
  migrations.add(std::make_shared<NamedMigration>(SchemaVersion{1, 3, 0}, "to130"));
  migrations.add(std::make_shared<NamedMigration>(SchemaVersion{1, 1, 1}, "to111"));
  migrations.add(std::make_shared<NamedMigration>(SchemaVersion{1, 2, 4}, "to124"));
  migrations.add(std::make_shared<NamedMigration>(SchemaVersion{1, 2, 2}, "to122"));
  std::vector<std::string> names;
  for (const auto& m : migrations.pendingFor({1, 2, 2})) names.push_back(m->name());
  EXPECT_EQ(names, (std::vector<std::string>{"to124", "to130"}));
  EXPECT_EQ(migrations.pendingFor({1, 0, 0}).front()->name(), "to111");
  EXPECT_TRUE(migrations.pendingFor({1, 3, 0}).empty());
  EXPECT_EQ(migrations.latest(), (SchemaVersion{1, 3, 0}));
  EXPECT_EQ(migrations.all().size(), 4u);

  EXPECT_EQ(SchemaVersion::parse("1.2.4"), (SchemaVersion{1, 2, 4}));
  EXPECT_EQ((SchemaVersion{1, 2, 4}).toString(), "1.2.4");
  for (const char* bad : {"", "1.2", "1.2.", "1.x.3", "1.2.3.4", "-1.2.3", "1.2.3 "}) {
    EXPECT_THROW(SchemaVersion::parse(bad), std::invalid_argument) << bad;
  }
}

TEST_F(HostServicesTest, KeywordsResolveRegardlessOfCaseAndBadNamesSayWhatIsWrong) {
  auto keywords = make<KeywordService>();
  keywords->add(KeywordKey::parse("livesound.FtAudio.levelInDb"));
  const auto resolved = keywords->resolve(KeywordKey::parse("  LIVESOUND.ftaudio.LEVELINDB "));
  ASSERT_TRUE(resolved);
  EXPECT_EQ(resolved->fullname(), "livesound.FtAudio.levelInDb");
  EXPECT_FALSE(keywords->resolve(KeywordKey::parse("livesound.FtAudio.trimInDb")));
  EXPECT_TRUE(keywords->remove(KeywordKey::parse("livesound.ftaudio.levelindb")));
  EXPECT_FALSE(keywords->resolve(KeywordKey::parse("livesound.FtAudio.levelInDb")));

  auto refusal = [](const std::string& text) {
    try {
      KeywordKey::parse(text);
    } catch (const std::invalid_argument& e) {
      return std::string(e.what());
    }
    return std::string("accepted");
  };
  EXPECT_EQ(refusal("a.b"), "accepted");
  EXPECT_EQ(refusal("   "), "a keyword is empty");
  EXPECT_EQ(refusal("level"), "keyword 'level' names no owner (it has no dot)");
  EXPECT_EQ(refusal("a..b"), "keyword 'a..b' has an empty part");
  EXPECT_EQ(refusal("a.b c"), "keyword 'a.b c' may hold only letters, digits, '_' and '-' between its dots");
  EXPECT_NE(refusal("a." + std::string(65, 'x')).find("has a part longer than 64 characters"), std::string::npos);
  std::string deep = "a";
  for (int i = 0; i < 16; ++i) deep += ".b";
  EXPECT_NE(refusal(deep).find("more than 16 parts"), std::string::npos);
}

}  // namespace
}  // namespace fennik::server
