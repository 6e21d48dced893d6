#include "commands/instance_protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fake_machine.h"
#include "registry/ring_layout.h"

namespace zanvor {
namespace {

using Strings = std::vector<std::string>;

constexpr char kHandler[] = "DO OnEvt WITH <Msg>";

std::string Ran(const std::string& message) { return "DO OnEvt WITH \"" + message + "\""; }

class InstanceProtocolTest : public ::testing::Test {
 protected:
  // Loads `count` instances one after the other, each settled before the
  // next, as host processes started a moment apart.
  void LoadSettled(int count) {
    for (int i = 0; i < count; ++i) {
      m_.Load();
      m_.Pump();
    }
  }
  void SubscribeAll(const std::vector<int>& instances, const std::string& name) {
    for (const int i : instances) m_[i].Subscribe(name, kHandler);
    m_.Pump();
  }
  std::vector<uint32_t> Subscribers(int server, const std::string& name) {
    return m_[server].tables.WindowsOf(m_[server].tables.FindSubscription(name));
  }
  // ZANVOR_LOCAL in instance `from`, then every queue delivered.
  bool PostAndPump(int from, const std::string& text) {
    const bool stored = m_[from].PostLocal(text);
    m_.Pump();
    return stored;
  }
  void Send(int to, InstanceCode code, const std::string& text, uint32_t lParam) {
    m_.Post(-1, m_.Window(to), MakeWParam(code, m_.Store(text)), lParam);
    m_.Pump();
  }

