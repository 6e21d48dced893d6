#include "registry/subscription_table.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

namespace zanvor {
namespace {

constexpr uint32_t kMain = 0x100;

int CompareIgnoringCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const int ca = std::tolower(static_cast<unsigned char>(*a));
    const int cb = std::tolower(static_cast<unsigned char>(*b));
    if (ca != cb || ca == 0) return ca - cb;
  }
}

class SubscriptionTableTest : public ::testing::Test {
 protected:
  SubscriptionTableTest() { tables_.ResetSubscribers(); }

  // This instance's own SUBSCRIBE.
  TableOutcome Subscribe(const std::string& name, const std::string& handler = "h(<Msg>)") {
    return tables_.AddSubscription({kMain, name, handler, true});
  }
  // Another instance's registration, on the server.
  TableOutcome Register(const std::string& name, uint32_t window) {
    return tables_.AddSubscription({window, name, "", false});
  }
  TableOutcome Remove(const std::string& name, uint32_t window) {
    return tables_.RemoveSubscription(window, name);
  }
  static std::string Name(int i) { return "name" + std::to_string(i); }

  SubscriptionTables tables_;
};

TEST_F(SubscriptionTableTest, StartsAllZeroAndResetFreesEntriesButKeepsWindows) {
  SubscriptionTables fresh;
  EXPECT_EQ(fresh.records[49].inUse, 0);
  EXPECT_EQ(fresh.entries[199].slot, 0);
  EXPECT_EQ(fresh.entries[199].window, 0u);
  fresh.entries[7] = {3, 0x777};
  fresh.ResetSubscribers();
  EXPECT_EQ(fresh.entries[7].slot, SubscriptionTables::kFreeSlot);
  EXPECT_EQ(fresh.entries[7].window, 0x777u);
}

TEST_F(SubscriptionTableTest, FiftyNamesFillTheTableAndTheFiftyFirstIsFull) {
  for (int i = 0; i < 50; ++i) ASSERT_EQ(Subscribe(Name(i)), TableOutcome::kChanged) << i;
  EXPECT_EQ(Subscribe("one too many"), TableOutcome::kFull);
  EXPECT_EQ(tables_.FindSubscription("one too many"), -1);

  // A name that already has a record is always accepted, and SUBSCRIBE
  // replaces its handler in place; the same handler again changes nothing.
  EXPECT_EQ(Subscribe(Name(7), "other(<Msg>)"), TableOutcome::kChanged);
  EXPECT_STREQ(tables_.records[7].handler, "other(<Msg>)");
  EXPECT_EQ(Subscribe(Name(7), "other(<Msg>)"), TableOutcome::kUnchanged);

  // From another instance too.
  EXPECT_EQ(Register("remote", 0x999), TableOutcome::kFull);
  EXPECT_EQ(tables_.FindSubscription("remote"), -1);
}

TEST_F(SubscriptionTableTest, ARegistrationNeverTouchesAHandlerButSubscribeSetsIt) {
  Register("orders", 0x300);
  const int slot = tables_.FindSubscription("orders");
  ASSERT_GE(slot, 0);
  EXPECT_STREQ(tables_.records[slot].handler, "");
  Subscribe("orders", "DO a WITH <Msg>");
  EXPECT_STREQ(tables_.records[slot].handler, "DO a WITH <Msg>");
  Register("orders", 0x301);
  EXPECT_STREQ(tables_.records[slot].handler, "DO a WITH <Msg>");
  EXPECT_EQ(tables_.FindSubscription("orders"), slot);
}

TEST_F(SubscriptionTableTest, OneRecordServesSeveralWindowsUntilTheLastLeaves) {
  Subscribe("orders");
  Register("orders", 0x300);
  EXPECT_EQ(Register("orders", 0x301), TableOutcome::kChanged);
  EXPECT_EQ(Register("orders", 0x301), TableOutcome::kUnchanged);  // the pair is held once
  const int slot = tables_.FindSubscription("orders");
  EXPECT_EQ(tables_.WindowsOf(slot), (std::vector<uint32_t>{kMain, 0x300, 0x301}));

  EXPECT_EQ(Remove("orders", 0x300), TableOutcome::kChanged);
  EXPECT_EQ(tables_.FindSubscription("orders"), slot);
  EXPECT_EQ(tables_.WindowsOf(slot), (std::vector<uint32_t>{kMain, 0x301}));
  EXPECT_EQ(Remove("orders", 0x555), TableOutcome::kUnchanged);  // not subscribed
  EXPECT_EQ(tables_.WindowsOf(slot).size(), 2u);
  Remove("orders", kMain);
  Remove("orders", 0x301);
  EXPECT_EQ(tables_.FindSubscription("orders"), -1);
  EXPECT_EQ(Remove("orders", 0x301), TableOutcome::kUnchanged);  // no record any more
  EXPECT_TRUE(tables_.WindowsOf(slot).empty());
}

