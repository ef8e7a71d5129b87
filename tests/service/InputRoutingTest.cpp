// Input-source selection over routing groups: every target routing selects
// the matching source, and the driver flag rises and falls around each change.

#include "service/AmplifierFixture.h"

namespace qor::server::testing {
namespace {

class InputRoutingTest : public AmplifierFixture {
 protected:
  std::shared_ptr<FtInputRoutingService> routings = service<FtInputRoutingService>();

  // Records every write of sendSelectedInputSourcesToDriver on a routing.
  std::vector<bool>& watch(FtInputRouting* routing) {
    auto& log = flagLog_[routing];
    connections_.emplace_back(
        routing->onSendSelectedInputSourcesToDriverChanged([&log](const bool& v, bool) { log.push_back(v); }));
    return log;
  }

 private:
  std::map<FtInputRouting*, std::vector<bool>> flagLog_;
  std::vector<boost::signals2::scoped_connection> connections_;
};

TEST_F(InputRoutingTest, SelectionReachesEveryTargetWithTheFlagRisingAndFalling) {
  Device* amp1 = amplifier();
  Device* amp2 = amplifier();
  Device* g = devices->createGroup(fennik::server::random_uuid(), {amp1, amp2});
  FtInputRouting* groupDefault = g->inputRoutings()[0];
  ASSERT_EQ(groupDefault->getRoutingType(), FtInputRoutingType::DEFAULT);

  // The group channel offers what both members offer.
  FtInputRouting* groupChannel = channel(groupDefault, 0);
  ASSERT_EQ(groupChannel->allInputSources().size(), 2u);
  FtInputSource* dante = groupChannel->allInputSources()[1];
  EXPECT_EQ(dante->getKey(), FtInputSourceFamily::DANTE);

  std::vector<FtInputRouting*> targets;
  for (Device* amp : {amp1, amp2}) {
    for (FtInputRouting* r : amp->inputRoutings()[0]->childrens()) targets.push_back(r);
  }
  std::vector<std::vector<bool>*> logs;
  for (FtInputRouting* t : targets) logs.push_back(&watch(t));

  routings->selectInputSource(groupDefault, dante);
  for (std::size_t i = 0; i < targets.size(); ++i) {
    ASSERT_EQ(targets[i]->selectedInputSources().size(), 1u);
    EXPECT_EQ(targets[i]->selectedInputSources()[0]->getKey(), FtInputSourceFamily::DANTE);
    EXPECT_EQ(*logs[i], (std::vector<bool>{true, false})) << "target " << i;
    EXPECT_FALSE(targets[i]->getSendSelectedInputSourcesToDriver());
  }
  EXPECT_EQ(amp1->inputRoutings()[1]->childrens()[0]->selectedInputSources().size(), 0u)
      << "failover routings are another group";
  EXPECT_EQ(groupChannel->selectedInputSources(), (std::vector<FtInputSource*>{dante}));
  EXPECT_TRUE(groupChannel->getSelectedInputSourcesConsistent());

  // Selecting again changes nothing but still signals the driver.
  routings->selectInputSource(groupDefault, dante);
  EXPECT_EQ(targets[0]->selectedInputSources().size(), 1u);

  // A member's own change makes the group channel inconsistent.
  routings->deSelectInputSource(channel(amp2->inputRoutings()[0], 0), dante);
  EXPECT_TRUE(channel(amp2->inputRoutings()[0], 0)->selectedInputSources().empty());
  EXPECT_TRUE(groupChannel->selectedInputSources().empty());
  EXPECT_FALSE(groupChannel->getSelectedInputSourcesConsistent());

  routings->clearInputRouting(groupDefault);
  for (std::size_t i = 0; i < targets.size(); ++i) {
    EXPECT_TRUE(targets[i]->selectedInputSources().empty());
    EXPECT_FALSE(logs[i]->empty());
    EXPECT_EQ(logs[i]->back(), false);
  }
  EXPECT_TRUE(groupChannel->getSelectedInputSourcesConsistent());

  // A source with no match anywhere selects nothing and leaves the flag alone.
  FtInputSource* aes = service<FtInputSourceService>()->create();
  service<FtInputSourceService>()->setKey(aes, FtInputSourceFamily::AES, false);
  const std::size_t before = logs[0]->size();
  routings->selectInputSource(groupDefault, aes);
  EXPECT_EQ(logs[0]->size(), before);
  routings->selectInputSource(groupDefault, nullptr);
}

}  // namespace
}  // namespace qor::server::testing