  FakeMachine m_;
};

TEST_F(InstanceProtocolTest, TheFirstInstanceWinsAndLaterOnesAskForIt) {
  const int s = m_.Load();
  EXPECT_TRUE(m_[s].IsServer());
  EXPECT_EQ(m_.CountPosts(kServerAnnounce), 1);
  m_.Pump();  // its own announcement changes nothing
  EXPECT_EQ(m_[s].serverWindow, m_.Window(s));

  const int a = m_.Load();
  EXPECT_EQ(m_[a].serverWindow, 0u);
  EXPECT_EQ(m_.CountPosts(kServerQuery), 1);
  m_[a].Subscribe("early", kHandler);  // no server known yet: kept locally
  EXPECT_EQ(m_.CountPosts(kRegisterSubscriber), 0);
  m_.Pump();
  EXPECT_EQ(m_[a].serverWindow, m_.Window(s));
  EXPECT_EQ(m_.CountPosts(kServerReply, m_.Window(a)), 1);
  EXPECT_EQ(Subscribers(s, "early"), std::vector<uint32_t>{m_.Window(a)});

  const int b = m_.Load();
  m_.Pump();
  EXPECT_EQ(m_[b].serverWindow, m_.Window(s));
  EXPECT_TRUE(m_[s].IsServer());
  EXPECT_EQ(m_.CountPosts(kServerReply), 2);  // the client ignored b's query
}

TEST_F(InstanceProtocolTest, ALocalPostRunsEverySubscribersHandlerOnce) {
  LoadSettled(4);
  SubscribeAll({0, 1, 2}, "orders");
  PostAndPump(3, "orders:42");
  for (const int i : {0, 1, 2}) EXPECT_EQ(m_.Executed(i), Strings{Ran("42")}) << i;
  EXPECT_TRUE(m_.Executed(3).empty());
  EXPECT_EQ(m_.CountPosts(kDeliverText), 3);

  PostAndPump(1, "orders:say \"hi\"");
  EXPECT_EQ(m_.Executed(2), (Strings{Ran("42"), "DO OnEvt WITH \"say \"+CHR(34)+\"hi\"+CHR(34)"}));
}

TEST_F(InstanceProtocolTest, WhenTheServerLeavesExactlyOneTakesOverAndDeliveryResumes) {
  LoadSettled(3);
  SubscribeAll({1, 2}, "x");
  m_.Unload(0);
  m_.Pump();
  EXPECT_EQ(m_[0].serverWindow, 0u);
  ASSERT_NE(m_[1].IsServer(), m_[2].IsServer());
  const int server = m_[1].IsServer() ? 1 : 2;
  const int client = 3 - server;
  EXPECT_EQ(m_[client].serverWindow, m_.Window(server));
  EXPECT_EQ(Subscribers(server, "x"),
            (std::vector<uint32_t>{m_.Window(server), m_.Window(client)}));

  PostAndPump(client, "x:again");
  EXPECT_EQ(m_.Executed(1), Strings{Ran("again")});
  EXPECT_EQ(m_.Executed(2), Strings{Ran("again")});
  EXPECT_TRUE(m_.Executed(0).empty());
}

TEST_F(InstanceProtocolTest, TheLastInstanceLeavingAnnouncesItToNobody) {
  const int s = m_.Load();
  m_.Unload(s);
  m_.Pump();
  EXPECT_EQ(m_[s].serverWindow, 0u);
  EXPECT_EQ(m_.CountPosts(kServerLeaving), 1);
  EXPECT_EQ(m_.mutexOwner, -1);
}

// A host that unloads and loads again before it pumps finds its first
// load's ServerAnnounce still queued for its window: it names this window,
// but the role went to another instance meanwhile.
TEST_F(InstanceProtocolTest, AnInstanceLoadedAgainTakesNoRoleFromItsEarlierLoad) {
  const int s = m_.Load();
  const int a = m_.Load();
  m_.Unload(s);
  const int b = m_.Load();  // wins the role s gave back
  m_.LoadAgain(s);
  m_.Pump();
  EXPECT_TRUE(m_[b].IsServer());
  EXPECT_EQ(m_[s].serverWindow, m_.Window(b));
  EXPECT_EQ(m_[a].serverWindow, m_.Window(b));
  for (const FakePost& post : m_.posts) {
    EXPECT_FALSE(post.from == s && CodeOf(post.wParam) == kServerReply) << "s answered a query";
  }
}

// A registration on its way to the server that unloaded reaches the client
// loaded again in its window: it is dropped, neither registers that
// client's window nor stays in its tables for when it becomes the server,
// and the subscriber registers with the server it finds.
TEST_F(InstanceProtocolTest, ARegistrationForTheFormerServerIsDroppedAndNotKept) {
  LoadSettled(2);
  m_[1].Subscribe("n", kHandler);
  m_.Unload(0);
  const int b = m_.Load();
  m_.LoadAgain(0);
  m_.Pump();
  EXPECT_EQ(Subscribers(b, "n"), std::vector<uint32_t>{m_.Window(1)});

  m_.Kill(b);
  m_.Unload(1);           // its withdrawal goes to the dead server
  PostAndPump(0, "n:x");  // finds the server gone and takes the role
  ASSERT_TRUE(m_[0].IsServer());
  EXPECT_EQ(m_[0].tables.FindSubscription("n"), -1);
}

TEST_F(InstanceProtocolTest, AClientLeavingWithdrawsItsNames) {
  LoadSettled(2);
  SubscribeAll({1}, "a");
  SubscribeAll({1}, "b");
  SubscribeAll({1}, "c");
  EXPECT_EQ(m_[0].tables.ListFor(m_.Window(1)), "a\t\t\nb\t\t\nc\t\t\n");
  m_.Unload(1);
  m_.Pump();
  EXPECT_EQ(m_.CountPosts(kUnregisterSubscriber), 3);
  for (const FakePost& post : m_.posts) {
    if (!post.extension && CodeOf(post.wParam) == kUnregisterSubscriber) {
      EXPECT_EQ(post.lParam, m_.Window(1));
    }
  }
  EXPECT_EQ(m_[0].tables.FindSubscription("a"), -1);
  EXPECT_EQ(m_[0].tables.FindSubscription("c"), -1);
  EXPECT_TRUE(m_[0].IsServer());
}

// Its withdrawals could not be stored (or were overwritten before the server
// read them): the server drops the window's names once it asks again.
TEST_F(InstanceProtocolTest, AClientLoadedAgainIsHeldOnlyUnderWhatItSubscribesAgain) {
  LoadSettled(2);
  SubscribeAll({1}, "a");
  SubscribeAll({1}, "b");
  m_.storesFail = true;
  m_.Unload(1);
  m_.storesFail = false;
  m_.Pump();
  EXPECT_EQ(Subscribers(0, "a"), std::vector<uint32_t>{m_.Window(1)});
  m_.LoadAgain(1);
  m_[1].Subscribe("b", kHandler);
  m_.Pump();
  EXPECT_EQ(m_[0].tables.FindSubscription("a"), -1);
  EXPECT_EQ(Subscribers(0, "b"), std::vector<uint32_t>{m_.Window(1)});
}

TEST_F(InstanceProtocolTest, AClientThatNeverFoundItsServerWithdrawsNothing) {
  m_.Load();
  const int a = m_.Load();  // not pumped: the reply has not arrived
  m_[a].Subscribe("x", kHandler);
  m_.Unload(a);
  EXPECT_EQ(m_.CountPosts(kUnregisterSubscriber), 0);
}

// A change of this instance's own names goes to a remote server, whatever
// the tables made of it, and only to one.
TEST_F(InstanceProtocolTest, AClientForwardsItsChangesOnlyWhileARemoteServerIsKnown) {
  const int s = m_.Load();
  const int a = m_.Load();  // not pumped: no server known yet
  m_[a].Subscribe("a", kHandler);
  m_[a].Unsubscribe("b");
  m_[s].Subscribe("c", kHandler);  // the server: nothing to forward
  EXPECT_EQ(m_.posts.size(), 2u);  // the announcement and the query
  m_.Pump();

  const size_t before = m_.posts.size();
  m_[a].Subscribe("d", kHandler);
  m_[a].Unsubscribe("never subscribed");  // forwarded all the same
  ASSERT_EQ(m_.posts.size(), before + 2);
  const FakePost& registration = m_.posts[before];
  EXPECT_EQ(registration.window, m_.Window(s));
  EXPECT_EQ(CodeOf(registration.wParam), kRegisterSubscriber);
  EXPECT_EQ(m_.Read(PositionOf(registration.wParam)), "d");
  EXPECT_EQ(registration.lParam, m_.Window(a));
  const FakePost& withdrawal = m_.posts[before + 1];
  EXPECT_EQ(withdrawal.window, m_.Window(s));
  EXPECT_EQ(CodeOf(withdrawal.wParam), kUnregisterSubscriber);
  EXPECT_EQ(m_.Read(PositionOf(withdrawal.wParam)), "never subscribed");
  EXPECT_EQ(withdrawal.lParam, m_.Window(a));
  m_.Pump();

  // A name that could not be stored is not posted: position 0 would hand
  // the server whatever the ring's first record holds.
  m_.storesFail = true;
  const size_t failed = m_.posts.size();
  m_[a].Subscribe("e", kHandler);
  EXPECT_EQ(m_.posts.size(), failed);
  EXPECT_GE(m_[a].tables.FindSubscription("e"), 0);
}

// Every name a client holds goes to a server it learns of and is withdrawn
// at its unload, in slot order, each with the client's own window whatever
// window its entries hold.
TEST_F(InstanceProtocolTest, AClientSendsEveryNameInSlotOrderToItsServerAndAtUnload) {
  const int s = m_.Load();
  const int a = m_.Load();  // not pumped: no server known yet
  for (const char* name : {"a", "b", "c"}) m_[a].Subscribe(name, kHandler);
  m_[a].Unsubscribe("b");
  m_[a].tables.AddSubscription({0x300, "d", "", false});  // takes the freed record
  EXPECT_EQ(m_.CountPosts(kRegisterSubscriber), 0);
  m_.Pump();
  m_.Unload(a);
  m_.Pump();
  Strings sent;
  for (const FakePost& post : m_.posts) {
    const uint32_t code = CodeOf(post.wParam);
    if (post.from != a || post.extension ||
        (code != kRegisterSubscriber && code != kUnregisterSubscriber)) {
      continue;
    }
    EXPECT_EQ(post.window, m_.Window(s));
    EXPECT_EQ(post.lParam, m_.Window(a));
    sent.push_back((code == kRegisterSubscriber ? "+" : "-") + m_.Read(PositionOf(post.wParam)));
  }
  EXPECT_EQ(sent, (Strings{"+a", "+d", "+c", "-a", "-d", "-c"}));
  EXPECT_EQ(m_[a].tables.Names(), (Strings{"a", "d", "c"}));  // the tables are unchanged
}

// The server died, and the instance that took the role over died right
// after its announcement: the client's first registration finds it gone,
// and the client sends it no more names but takes the role itself.
TEST_F(InstanceProtocolTest, ANewServerFoundGoneIsSentNoMoreNames) {
  LoadSettled(2);
  for (const char* name : {"a", "b", "c"}) m_[1].Subscribe(name, kHandler);
  m_.Pump();
  m_.Kill(0);
  const int b = m_.Load();  // wins the abandoned role and announces it
  ASSERT_TRUE(m_[b].IsServer());
  m_.Kill(b);
  const int before = m_.CountPosts(kRegisterSubscriber);
  m_.Pump();
  EXPECT_EQ(m_.CountPosts(kRegisterSubscriber), before + 1);
  EXPECT_EQ(m_.CountPosts(kRegisterSubscriber, m_.Window(b)), 1);
  EXPECT_TRUE(m_[1].IsServer());
}

// A server that ended without unloading sent no ServerLeaving. The first
// instance whose post finds its window gone takes the role and announces it;
// an instance that loses that race holds its text until it knows the winner.
// The winner holds every local post until the others have registered with
// it, so each reaches every subscriber of the machine, in order.
TEST_F(InstanceProtocolTest, APostToADeadServerIsStillDelivered) {
  LoadSettled(4);
  SubscribeAll({1, 2, 3}, "x");
  m_.Kill(0);

  m_[1].PostLocal("x:1");
  EXPECT_TRUE(m_[1].IsServer());
  m_[2].PostLocal("x:2");
  EXPECT_EQ(m_[2].serverWindow, 0u);  // lost the claim to instance 1
  m_.PumpQueues();
  EXPECT_EQ(m_[2].serverWindow, m_.Window(1));
  EXPECT_EQ(m_[3].serverWindow, m_.Window(1));
  EXPECT_EQ(m_.Env(1).settleTimerMs, kServerSettleMs);
  for (const int i : {1, 2, 3}) EXPECT_TRUE(m_.Executed(i).empty()) << i;
  PostAndPump(3, "x:3");  // while the server settles: after the held ones
  for (const int i : {1, 2, 3}) {
    EXPECT_EQ(m_.Executed(i), (Strings{Ran("1"), Ran("2"), Ran("3")})) << i;
  }

  PostAndPump(2, "x:4");
  for (const int i : {1, 2, 3}) EXPECT_EQ(m_.Executed(i).back(), Ran("4")) << i;
  EXPECT_EQ(m_.CountPosts(kPostLocalText, m_.Window(1)), 3);  // nothing made twice
  EXPECT_EQ(m_.Env(1).settleTimerMs, 0u);
}

TEST_F(InstanceProtocolTest, ASubscribeToADeadServerAlsoReplacesIt) {
  LoadSettled(3);
  m_.Kill(0);
  m_[1].Subscribe("y", kHandler);
  m_.Pump();
  EXPECT_TRUE(m_[1].IsServer());
  EXPECT_EQ(m_[2].serverWindow, m_.Window(1));
  EXPECT_EQ(m_.CountPosts(kRegisterSubscriber, m_.Window(1)), 0);  // its own table holds it
  PostAndPump(2, "y:hello");
  EXPECT_EQ(m_.Executed(1), Strings{Ran("hello")});
}

// The server's window went while its process, and so its mutex, lived on:
// the client's claim is lost and its question goes unanswered. Once the
// owner ends, the client's next post claims the abandoned role and the
// held text is delivered with the new one.
TEST_F(InstanceProtocolTest, AnInstanceLeftWithoutAServerClaimsOnItsNextPost) {
  LoadSettled(2);
  SubscribeAll({0, 1}, "n");
  m_.DestroyWindow(0);
  EXPECT_TRUE(PostAndPump(1, "n:1"));
  EXPECT_EQ(m_[1].serverWindow, 0u);
  EXPECT_TRUE(m_.Executed(1).empty());

  m_.Kill(0);
  EXPECT_TRUE(PostAndPump(1, "n:2"));
  EXPECT_TRUE(m_[1].IsServer());
  EXPECT_EQ(m_.Executed(1), (Strings{Ran("1"), Ran("2")}));
  PostAndPump(1, "n:3");
  EXPECT_EQ(m_.Executed(1), (Strings{Ran("1"), Ran("2"), Ran("3")}));
  EXPECT_EQ(m_.PostsToNoWindow(), 0);
}

// While the owner lives, each call that needs a server claims and asks once,
// and not again while its question has not come back; a SUBSCRIBE needs one
// too, and claims the role once it is free.
TEST_F(InstanceProtocolTest, AnInstanceWithoutAServerAsksAtMostOncePerCall) {
  LoadSettled(2);
  SubscribeAll({0, 1}, "n");
  m_.DestroyWindow(0);
  m_[1].PostLocal("n:1");
  EXPECT_EQ(m_.CountPosts(kServerQuery), 2);  // the load's and the lost claim's
  m_[1].PostLocal("n:2");                     // its question is still queued
  m_[1].Subscribe("m", kHandler);
  EXPECT_EQ(m_.CountPosts(kServerQuery), 2);
  m_.Pump();
  m_[1].Subscribe("m", kHandler);
  EXPECT_EQ(m_.CountPosts(kServerQuery), 3);
  m_.Pump();
  EXPECT_EQ(m_[1].serverWindow, 0u);

  m_.Kill(0);
  m_[1].Subscribe("m", kHandler);
  EXPECT_TRUE(m_[1].IsServer());
  PostAndPump(1, "m:3");
  EXPECT_EQ(m_.Executed(1), (Strings{Ran("1"), Ran("2"), Ran("3")}));
  EXPECT_EQ(m_.PostsToNoWindow(), 0);
}

// A post made before the server's reply arrives is held, never posted to the
// null window, and delivered once the reply names the server.
TEST_F(InstanceProtocolTest, APostBeforeTheServerIsKnownIsDeliveredWhenItIs) {
  LoadSettled(1);
  SubscribeAll({0}, "x");
  const int a = m_.Load();
  EXPECT_TRUE(PostAndPump(a, "x:early"));
  EXPECT_EQ(m_.Executed(0), Strings{Ran("early")});
  EXPECT_EQ(m_.PostsToNoWindow(), 0);
  EXPECT_EQ(m_.CountPosts(kServerQuery), 1);  // the claim lost to a live owner asks no more
}

TEST_F(InstanceProtocolTest, AnInstanceThatIsLeavingNeverClaims) {
  LoadSettled(2);
  SubscribeAll({1}, "x");
  m_.Kill(0);
  const size_t postsBefore = m_.posts.size();
  m_.Unload(1);
  m_.Pump();
  ASSERT_EQ(m_.posts.size(), postsBefore + 1);  // only the failed withdrawal
  EXPECT_EQ(CodeOf(m_.posts.back().wParam), kUnregisterSubscriber);
  EXPECT_EQ(m_.mutexOwner, 0);
}

TEST_F(InstanceProtocolTest, TheServerForgetsAWindowThatIsGone) {
  LoadSettled(3);
  SubscribeAll({1}, "x");
  SubscribeAll({1, 2}, "shared");
  m_.Kill(1);
  m_[2].PostLocal("x:1");
  PostAndPump(2, "shared:2");
  EXPECT_EQ(m_[0].tables.FindSubscription("x"), -1);
  EXPECT_EQ(Subscribers(0, "shared"), std::vector<uint32_t>{m_.Window(2)});
  EXPECT_EQ(m_.Executed(2), Strings{Ran("2")});
  EXPECT_TRUE(m_[0].IsServer());  // a gone client is no reason to claim

  const int before = m_.CountPosts(kDeliverText);
  PostAndPump(2, "x:3");
  EXPECT_EQ(m_.CountPosts(kDeliverText), before);
}

TEST_F(InstanceProtocolTest, AFullTableIsShownInTheInstanceThatAsked) {
  LoadSettled(3);
  for (int i = 0; i < 51; ++i) m_[1].Subscribe("n" + std::to_string(i), kHandler);
  m_.Pump();
  EXPECT_EQ(m_.ErrorBoxes(1), Strings{kTableFullText});
  EXPECT_EQ(m_[1].tables.FindSubscription("n50"), -1);
  EXPECT_EQ(m_.CountPosts(kTableFull), 1);
  EXPECT_EQ(m_.CountPosts(kTableFull, m_.Window(1)), 1);

  // The server's table now holds 50 names; a name that fits instance 2's
  // own table is refused there.
  m_[2].Subscribe("other", kHandler);
  m_.Pump();
  EXPECT_EQ(m_.ErrorBoxes(2), Strings{kTableFullText});
  EXPECT_EQ(m_.CountPosts(kTableFull, m_.Window(2)), 1);
  EXPECT_EQ(m_[2].ListSubscriptions(), "other\t\tDO OnEvt WITH <Msg>\n");
  EXPECT_TRUE(m_.ErrorBoxes(0).empty());
  for (const FakePost& post : m_.posts) {
    if (!post.extension && CodeOf(post.wParam) == kTableFull) {
      EXPECT_EQ(post.lParam, 0u);
    }
  }
}

TEST_F(InstanceProtocolTest, AnOverwrittenTextRunsNoHandler) {
  LoadSettled(3);
  SubscribeAll({1}, "x");

  // The ring wraps over the text after the server fanned it out but before
  // the slow subscriber reads it.
  m_[2].PostLocal("x:first");
  m_.PumpOnly(0);
  const FakePost deliver = m_.posts.back();
  ASSERT_EQ(CodeOf(deliver.wParam), kDeliverText);
  WriteRecord(m_.ring.data(), PositionOf(deliver.wParam), "x:evil!", 8);
  m_.Pump();
  EXPECT_TRUE(m_.Executed(1).empty());

  // Overwritten before the server read it: nothing is fanned out at all.
  const int delivered = m_.CountPosts(kDeliverText);
  m_[2].PostLocal("x:second");
  WriteRecord(m_.ring.data(), PositionOf(m_.posts.back().wParam), "x:other!", 9);
  m_.Pump();
  EXPECT_EQ(m_.CountPosts(kDeliverText), delivered);
  EXPECT_TRUE(m_.Executed(1).empty());

  // An older instance sends no check: its text is taken as it is.
  Send(1, kDeliverText, "x:unchecked", 0);
  EXPECT_EQ(m_.Executed(1), Strings{Ran("unchecked")});
}

TEST_F(InstanceProtocolTest, TheServerPassesAFreshCheckOnForAnUncheckedLocalPost) {
  LoadSettled(2);
  SubscribeAll({1}, "x");
  Send(0, kPostLocalText, "x:old poster", 0);
  const FakePost deliver = m_.posts.back();
  ASSERT_EQ(CodeOf(deliver.wParam), kDeliverText);
  EXPECT_EQ(deliver.lParam, TextCheck("x:old poster"));
  EXPECT_EQ(m_.Executed(1), Strings{Ran("old poster")});
}

TEST_F(InstanceProtocolTest, NetworkTextsAreStoredOnceAndPostedInEntryOrder) {
  LoadSettled(3);
  SubscribeAll({0, 1, 2}, "x");
  const size_t postsBefore = m_.posts.size();
  m_[0].DispatchReceived("x", "net:work");
  ASSERT_EQ(m_.posts.size(), postsBefore + 3);
  for (int i = 0; i < 3; ++i) {
    const FakePost& post = m_.posts[postsBefore + i];
    EXPECT_EQ(post.window, m_.Window(i));
    EXPECT_EQ(post.wParam, m_.posts[postsBefore].wParam);
    EXPECT_EQ(post.lParam, TextCheck("x:net:work"));
  }
  m_.Pump();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(m_.Executed(i), Strings{Ran("net:work")});

  const std::vector<uint8_t> ring = m_.ring;
  m_[0].DispatchReceived("nobody", "m");
  EXPECT_EQ(m_.posts.size(), postsBefore + 3);
  EXPECT_EQ(m_.ring, ring);  // nothing stored for an unknown name
}

TEST_F(InstanceProtocolTest, TextsThatNameNoSubscriptionDoNothing) {
  LoadSettled(2);
  SubscribeAll({1}, "a");
  PostAndPump(0, "a:b:m");  // splits at the first colon
  EXPECT_EQ(m_.Executed(1), Strings{Ran("b:m")});

  const int before = m_.CountPosts(kDeliverText);
  m_[1].PostLocal("nobody:m");
  Send(1, kDeliverText, "no colon", 0);
  Send(1, kDeliverText, ":a", 0);
  m_.storesFail = true;
  EXPECT_FALSE(m_[1].PostLocal("a:lost"));  // stored nowhere: nothing posted
  Send(0, kPostLocalText, "a:lost", 0);     // an older poster's position 0 reads as ""
  m_.Pump();
  EXPECT_EQ(m_.CountPosts(kDeliverText), before);
  EXPECT_EQ(m_.Executed(1).size(), 1u);
}

TEST_F(InstanceProtocolTest, CodesThatMeanNothingHereChangeNothing) {
  LoadSettled(2);
  SubscribeAll({0, 1}, "x");
  const size_t postsBefore = m_.posts.size();
  for (const uint32_t code : {0u, 7u, 11u, 0xFFFFu}) {
    for (const int i : {0, 1}) m_[i].OnInstanceMessage(code << 16 | 4, m_.Window(1));
  }
  m_[1].OnInstanceMessage(MakeWParam(kServerQuery), 0x777);     // a client does not answer
  m_[0].OnInstanceMessage(MakeWParam(kServerAnnounce), 0x777);  // the server keeps its role
  m_[0].OnInstanceMessage(MakeWParam(kServerReply), 0x777);     // a stale reply too
  EXPECT_EQ(m_.posts.size(), postsBefore);
  EXPECT_TRUE(m_[0].IsServer());
  EXPECT_EQ(m_[1].serverWindow, m_.Window(0));
  EXPECT_EQ(m_[0].tables.ListFor(m_.Window(0)), "x\t\tDO OnEvt WITH <Msg>\n");
  EXPECT_TRUE(m_.ErrorBoxes(0).empty());
  EXPECT_TRUE(m_.Executed(0).empty());
}

TEST_F(InstanceProtocolTest, TheServerRefusesRegistrationsItCannotHonour) {
  LoadSettled(2);
  SubscribeAll({0}, "x");
  Send(0, kRegisterSubscriber, "x", 0);  // would read as the server's own SUBSCRIBE
  EXPECT_EQ(m_[0].tables.ListFor(m_.Window(0)), "x\t\tDO OnEvt WITH <Msg>\n");
  Send(0, kRegisterSubscriber, std::string(65, 'n'), m_.Window(1));
  Send(0, kRegisterSubscriber, "", m_.Window(1));
  EXPECT_EQ(m_[0].tables.FindSubscription(std::string(64, 'n')), -1);
  EXPECT_EQ(m_[0].tables.records[1].inUse, 0);
  EXPECT_TRUE(m_.ErrorBoxes(1).empty());
  Send(0, kUnregisterSubscriber, "x", 0);
  EXPECT_EQ(Subscribers(0, "x"), std::vector<uint32_t>{m_.Window(0)});
}

// Instances that have not joined (a host without a main window, such as a
// COM server, or a ZANVOR_INIT that stopped halfway), forged server
// windows, and the settle of an instance that takes the server role over.
class JoinAndSettleTest : public InstanceProtocolTest {};

TEST_F(JoinAndSettleTest, AnInstanceThatHasNotJoinedNeverClaimsAnnouncesOrHolds) {
  for (const bool withWindow : {false, true}) {
    SCOPED_TRACE(withWindow ? "window never subclassed" : "no main window");
    FakeMachine m;
    const int w = m.LoadUnjoined(withWindow);
    EXPECT_FALSE(m[w].Joined());
    m[w].Subscribe("x", kHandler);  // its command raises first; nothing more happens here
    m[w].Unsubscribe("y");
    EXPECT_FALSE(m[w].PostLocal("x:lost"));
    m.Pump();
    EXPECT_EQ(m.mutexOwner, -1);
    EXPECT_TRUE(m.posts.empty());

    // The next instances find the role free and the machine works.
    const int a = m.Load();
    const int b = m.Load();
    m.Pump();
    EXPECT_TRUE(m[a].IsServer());
    EXPECT_EQ(m[b].serverWindow, m.Window(a));
    m[a].Subscribe("x", kHandler);
    m[b].Subscribe("x", kHandler);
    m.Pump();
    m[b].PostLocal("x:1");
    EXPECT_FALSE(m[w].PostLocal("x:2"));
    m.Pump();
    EXPECT_EQ(m.Executed(a), Strings{Ran("1")});
    EXPECT_EQ(m.Executed(b), Strings{Ran("1")});
    EXPECT_TRUE(m.Executed(w).empty());

    // A ServerLeaving that reached it anyway makes it claim nothing.
    m.Unload(a);
    m[w].OnInstanceMessage(MakeWParam(kServerLeaving), 0);
    m.Pump();
    EXPECT_EQ(m.mutexOwner, b);
    m.Unload(w);
    m.Pump();
    EXPECT_EQ(m.PostsToNoWindow(), 0);
    for (const FakePost& post : m.posts) EXPECT_NE(post.from, w) << CodeOf(post.wParam);
  }
}

TEST_F(JoinAndSettleTest, NoInstanceTakesWindowZeroForItsServer) {
  LoadSettled(2);
  SubscribeAll({1}, "x");
  m_.Post(-1, m_.Window(1), MakeWParam(kServerAnnounce), 0);
  m_.Post(-1, m_.Window(1), MakeWParam(kServerReply), 0);
  m_.Pump();
  EXPECT_EQ(m_[1].serverWindow, m_.Window(0));
  EXPECT_EQ(m_.PostsToNoWindow(), 0);
  PostAndPump(1, "x:1");
  EXPECT_EQ(m_.Executed(1), Strings{Ran("1")});
}

// The winner of ServerLeaving stays silent; the others ask for it and
// register on its reply, before any post goes out.
TEST_F(JoinAndSettleTest, AnInstanceThatWinsOnServerLeavingHoldsPostsUntilTheOthersRegistered) {
  LoadSettled(3);
  SubscribeAll({1, 2}, "x");
  m_.Unload(0);
  m_.PumpOnly(2);
  ASSERT_TRUE(m_[2].IsServer());
  PostAndPump(2, "x:1");
  EXPECT_EQ(m_[1].serverWindow, m_.Window(2));
  EXPECT_EQ(m_.Executed(1), Strings{Ran("1")});
  EXPECT_EQ(m_.Executed(2), Strings{Ran("1")});
}

TEST_F(JoinAndSettleTest, WithoutASettleTimerTheHeldPostsGoOutAtOnce) {
  LoadSettled(2);
  SubscribeAll({1}, "x");
  m_.Kill(0);
  m_.Env(1).settleTimerWorks = false;
  m_[1].PostLocal("x:1");
  m_.PumpQueues();
  EXPECT_EQ(m_.Executed(1), Strings{Ran("1")});
}

// The posts a settling server holds were meant for the machine: they go to
// the subscribers registered so far rather than nowhere.
TEST_F(JoinAndSettleTest, AServerThatUnloadsWhileItSettlesSendsWhatItHeld) {
  LoadSettled(3);
  SubscribeAll({1, 2}, "x");
  m_.Kill(0);
  m_[1].PostLocal("x:1");
  m_.PumpQueues();
  m_.Unload(1);
  EXPECT_EQ(m_.Env(1).settleTimerMs, 0u);
  m_.Pump();
  EXPECT_EQ(m_.Executed(2), Strings{Ran("1")});
  EXPECT_TRUE(m_[2].IsServer());
}

// The registration acknowledgement, an extension older builds ignore.
class RegistrationAckTest : public InstanceProtocolTest {};

TEST_F(RegistrationAckTest, AnOverwrittenRegistrationIsUndoneAndSentAgain) {
  LoadSettled(2);
  m_[1].Subscribe("late", kHandler);  // the first store of the ring
  const uint16_t position = PositionOf(m_.posts.back().wParam);
  // The ring wraps before the busy server reads the record: a name of the
  // same length now stands where "late" was.
  for (int stores = 0; m_.Store("xxxx") != position; ++stores) ASSERT_LT(stores, 100000);
  m_.Pump();
  int undos = 0;
  for (const FakePost& post : m_.posts) {
    undos += post.extension && post.which == ExtensionMessage::kRegisterUndo &&
             post.wParam == TextCheck("xxxx") && post.lParam == m_.Window(1);
  }
  EXPECT_EQ(undos, 1);
  EXPECT_EQ(m_[0].tables.FindSubscription("xxxx"), -1);  // undone
  EXPECT_EQ(m_[0].tables.FindSubscription("late"), -1);
  EXPECT_EQ(m_[1].AwaitingAck(), Strings{"late"});
  EXPECT_EQ(m_.Env(1).retryTimerMs, kFirstRegisterRetryMs);

  m_.FireRetryTimers();
  m_.Pump();
  EXPECT_EQ(Subscribers(0, "late"), std::vector<uint32_t>{m_.Window(1)});
  EXPECT_TRUE(m_[1].AwaitingAck().empty());
  EXPECT_EQ(m_.Env(1).retryTimerMs, 0u);
  PostAndPump(0, "late:m");
  EXPECT_EQ(m_.Executed(1), Strings{Ran("m")});
}

TEST_F(RegistrationAckTest, ANameThatCouldNotBeStoredIsSentOnceTheRingIsFree) {
  LoadSettled(2);
  m_.storesFail = true;  // another process holds the buffer mutex
  m_[1].Subscribe("held", kHandler);
  m_.FireRetryTimers();
  m_.Pump();
  EXPECT_EQ(m_.CountPosts(kRegisterSubscriber), 0);
  EXPECT_EQ(m_.Env(1).retryTimerMs, 2 * kFirstRegisterRetryMs);
  m_.storesFail = false;
  m_.FireRetryTimers();
  m_.Pump();
  EXPECT_EQ(Subscribers(0, "held"), std::vector<uint32_t>{m_.Window(1)});
  EXPECT_EQ(m_.Env(1).retryTimerMs, 0u);
}

TEST_F(RegistrationAckTest, AnOlderServerThatNeverAcknowledgesGetsABoundedNumberOfCopies) {
  LoadSettled(2);
  m_.olderBuilds.insert(0);
  m_[1].Subscribe("n", kHandler);
  for (int round = 0; round < 20; ++round) {
    m_.FireRetryTimers();
    m_.Pump();
  }
  EXPECT_EQ(m_.CountPosts(kRegisterSubscriber), 1 + kRegisterRetries);
  EXPECT_EQ(Subscribers(0, "n"), std::vector<uint32_t>{m_.Window(1)});
  EXPECT_EQ(m_.Env(1).retryTimerMs, 0u);
}

TEST_F(RegistrationAckTest, AStatusRequestIsAnsweredWithTheInstancesFigures) {
  LoadSettled(3);
  SubscribeAll({0, 1, 2}, "a");
  SubscribeAll({1}, "b");
  Send(2, kDeliverText, "a:stale", 12345);  // its check does not match
  m_.queues[0x7000];
  m_.PostExtension(-1, ExtensionMessage::kStatus, m_.Window(0), kStatusRequest, 0x7000);
  m_.PostExtension(-1, ExtensionMessage::kStatus, m_.Window(2), kStatusRequest, 0x7000);
  m_.Pump();
  ASSERT_EQ(m_.queues[0x7000].size(), 2u);
  StatusReport server;
  StatusReport client;
  for (StatusReport* report : {&server, &client}) {
    const FakePost answer = m_.queues[0x7000].front();
    m_.queues[0x7000].pop_front();
    const std::string text = m_.Read(PositionOf(answer.wParam));
    EXPECT_EQ(TextCheck(text), answer.lParam);
    ASSERT_TRUE(ParseStatusReport(text, report));
  }
  EXPECT_TRUE(server.isServer);
  EXPECT_EQ(server.tableNames, 2u);
  EXPECT_EQ(server.tableEntries, 4u);
  EXPECT_EQ(server.process, 1000u);
  EXPECT_FALSE(client.isServer);
  EXPECT_EQ(client.serverWindow, m_.Window(0));
  EXPECT_EQ(client.ownNames, 1u);
  EXPECT_EQ(client.instance.textsDropped, 1u);
}

// Acknowledgements that say what the server did, and the bookkeeping of
// the name changes that await them.
class NameChangeAckTest : public InstanceProtocolTest {
 protected:
  static constexpr int kServer = 0;
  static constexpr int kClient = 1;