TEST_F(SubscriptionTableTest, LookupsSkipFreeRecordsAndUseTheInjectedComparison) {
  Subscribe("Orders");
  EXPECT_EQ(tables_.FindSubscription("orders"), -1);  // case matters with strcmp
  Subscribe("orders");
  EXPECT_EQ(tables_.FindSubscription("orders"), 1);
  Remove("Orders", kMain);
  EXPECT_STREQ(tables_.records[0].name, "Orders");    // the old bytes stay...
  EXPECT_EQ(tables_.FindSubscription("Orders"), -1);  // ...but are never found
  Subscribe("third");
  EXPECT_EQ(tables_.FindSubscription("third"), 0);  // the first free record

  SubscriptionTables caseless(CompareIgnoringCase);
  caseless.ResetSubscribers();
  caseless.AddSubscription({kMain, "Orders", "h(<Msg>)", true});
  EXPECT_EQ(caseless.FindSubscription("ORDERS"), 0);
}

TEST_F(SubscriptionTableTest, NamesListsEveryInUseNameInSlotOrder) {
  for (const char* name : {"a", "b", "c"}) Subscribe(name);
  Remove("b", kMain);
  Register("d", 0x300);  // takes the freed record
  EXPECT_EQ(tables_.Names(), (std::vector<std::string>{"a", "d", "c"}));
}

TEST_F(SubscriptionTableTest, AFullSubscriberListIsReportedAndLeavesNoOrphanRecord) {
  // 4 names x 50 windows fill all 200 entries.
  for (int w = 0; w < 50; ++w) {
    for (int n = 0; n < 4; ++n) ASSERT_EQ(Register(Name(n), 0x1000 + w), TableOutcome::kChanged);
  }

  EXPECT_EQ(Register("fresh", 0x2000), TableOutcome::kFull);
  EXPECT_EQ(tables_.FindSubscription("fresh"), -1);  // the record it made is freed again

  // SUBSCRIBE of a known name with no room for this window: the handler
  // stays as it was.
  EXPECT_EQ(Subscribe(Name(2), "new(<Msg>)"), TableOutcome::kFull);
  EXPECT_STREQ(tables_.records[2].handler, "");
  EXPECT_EQ(tables_.FindSubscription(Name(2)), 2);

  // An existing pair still finds its entry.
  EXPECT_EQ(Register(Name(1), 0x1000), TableOutcome::kUnchanged);
}

TEST_F(SubscriptionTableTest, TextsLongerThanTheirFieldsAreRefusedNotCut) {
  const std::string name64(64, 'n');
  const std::string handler64 = "<Msg>" + std::string(59, 'h');
  Subscribe(name64, handler64);
  const int slot = tables_.FindSubscription(name64);
  ASSERT_GE(slot, 0);
  EXPECT_EQ(tables_.records[slot].handler, handler64);

  // e.g. a foreign writer's name in the ring
  EXPECT_EQ(Register(name64 + "x", 0x300), TableOutcome::kRefused);
  EXPECT_EQ(Subscribe("short", handler64 + "x"), TableOutcome::kRefused);
  EXPECT_EQ(Subscribe(""), TableOutcome::kRefused);
  EXPECT_EQ(Remove("", kMain), TableOutcome::kRefused);
  EXPECT_EQ(Remove(name64 + "x", kMain), TableOutcome::kRefused);
  EXPECT_EQ(tables_.FindSubscription(name64 + "x"), -1);
  EXPECT_EQ(tables_.FindSubscription(name64), slot);  // a cut copy would match
  EXPECT_EQ(tables_.FindSubscription("short"), -1);
  EXPECT_EQ(tables_.records[1].inUse, 0);
  EXPECT_EQ(tables_.StoreSubscription(name64 + "x", "", true), -1);
}

TEST_F(SubscriptionTableTest, ForgetWindowDropsAGoneWindowEverywhere) {
  Subscribe("shared");
  Register("shared", 0x300);
  Register("alone", 0x300);
  Register("other", 0x301);
  tables_.ForgetWindow(0x300);
  EXPECT_EQ(tables_.WindowsOf(tables_.FindSubscription("shared")), (std::vector<uint32_t>{kMain}));
  EXPECT_EQ(tables_.FindSubscription("alone"), -1);
  EXPECT_GE(tables_.FindSubscription("other"), 0);
  EXPECT_EQ(tables_.FindSubscriber(tables_.FindSubscription("other"), 0x301), 3);
}

TEST_F(SubscriptionTableTest, TheListFollowsTableOrderAndShowsOnlyTheGivenWindow) {
  EXPECT_EQ(tables_.ListFor(kMain), "");
  Subscribe("a", "h1(<Msg>)");
  Subscribe("b", "h2(<Msg>)");
  Register("theirs", 0x300);
  EXPECT_EQ(tables_.ListFor(kMain), "a\t\th1(<Msg>)\nb\t\th2(<Msg>)\n");
  Remove("a", kMain);
  Subscribe("c", "h3(<Msg>)");  // takes the freed first record
  EXPECT_EQ(tables_.ListFor(kMain), "c\t\th3(<Msg>)\nb\t\th2(<Msg>)\n");
  EXPECT_EQ(tables_.ListFor(0x300), "theirs\t\t\n");
}

}  // namespace
}  // namespace zanvor
