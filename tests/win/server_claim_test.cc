// The claim of the server role and the receive timer on real kernel objects:
// the mutex, the machine's mailslot and a thread timer.
#include <windows.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "commands/instance_env_win.h"
#include "gtest/gtest.h"
#include "host/thread_context_win.h"
#include "messaging/mailslot_server_win.h"
#include "messaging/packet.h"
#include "registry/message_buffer_win.h"
#include "registry/process_state_win.h"
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

class ServerClaimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    State().serverMutex.reset(CreateMutexA(nullptr, FALSE, nullptr));
    ThreadContext* context = CurrentThreadContext();
    savedCallback_ = context->hostCallback;
    context->hostCallback = RecordCommands;
    commands_ = &commands;
  }
  void TearDown() override {
    StopReceiving();
    if (State().ownsServerMutex) ReleaseMutex(State().serverMutex.get());
    State().ownsServerMutex = false;
    State().serverMutex.reset();
    CurrentThreadContext()->hostCallback = savedCallback_;
    commands_ = nullptr;
  }

  std::vector<std::string> commands;

 private:
  HostCallback savedCallback_ = nullptr;
};

TEST_F(ServerClaimTest, ASecondWinByTheHolderKeepsMailslotAndTimerAndLeaksNoCount) {
  ASSERT_TRUE(ClaimServerMutexAndMailslot());
  const HANDLE mailslot = State().mailslotHandle.get();
  const UINT_PTR timer = State().timerId.get();
  EXPECT_NE(mailslot, INVALID_HANDLE_VALUE);
  EXPECT_NE(timer, 0u);
  ASSERT_TRUE(ClaimServerMutexAndMailslot());
  EXPECT_EQ(State().mailslotHandle.get(), mailslot);
  EXPECT_EQ(State().timerId.get(), timer);
  // ZANVOR_EXIT releases once; that one release must free the mutex.
  ReleaseMutex(State().serverMutex.get());
  State().ownsServerMutex = false;
  EXPECT_EQ(WaitFromOtherThread(State().serverMutex.get()), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_TRUE(commands.empty());
}

TEST_F(ServerClaimTest, AnAbandonedServerMutexIsAWonClaim) {
  HANDLE mutex = State().serverMutex.get();
  std::thread([mutex] { WaitForSingleObject(mutex, INFINITE); }).join();  // dies owning it
  EXPECT_TRUE(ClaimServerMutexAndMailslot());
  EXPECT_TRUE(State().ownsServerMutex);
  EXPECT_TRUE(State().mailslotHandle.valid());
  EXPECT_NE(State().timerId.get(), 0u);
}

TEST_F(ServerClaimTest, ALiveOwnerElsewhereMakesTheClaimLoseAndOpensNothing) {
  HANDLE mutex = State().serverMutex.get();
  HANDLE owned = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread owner([=] {
    WaitForSingleObject(mutex, INFINITE);
    SetEvent(owned);
    WaitForSingleObject(done, INFINITE);
    ReleaseMutex(mutex);
  });
  WaitForSingleObject(owned, INFINITE);
  EXPECT_FALSE(ClaimServerMutexAndMailslot());
  EXPECT_FALSE(State().mailslotHandle.valid());
  EXPECT_EQ(State().timerId.get(), 0u);
  SetEvent(done);
  owner.join();
  CloseHandle(owned);
  CloseHandle(done);
}

TEST_F(ServerClaimTest, AMailslotThatCannotBeCreatedIsReportedAndTheRoleKept) {
  UniqueFile squatter(CreateMailslotA(kServerMailslotName, 0, 0, nullptr));
  ASSERT_TRUE(squatter.valid());
  EXPECT_TRUE(ClaimServerMutexAndMailslot());
  EXPECT_FALSE(State().mailslotHandle.valid());
  EXPECT_EQ(State().timerId.get(), 0u);
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].rfind("MessageBox('Unable to open mailslot. Error: ", 0), 0u) << commands[0];
  const std::string tail = "','Zanvor error', 16)";
  EXPECT_EQ(commands[0].substr(commands[0].size() - tail.size()), tail);
}

// A datagram bigger than the receive buffer must not stop the machine's
// mailslot: it is taken out and dropped, and the packet behind it arrives.
TEST_F(ServerClaimTest, TheTimerDropsAnOversizedDatagramAndDeliversTheNext) {
  ASSERT_TRUE(ClaimServerMutexAndMailslot());
  ProcessState& state = State();
  state.bufferSection.reset(
      CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 16384, nullptr));
  state.bufferMutex.reset(CreateMutexA(nullptr, FALSE, nullptr));
  state.messageId = RegisterWindowMessageA("Zanvor test message");
  HWND window = CreateWindowExA(0, "STATIC", "claim test", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  InstanceProtocol& protocol = Protocol();
  protocol.mainWindow = protocol.serverWindow = WindowValue(window);
  protocol.tables.ResetSubscribers();
  protocol.Subscribe("news", "DO x WITH <Msg>");

  UniqueFile writer(CreateFileA(kServerMailslotName, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(writer.valid());
  DWORD written = 0;
  const std::vector<uint8_t> oversized(600, 0x41);
  ASSERT_TRUE(WriteFile(writer.get(), oversized.data(), 600, &written, nullptr));
  const std::string text = "news:hello";
  uint8_t packet[kPacketBufferSize];
  const uint8_t id[16] = {1, 2, 3};
  CMsgPack packer;
  const int32_t size = packer.Pack(reinterpret_cast<const uint8_t*>(text.data()),
                                   static_cast<int32_t>(text.size()), packet, id, 4711);
  ASSERT_TRUE(WriteFile(writer.get(), packet, size, &written, nullptr));

  MailslotTimerProc(nullptr, 0, 0, 0);

  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, window, state.messageId, state.messageId, PM_REMOVE));
  EXPECT_EQ(HIWORD(msg.wParam), 8);  // DeliverText
  EXPECT_EQ(ReadText(state.bufferSection.get(), LOWORD(msg.wParam)), text);
  EXPECT_EQ(static_cast<uint32_t>(msg.lParam), TextCheck(text));
  EXPECT_FALSE(PeekMessageA(&msg, window, state.messageId, state.messageId, PM_REMOVE));
  EXPECT_TRUE(commands.empty());

  protocol.Unsubscribe("news");
  protocol.mainWindow = protocol.serverWindow = 0;
  DestroyWindow(window);
  state.bufferSection.reset();
  state.bufferMutex.reset();
  state.messageId = 0;
}

}  // namespace
}  // namespace zanvor
