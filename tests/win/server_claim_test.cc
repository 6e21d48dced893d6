// The claim of the server role and the receive timer on real kernel objects:
// the mutex, the machine's mailslot, a thread timer and the UDP socket.
#include <windows.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "commands/instance_env_win.h"
#include "commands/status_report.h"
#include "gtest/gtest.h"
#include "host/thread_context_win.h"
#include "library_process_win.h"
#include "messaging/packet.h"
#include "registry/message_buffer_win.h"
#include "registry/ring_layout.h"

namespace zanvor {
namespace {

std::vector<std::string>* commands_ = nullptr;

void __fastcall RecordCommands(RequestRecord* record) {
  if (record->hostRequest == kRequestExecuteCommand && commands_ != nullptr) {
    commands_->push_back(reinterpret_cast<const char*>(static_cast<uintptr_t>(record->data)));
  }
}

DWORD WaitFromOtherThread(HANDLE mutex) {
  DWORD result = WAIT_FAILED;
  std::thread([&] {
    result = WaitForSingleObject(mutex, 0);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) ReleaseMutex(mutex);
  }).join();
  return result;
}

// Anonymous objects, which no other process meets, and a message of the
// test's own.
constexpr MachineNames kTestNames = {nullptr, nullptr, nullptr, "Zanvor test message", nullptr};

class ServerClaimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(library.machine.Open(kTestNames).failed, JoinStep::kNone);
    window = CreateWindowExA(0, "STATIC", "receive test", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                             nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    notify = RegisterWindowMessageA("Zanvor test datagram");
    library.role.udp().SetNotifyWindow(window, notify);
    ThreadContext* context = CurrentThreadContext();
    savedCallback_ = context->hostCallback;
    context->hostCallback = RecordCommands;
    commands_ = &commands;
  }
  void TearDown() override {
    library.role.Release();
    DestroyWindow(window);
    CurrentThreadContext()->hostCallback = savedCallback_;
    commands_ = nullptr;
  }

  // A fresh process object per test: the timer and window procedures reach
  // it while it lives.
  LibraryProcess library;
  ServerRole& Role() { return library.role; }
  InstanceProtocol& Protocol() { return library.protocol; }
  bool ClaimServerRole() { return library.role.Claim(); }

  std::vector<std::string> commands;
  HWND window = nullptr;
  UINT notify = 0;

 private:
  HostCallback savedCallback_ = nullptr;
};