  // Stores four-letter fillers until the next store lands at `position`.
  // REQUIRES: every record in the ring so far holds a four-letter text, so
  // that all records are the same size.
  void WrapTo(uint16_t position) {
    const uint16_t before = static_cast<uint16_t>(position - 7);
    for (int stores = 0; m_.Store("wwww") != before; ++stores) ASSERT_LT(stores, 100000);
  }
  // Reads the name of each registration or withdrawal the client posted
  // since the last call, while the ring still holds it, and counts the
  // copies of each change.
  void Tally() {
    for (; tallied_ < m_.posts.size(); ++tallied_) {
      const FakePost& post = m_.posts[tallied_];
      const uint32_t code = CodeOf(post.wParam);
      if (post.from != kClient || post.extension ||
          (code != kRegisterSubscriber && code != kUnregisterSubscriber)) {
        continue;
      }
      ++copies_[{m_.Read(PositionOf(post.wParam)), code}];
    }
  }
  // Moves the clock on by `ms`, firing the client's retry timer whenever it
  // comes due.
  void LetTimePass(uint32_t ms) {
    const uint32_t end = m_.nowMs + ms;
    FakeInstanceEnv& env = m_.Env(kClient);
    while (env.retryTimerMs != 0 && static_cast<int32_t>(env.retryDueMs - end) <= 0) {
      m_.nowMs = env.retryDueMs;
      m_[kClient].OnRetryTimer();
      Tally();
      m_.Pump();
    }
    m_.nowMs = end;
  }
  int MostCopies() const {
    int most = 0;
    for (const auto& change : copies_) most = std::max(most, change.second);
    return most;
  }

