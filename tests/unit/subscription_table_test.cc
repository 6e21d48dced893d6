#include "registry/subscription_table.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "contract/instance_message.h"

namespace zanvor {
namespace {

constexpr uint32_t kMain = 0x100;
constexpr uint32_t kServer = 0x200;

int CompareIgnoringCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const int ca = std::tolower(static_cast<unsigned char>(*a));
    const int cb = std::tolower(static_cast<unsigned char>(*b));
    if (ca != cb || ca == 0) return ca - cb;
  }
}

struct Posted {
  uint32_t window;
  uint32_t code;
  std::string text;  // the stored name, "" when none was stored
  uint32_t lParam;
};

// Records every store and post; the stored texts get positions 1, 2, ...
class RecordingLink : public SubscriptionLink {
 public:
  uint32_t MainWindow() const override { return main; }
  uint32_t ServerWindow() const override { return server; }
  uint16_t StoreText(const std::string& text) override {
    if (failStores) return 0;
    stored.push_back(text);
    return static_cast<uint16_t>(stored.size());
  }
  PostResult Post(uint32_t window, uint32_t wParam, uint32_t lParam) override {
    const uint16_t position = PositionOf(wParam);
    posts.push_back({window, CodeOf(wParam), position ? stored[position - 1] : "", lParam});
    if (forgetServerAfter > 0 && --forgetServerAfter == 0) server = 0;
    return PostResult::kPosted;
  }

  std::vector<uint32_t> Codes() const {
    std::vector<uint32_t> codes;
    for (const Posted& p : posts) codes.push_back(p.code);
    return codes;
  }

  uint32_t main = kMain;
  uint32_t server = 0;
  bool failStores = false;
  int forgetServerAfter = 0;  // the server becomes unknown after this many posts
  std::vector<std::string> stored;
  std::vector<Posted> posts;
};

class SubscriptionTableTest : public ::testing::Test {
 protected:
  SubscriptionTableTest() { tables_.ResetSubscribers(); }

  void Subscribe(const std::string& name, const std::string& handler = "h(<Msg>)") {
    tables_.AddSubscription({0, name, handler}, link_);
  }
  void Register(const std::string& name, uint32_t window) {
    tables_.AddSubscription({window, name, ""}, link_);
  }
  void Remove(const std::string& name, uint32_t window) {
    tables_.RemoveSubscription({window, name, ""}, link_);
  }
  static std::string Name(int i) { return "name" + std::to_string(i); }

  SubscriptionTables tables_;
  RecordingLink link_;
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

TEST_F(SubscriptionTableTest, FiftyNamesFillTheTableAndTheFiftyFirstPostsTableFull) {
  for (int i = 0; i < 50; ++i) Subscribe(Name(i));
  EXPECT_TRUE(link_.posts.empty());
  Subscribe("one too many");
  EXPECT_EQ(tables_.FindSubscription("one too many"), -1);
  ASSERT_EQ(link_.posts.size(), 1u);
  EXPECT_EQ(link_.posts[0].window, kMain);  // window 0 means this instance
  EXPECT_EQ(link_.posts[0].code, kTableFull);
  EXPECT_EQ(link_.posts[0].lParam, 0u);

  // A name that already has a record is always accepted, and SUBSCRIBE
  // replaces its handler in place.
  Subscribe(Name(7), "other(<Msg>)");
  EXPECT_EQ(link_.posts.size(), 1u);
  EXPECT_STREQ(tables_.records[7].handler, "other(<Msg>)");

  // From another instance the TableFull goes to that instance's window.
  Register("remote", 0x999);
  EXPECT_EQ(link_.posts.back().window, 0x999u);
  EXPECT_EQ(link_.posts.back().code, kTableFull);
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
  Register("orders", 0x301);
  Register("orders", 0x301);  // the pair is held once
  const int slot = tables_.FindSubscription("orders");
  EXPECT_EQ(tables_.WindowsOf(slot), (std::vector<uint32_t>{kMain, 0x300, 0x301}));

  Remove("orders", 0x300);
  EXPECT_EQ(tables_.FindSubscription("orders"), slot);
  EXPECT_EQ(tables_.WindowsOf(slot), (std::vector<uint32_t>{kMain, 0x301}));
  Remove("orders", 0x555);  // not subscribed: nothing changes
  EXPECT_EQ(tables_.WindowsOf(slot).size(), 2u);
  Remove("orders", kMain);
  Remove("orders", 0x301);
  EXPECT_EQ(tables_.FindSubscription("orders"), -1);
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
  caseless.AddSubscription({0, "Orders", "h(<Msg>)"}, link_);
  EXPECT_EQ(caseless.FindSubscription("ORDERS"), 0);
}

TEST_F(SubscriptionTableTest, AClientForwardsOnlyWhileARemoteServerIsKnown) {
  Subscribe("a");
  Remove("b", kMain);
  EXPECT_TRUE(link_.posts.empty());

  link_.server = kMain;  // this instance is the server: nothing to forward
  Subscribe("c");
  EXPECT_TRUE(link_.posts.empty());

  link_.server = kServer;
  Subscribe("d");
  Remove("never subscribed", kMain);  // forwarded all the same
  ASSERT_EQ(link_.posts.size(), 2u);
  EXPECT_EQ(link_.posts[0].window, kServer);
  EXPECT_EQ(link_.posts[0].code, kRegisterSubscriber);
  EXPECT_EQ(link_.posts[0].text, "d");
  EXPECT_EQ(link_.posts[0].lParam, kMain);
  EXPECT_EQ(link_.posts[1].code, kUnregisterSubscriber);
  EXPECT_EQ(link_.posts[1].text, "never subscribed");

  // A name that could not be stored is not posted: position 0 would hand
  // the server whatever the ring's first record holds.
  link_.failStores = true;
  Subscribe("e");
  EXPECT_EQ(link_.posts.size(), 2u);
  EXPECT_GE(tables_.FindSubscription("e"), 0);
}

TEST_F(SubscriptionTableTest, ReregisterAndWithdrawSendEveryNameInSlotOrder) {
  for (const char* name : {"a", "b", "c"}) Subscribe(name);
  Remove("b", kMain);
  Register("d", 0x300);  // every name goes with this instance's window
  tables_.ReregisterAll(link_);
  EXPECT_TRUE(link_.posts.empty());  // no server known

  link_.server = kServer;
  tables_.ReregisterAll(link_);
  tables_.WithdrawAll(link_);
  ASSERT_EQ(link_.posts.size(), 6u);
  const char* names[] = {"a", "d", "c", "a", "d", "c"};
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(link_.posts[i].text, names[i]) << i;
    EXPECT_EQ(link_.posts[i].code, i < 3 ? kRegisterSubscriber : kUnregisterSubscriber) << i;
    EXPECT_EQ(link_.posts[i].window, kServer);
    EXPECT_EQ(link_.posts[i].lParam, kMain);
  }
  EXPECT_EQ(tables_.FindSubscription("a"), 0);  // the tables are unchanged
}