TEST_F(ServerClaimTest, ASecondWinByTheHolderKeepsMailslotAndTimerAndLeaksNoCount) {
  ASSERT_TRUE(ClaimServerRole());
  const HANDLE mailslot = Role().mailslot();
  const UINT_PTR timer = Role().receiveTimer();
  EXPECT_NE(mailslot, INVALID_HANDLE_VALUE);
  EXPECT_NE(timer, 0u);
  EXPECT_TRUE(Role().udp().IsOpen());
  ASSERT_TRUE(ClaimServerRole());
  EXPECT_EQ(Role().mailslot(), mailslot);
  EXPECT_EQ(Role().receiveTimer(), timer);
  // ZANVOR_EXIT releases once; that one release must free the mutex, and
  // give the mailslot's name and the port back.
  Role().Release();
  EXPECT_EQ(WaitFromOtherThread(library.machine.serverMutex()), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_FALSE(Role().held());
  EXPECT_FALSE(Role().udp().IsOpen());
  UniqueFile next(CreateMailslotA(kServerMailslotName, 0, 0, nullptr));
  EXPECT_TRUE(next.valid()) << "the mailslot is still open";
  EXPECT_TRUE(commands.empty());
}

TEST_F(ServerClaimTest, AnAbandonedServerMutexIsAWonClaim) {
  HANDLE mutex = library.machine.serverMutex();
  std::thread([mutex] { WaitForSingleObject(mutex, INFINITE); }).join();  // dies owning it
  EXPECT_TRUE(ClaimServerRole());
  EXPECT_TRUE(Role().held());
  EXPECT_NE(Role().mailslot(), INVALID_HANDLE_VALUE);
  EXPECT_NE(Role().receiveTimer(), 0u);
}

TEST_F(ServerClaimTest, ALiveOwnerElsewhereMakesTheClaimLoseAndOpensNothing) {
  HANDLE mutex = library.machine.serverMutex();
  HANDLE owned = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread owner([=] {
    WaitForSingleObject(mutex, INFINITE);
    SetEvent(owned);
    WaitForSingleObject(done, INFINITE);
    ReleaseMutex(mutex);
  });
  WaitForSingleObject(owned, INFINITE);
  EXPECT_FALSE(ClaimServerRole());
  EXPECT_EQ(Role().mailslot(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(Role().receiveTimer(), 0u);
  EXPECT_FALSE(Role().udp().IsOpen());
  SetEvent(done);
  owner.join();
  CloseHandle(owned);
  CloseHandle(done);
}

TEST_F(ServerClaimTest, AMailslotThatCannotBeCreatedIsReportedAndTheRoleKept) {
  UniqueFile squatter(CreateMailslotA(kServerMailslotName, 0, 0, nullptr));
  ASSERT_TRUE(squatter.valid());
  EXPECT_TRUE(ClaimServerRole());
  EXPECT_EQ(Role().mailslot(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(Role().receiveTimer(), 0u);
  EXPECT_TRUE(Role().udp().IsOpen()) << "the UDP path goes on alone";
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].rfind("MessageBox('Unable to open mailslot. Error: ", 0), 0u)
      << commands[0];
  const std::string tail = "','Zanvor error', 16)";
  EXPECT_EQ(commands[0].substr(commands[0].size() - tail.size()), tail);
}

// The server instance with a window of its own subscribed to "news", its
// ring and its mailslot: the receive timer's whole path on real objects.
class ReceiveTest : public ServerClaimTest {
 protected:
  void SetUp() override {
    ServerClaimTest::SetUp();
    ASSERT_TRUE(ClaimServerRole());
    InstanceProtocol& protocol = Protocol();
    protocol.mainWindow = protocol.serverWindow = WindowValue(window);
    protocol.tables.ResetSubscribers();  // as ZANVOR_INIT does
    protocol.Subscribe("news", "DO x WITH <Msg>");
    writer.reset(CreateFileA(kServerMailslotName, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer.valid());
  }
  void TearDown() override {
    writer.reset();
    ServerClaimTest::TearDown();
  }

  void Write(const std::vector<uint8_t>& datagram) {
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(writer.get(), datagram.data(), static_cast<DWORD>(datagram.size()),
                          &written, nullptr));
  }
  static std::vector<uint8_t> Packet(const std::string& text, uint8_t idByte) {
    uint8_t packet[kPacketBufferSize];
    const uint8_t id[16] = {idByte, 0x5A, 0x56};
    CMsgPack packer;
    const int32_t size =
        packer.Pack(reinterpret_cast<const uint8_t*>(text.data()),
                    static_cast<int32_t>(text.size()), packet, sizeof packet, id, 4711);
    return std::vector<uint8_t>(packet, packet + size);
  }
  // The texts of the DeliverText posts waiting for the window, in order.
  std::vector<std::string> Delivered() {
    std::vector<std::string> texts;
    MSG msg;
    const UINT id = library.machine.messages.instance;
    while (PeekMessageA(&msg, window, id, id, PM_REMOVE)) {
      EXPECT_EQ(HIWORD(msg.wParam), 8);  // DeliverText
      const std::string text = ReadText(library.machine.section(), LOWORD(msg.wParam));
      EXPECT_EQ(static_cast<uint32_t>(msg.lParam), TextCheck(text));
      texts.push_back(text);
    }
    return texts;
  }

  UniqueFile writer;
};

// A datagram bigger than the receive buffer must not stop the machine's
// mailslot: it is taken out and dropped, and the packet behind it arrives.
TEST_F(ReceiveTest, TheTimerDropsAnOversizedDatagramAndDeliversTheNext) {
  Write(std::vector<uint8_t>(600, 0x41));
  Write(Packet("news:hello", 1));
  ReceiveTimerProc(nullptr, 0, 0, 0);
  EXPECT_EQ(Delivered(), std::vector<std::string>{"news:hello"});
  EXPECT_TRUE(commands.empty());
}

TEST_F(ReceiveTest, ADuplicateAndABadCheckByteAreDroppedAndTheTickGoesOn) {
  std::vector<uint8_t> bad = Packet("news:bad", 2);
  bad.back() ^= 0x01;
  Write(bad);
  Write(Packet("news:one", 3));
  Write(Packet("news:one", 3));  // the same id again
  Write(Packet("news:two", 4));
  Write(Packet("other:nobody", 5));
  ReceiveTimerProc(nullptr, 0, 0, 0);
  EXPECT_EQ(Delivered(), (std::vector<std::string>{"news:one", "news:two"}));
}

TEST_F(ReceiveTest, OneTickTakesAtMostOneHundredDatagrams) {
  for (int i = 0; i < 150; ++i)
    Write(Packet("news:" + std::to_string(i), static_cast<uint8_t>(100 + i)));
  ReceiveTimerProc(nullptr, 0, 0, 0);
  std::vector<std::string> first = Delivered();
  ASSERT_EQ(first.size(), 100u);
  EXPECT_EQ(first.front(), "news:0");
  EXPECT_EQ(first.back(), "news:99");
  ReceiveTimerProc(nullptr, 0, 0, 0);
  std::vector<std::string> second = Delivered();
  ASSERT_EQ(second.size(), 50u);
  EXPECT_EQ(second.back(), "news:149");
}

// A live window whose queue is full refuses a post, and the text is lost:
// counted in the status. Wine's queues take any number of messages, so a
// message Windows never posts (one that carries a pointer, refused with
// ERROR_MESSAGE_SYNC_ONLY) stands in for the full queue.
TEST_F(ReceiveTest, APostALiveWindowRefusesIsCountedInTheStatus) {
  const UINT registered = library.machine.messages.instance;
  library.machine.messages.instance = WM_SETTEXT;
  EXPECT_EQ(library.env.Post(WindowValue(window), 0x80001, 0), PostResult::kFailed);
  library.machine.messages.instance = registered;
  EXPECT_EQ(library.env.Post(WindowValue(window), 0x80001, 0), PostResult::kPosted);
  const HWND gone =
      CreateWindowExA(0, "STATIC", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  DestroyWindow(gone);
  EXPECT_EQ(library.env.Post(WindowValue(gone), 0x80001, 0), PostResult::kWindowGone);
  StatusReport report;
  library.env.AddMachineStatus(&report);
  EXPECT_EQ(report.instance.postsRefused, 1u) << "only the refused post counts";
  EXPECT_NE(FormatStatusReport(report).find("\nposts_refused=1\n"), std::string::npos);
}

// The UDP path on a real socket (loopback): the same duplicate filter as the
// mailslot, no tick boundary, and the port given back on close.
class UdpReceiveTest : public ReceiveTest {
 protected:
  void SetUp() override {
    ReceiveTest::SetUp();
    ASSERT_TRUE(library.role.udp().IsOpen()) << "the claim opens it";
    sender.reset(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    ASSERT_TRUE(sender.valid());
  }
  void TearDown() override {
    sender.reset();
    ReceiveTest::TearDown();
  }
  void Send(const std::vector<uint8_t>& datagram) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kUdpPort);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(sendto(sender.get(), reinterpret_cast<const char*>(datagram.data()),
                     static_cast<int>(datagram.size()), 0, reinterpret_cast<const sockaddr*>(&to),
                     sizeof to),
              static_cast<int>(datagram.size()));
  }
  // Takes every notification waiting for the window out of the queue.
  int TakeNotifications() {
    int taken = 0;
    MSG msg;
    while (PeekMessageA(&msg, window, notify, notify, PM_REMOVE)) ++taken;
    return taken;
  }
  // Sends `count` distinct packets, waits for the first notification and
  // takes it out of the queue with any that came with it; *notified is its
  // lParam.
  void SendBurstAndTakeFirstNotification(int count, LPARAM* notified) {
    for (int i = 0; i < count; ++i) {
      std::vector<uint8_t> packet = Packet("news:" + std::to_string(i), 0);
      packet[1] = static_cast<uint8_t>(i);
      packet[2] = static_cast<uint8_t>(i >> 8);
      Send(packet);
    }
    MSG msg;
    const DWORD end = GetTickCount() + 2000;
    while (!PeekMessageA(&msg, window, notify, notify, PM_REMOVE)) {
      ASSERT_LT(static_cast<int32_t>(GetTickCount() - end), 0) << "no notification came";
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_POSTMESSAGE);
    }
    *notified = msg.lParam;
    TakeNotifications();
  }
  // Hands every notification that arrives within `ms` to the receiver, and
  // with `timers` every resume timer tick too.
  void PumpNotifications(DWORD ms, bool timers = false) {
    const DWORD end = GetTickCount() + ms;
    MSG msg;
    while (static_cast<int32_t>(end - GetTickCount()) > 0) {
      if (PeekMessageA(&msg, window, notify, notify, PM_REMOVE)) {
        library.role.udp().OnNotify(msg.lParam);
      } else if (timers && PeekMessageA(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE)) {
        DispatchMessageA(&msg);
      } else {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_POSTMESSAGE | (timers ? QS_TIMER : 0));
      }
    }
  }

  WinsockSession session;
  UniqueSocket sender;
};

TEST_F(UdpReceiveTest, DatagramsAreDeliveredOnceAcrossBothPathsAndJunkIsDropped) {
  Send(std::vector<uint8_t>(16, 0x41));
  Send(std::vector<uint8_t>(600, 0x41));
  Send(Packet("news:over udp", 7));
  Send(Packet("news:over udp", 7));
  Write(Packet("news:over udp", 7));  // the mailslot copy
  PumpNotifications(300);
  ReceiveTimerProc(nullptr, 0, 0, 0);
  EXPECT_EQ(Delivered(), std::vector<std::string>{"news:over udp"});
  EXPECT_TRUE(commands.empty());
}

// A burst waiting on the socket while a timer of the host's has expired:
// one notification reads for a slice with notifications off, and leaves the
// rest to the resume timer, behind the host's. No notification is left
// queued, where it would come before the host's input and timers; every
// datagram is read in the end.
TEST_F(UdpReceiveTest, ABurstLeavesNoNotificationsQueuedAndIsReadByTheTimer) {
  constexpr int kBurst = 1500;
  LPARAM notified = 0;
  ASSERT_NO_FATAL_FAILURE(SendBurstAndTakeFirstNotification(kBurst, &notified));
  constexpr UINT_PTR kHostsTimer = 77;
  ASSERT_NE(SetTimer(window, kHostsTimer, 1, nullptr), 0u);
  Sleep(20);
  library.role.udp().OnNotify(notified);
  KillTimer(window, kHostsTimer);
  const uint32_t readAtOnce = library.receiving.counters.udpDatagrams;
  EXPECT_GT(readAtOnce, 0u);
  EXPECT_LT(readAtOnce, static_cast<uint32_t>(kBurst)) << "read on past the host's timer";
  EXPECT_EQ(TakeNotifications(), 0) << "reading posted notifications behind itself";

  PumpNotifications(3000, /*timers=*/true);
  // Loopback may drop what its buffer did not hold; the rest is all read.
  const ReceiveCounters& counters = library.receiving.counters;
  EXPECT_GT(counters.udpDatagrams, readAtOnce) << "the timer read on";
  EXPECT_EQ(counters.delivered, counters.udpDatagrams);
  // The ring wrapped many times over: count the DeliverText posts, unread.
  int posts = 0;
  const UINT id = library.machine.messages.instance;
  MSG msg;
  while (PeekMessageA(&msg, window, id, id, PM_REMOVE)) ++posts;
  EXPECT_EQ(static_cast<uint32_t>(posts), counters.delivered);
  // The socket emptied, notifications are on again.
  Send(Packet("news:after the burst", 1));
  PumpNotifications(1000);
  EXPECT_EQ(Delivered(), std::vector<std::string>{"news:after the burst"});
}

// Only a message the host posted waits: the drain gives way to it, and the
// one notification that brings the rest comes behind it.
TEST_F(UdpReceiveTest, ABurstGivesWayToTheHostsPostedMessageAndResumesBehindIt) {
  LPARAM notified = 0;
  ASSERT_NO_FATAL_FAILURE(SendBurstAndTakeFirstNotification(1500, &notified));
  // The role's 200 ms receive timer may have come due while the burst was
  // sent: a due timer is input the drain rightly gives way to, so take its
  // tick off the queue for the host's message to be all that waits.
  MSG tick;
  while (PeekMessageA(&tick, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE)) {
  }
  constexpr UINT kHostsOwn = WM_APP + 7;
  ASSERT_TRUE(PostMessageA(window, kHostsOwn, 0, 0));
  library.role.udp().OnNotify(notified);
  MSG msg;
  EXPECT_LT(library.receiving.counters.udpDatagrams, 1500u) << "read on past the host's message";
  // Wine's wineserver posts the notification that listening brings a moment
  // later, not inside the call as Windows does: wait for it (bounded).
  std::vector<UINT> order;
  const DWORD end = GetTickCount() + 2000;
  while (order.size() < 2 && static_cast<int32_t>(end - GetTickCount()) > 0) {
    if (!PeekMessageA(&msg, window, 0, 0, PM_REMOVE)) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_POSTMESSAGE);
      continue;
    }
    if (msg.message == kHostsOwn || msg.message == notify) order.push_back(msg.message);
  }
  EXPECT_EQ(order, (std::vector<UINT>{kHostsOwn, notify}));
}