  std::map<std::pair<std::string, uint32_t>, int> copies_;
  size_t tallied_ = 0;
};

TEST_F(NameChangeAckTest, AWithdrawalReadAsAnotherClientsNameIsSetRight) {
  LoadSettled(3);
  const int other = 2;
  SubscribeAll({kClient}, "aaaa");
  SubscribeAll({kClient}, "bbbb");
  m_[kClient].Unsubscribe("aaaa");
  const FakePost withdrawal = m_.posts.back();
  ASSERT_EQ(CodeOf(withdrawal.wParam), kUnregisterSubscriber);
  // Before the busy server reads the withdrawal, the ring wraps and the
  // other client's registration of a name of the same length lands on it.
  WrapTo(PositionOf(withdrawal.wParam));
  m_[other].Subscribe("bbbb", kHandler);
  ASSERT_EQ(PositionOf(m_.posts.back().wParam), PositionOf(withdrawal.wParam));
  m_.Pump();

  // The server acknowledged a withdrawal of "bbbb", which the client holds:
  // it registers it again.
  EXPECT_EQ(m_[kClient].ListSubscriptions(), "bbbb\t\tDO OnEvt WITH <Msg>\n");
  EXPECT_EQ(Subscribers(kServer, "bbbb"),
            (std::vector<uint32_t>{m_.Window(other), m_.Window(kClient)}));
  EXPECT_EQ(m_[kClient].AwaitingAck(), Strings{"aaaa"});  // its own record was lost
  m_.FireRetryTimers();
  m_.Pump();
  EXPECT_EQ(m_[kServer].tables.FindSubscription("aaaa"), -1);
  EXPECT_TRUE(m_[kClient].AwaitingAck().empty());
  EXPECT_EQ(m_.Env(kClient).retryTimerMs, 0u);
  PostAndPump(kServer, "bbbb:m");
  EXPECT_EQ(m_.Executed(kClient), Strings{Ran("m")});
  EXPECT_EQ(m_[kClient].counters.nameChangesGivenUp, 0u);
}

TEST_F(NameChangeAckTest, AgainstAnOlderServerEachChangeHasItsOwnBoundedRetries) {
  LoadSettled(2);
  m_.olderBuilds.insert(kServer);
  // A name subscribed and the one before it withdrawn every two seconds.
  const int rounds = 40;
  size_t longest = 0;
  for (int round = 0; round < rounds; ++round) {
    m_[kClient].Subscribe("n" + std::to_string(round), kHandler);
    if (round > 0) m_[kClient].Unsubscribe("n" + std::to_string(round - 1));
    Tally();
    m_.Pump();
    longest = std::max(longest, m_[kClient].AwaitingAck().size());
    LetTimePass(2000);
  }
  LetTimePass(30000);
  // A name waits from its SUBSCRIBE until its withdrawal's six copies and
  // one doubled delay have passed, 2 + 12.7 s: never more than eight names.
  EXPECT_LE(longest, 8u);
  EXPECT_EQ(MostCopies(), 1 + kRegisterRetries);
  EXPECT_EQ(copies_.size(), 2u * rounds - 1);
  EXPECT_TRUE(m_[kClient].AwaitingAck().empty());
  EXPECT_EQ(m_.Env(kClient).retryTimerMs, 0u);
  EXPECT_EQ(m_[kClient].counters.nameChangesGivenUp, static_cast<uint32_t>(rounds));
  const std::string last = "n" + std::to_string(rounds - 1);
  EXPECT_EQ(Subscribers(kServer, last), std::vector<uint32_t>{m_.Window(kClient)});
  EXPECT_EQ(m_[kServer].tables.FindSubscription("n0"), -1);
}

TEST_F(NameChangeAckTest, ABurstOfChangesKeepsOnlyTheNewestAwaiting) {
  LoadSettled(2);
  m_.olderBuilds.insert(kServer);
  for (int i = 0; i < 120; ++i) {
    const std::string name = "b" + std::to_string(i);
    m_[kClient].Subscribe(name, kHandler);
    m_[kClient].Unsubscribe(name);
  }
  const Strings awaiting = m_[kClient].AwaitingAck();
  ASSERT_EQ(awaiting.size(), kMaxAwaitingAck);
  EXPECT_EQ(awaiting.front(), "b70");
  EXPECT_EQ(m_[kClient].counters.nameChangesGivenUp, 70u);
  Tally();
  m_.Pump();
  LetTimePass(30000);
  EXPECT_EQ(MostCopies(), 1 + kRegisterRetries);
  EXPECT_EQ(m_[kClient].counters.nameChangesGivenUp, 120u);
}

}  // namespace
}  // namespace zanvor