TEST_F(SubscriptionTableTest, TheWalkStopsWhenThePostLosesTheServer) {
  for (const char* name : {"a", "b", "c"}) Subscribe(name);
  link_.server = kServer;
  link_.forgetServerAfter = 1;
  tables_.ReregisterAll(link_);
  EXPECT_EQ(link_.posts.size(), 1u);
}

TEST_F(SubscriptionTableTest, AFullSubscriberListIsReportedAndLeavesNoOrphanRecord) {
  // 4 names x 50 windows fill all 200 entries.
  for (int w = 0; w < 50; ++w) {
    for (int n = 0; n < 4; ++n) Register(Name(n), 0x1000 + w);
  }
  EXPECT_TRUE(link_.posts.empty());

  Register("fresh", 0x2000);
  EXPECT_EQ(tables_.FindSubscription("fresh"), -1);  // the record it made is freed again
  ASSERT_EQ(link_.posts.size(), 1u);
  EXPECT_EQ(link_.posts[0].window, 0x2000u);
  EXPECT_EQ(link_.posts[0].code, kTableFull);

  // SUBSCRIBE of a known name with no room for this window: the handler
  // stays as it was, and the box is shown here.
  Subscribe(Name(2), "new(<Msg>)");
  EXPECT_STREQ(tables_.records[2].handler, "");
  EXPECT_EQ(tables_.FindSubscription(Name(2)), 2);
  EXPECT_EQ(link_.posts.back().window, kMain);
  EXPECT_EQ(link_.posts.back().code, kTableFull);

  Register(Name(1), 0x1000);  // an existing pair still finds its entry
  EXPECT_EQ(link_.posts.size(), 2u);
}

TEST_F(SubscriptionTableTest, TextsLongerThanTheirFieldsAreRefusedNotCut) {
  const std::string name64(64, 'n');
  const std::string handler64 = "<Msg>" + std::string(59, 'h');
  Subscribe(name64, handler64);
  const int slot = tables_.FindSubscription(name64);
  ASSERT_GE(slot, 0);
  EXPECT_EQ(tables_.records[slot].handler, handler64);

  Register(name64 + "x", 0x300);  // e.g. a foreign writer's name in the ring
  Subscribe("short", handler64 + "x");
  Subscribe("");
  EXPECT_EQ(tables_.FindSubscription(name64 + "x"), -1);
  EXPECT_EQ(tables_.FindSubscription(name64), slot);  // a cut copy would match
  EXPECT_EQ(tables_.FindSubscription("short"), -1);
  EXPECT_EQ(tables_.records[1].inUse, 0);
  EXPECT_TRUE(link_.posts.empty());
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