// ZANVOR_EXIT ends the Winsock sessions of both halves (none may be left to
// the destructor, which runs under the loader lock), and the next load
// starts its own.
TEST_F(UdpReceiveTest, ExitEndsEveryWinsockSessionAndTheNextLoadStartsOneAgain) {
  const int receiving = WinsockSession::Held();
  const std::vector<uint8_t> packet = Packet("nobody:x", 9);
  library.udpSender.Send(packet.data(), static_cast<uint32_t>(packet.size()));
  EXPECT_EQ(WinsockSession::Held(), receiving + 1);
  library.Exit();
  EXPECT_EQ(WinsockSession::Held(), receiving - 1) << "the receiver's or the sender's is left";
  ASSERT_EQ(library.machine.Open(kTestNames).failed, JoinStep::kNone);
  ASSERT_TRUE(library.role.Claim());
  ASSERT_TRUE(library.role.udp().IsOpen());
  library.udpSender.Send(packet.data(), static_cast<uint32_t>(packet.size()));
  EXPECT_EQ(WinsockSession::Held(), receiving + 1);
  library.Exit();
  EXPECT_EQ(WinsockSession::Held(), receiving - 1);
}

TEST_F(UdpReceiveTest, TwoReceiversShareThePortAndClosingGivesItBack) {
  ReceiveSink& sink = library.receiveSink;
  ReceiveState otherState;
  UdpReceiver other(sink, otherState);
  other.SetNotifyWindow(window, notify);
  EXPECT_TRUE(other.Open()) << "SO_REUSEADDR lets a second session's server bind too";
  other.Close();
  library.role.udp().Close();
  UniqueSocket exclusive(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_port = htons(kUdpPort);
  EXPECT_EQ(bind(exclusive.get(), reinterpret_cast<const sockaddr*>(&any), sizeof any), 0);
}

}  // namespace
}  // namespace zanvor
