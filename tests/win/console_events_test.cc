// The tool's console handler: what it does for each event, on a thread of
// its own as the system runs it, against a main thread whose "unload" the
// test performs itself.
#include <windows.h>

#include "base/unique_handle_win.h"
#include "fll_host/console_events_win.h"
#include "gtest/gtest.h"

namespace zanvor {
namespace {

// The handler as the system runs it: on a new thread, which ends when the
// handler returns (for a closing console, the process ends then).
class HandlerThread {
 public:
  HandlerThread(ConsoleEventGate& gate, DWORD event) : gate_(gate), event_(event) {
    thread_.reset(CreateThread(nullptr, 0, &HandlerThread::Run, this, 0, nullptr));
  }
  ~HandlerThread() { WaitForSingleObject(thread_.get(), INFINITE); }

  // Whether the handler returned within `milliseconds`.
  bool ReturnedWithin(DWORD milliseconds) {
    return WaitForSingleObject(thread_.get(), milliseconds) == WAIT_OBJECT_0;
  }
  BOOL result() const { return result_; }

 private:
  static DWORD WINAPI Run(void* self) {
    auto* handler = static_cast<HandlerThread*>(self);
    handler->result_ = handler->gate_.OnEvent(handler->event_);
    return 0;
  }

  ConsoleEventGate& gate_;
  const DWORD event_;
  BOOL result_ = FALSE;
  UniqueHandle thread_;
};

// Whether the handler woke this thread's waits with a posted message.
bool WokenUp() {
  MSG message;
  return PeekMessageA(&message, nullptr, WM_NULL, WM_NULL, PM_REMOVE) != FALSE;
}

class ConsoleEventGateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A message queue for this thread, so that the handler's wake-up lands.
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    gate_ = ConsoleEventGate::Create(GetCurrentThreadId(), kWaitMs);
    ASSERT_NE(gate_, nullptr);
  }

  static constexpr DWORD kWaitMs = 3000;
  std::unique_ptr<ConsoleEventGate> gate_;
};

TEST_F(ConsoleEventGateTest, AClosingConsoleWaitsUntilTheMainThreadHasUnloaded) {
  for (DWORD event :
       {DWORD{CTRL_CLOSE_EVENT}, DWORD{CTRL_LOGOFF_EVENT}, DWORD{CTRL_SHUTDOWN_EVENT}}) {
    SCOPED_TRACE(event);
    ASSERT_TRUE(gate_->BeginLoaded());
    HandlerThread handler(*gate_, event);
    // The main thread learns of it at once, and the handler holds on.
    MSG message;
    ASSERT_TRUE(MsgWaitForMultipleObjectsEx(0, nullptr, 1000, QS_ALLINPUT, 0) == WAIT_OBJECT_0 &&
                PeekMessageA(&message, nullptr, WM_NULL, WM_NULL, PM_REMOVE));
    EXPECT_TRUE(gate_->interrupted());
    EXPECT_FALSE(handler.ReturnedWithin(500));
    // The unload: withdrawn names, ZANVOR_EXIT, the library freed.
    gate_->EndLoaded();
    EXPECT_TRUE(handler.ReturnedWithin(1000));
    EXPECT_EQ(handler.result(), TRUE);
    gate_ = ConsoleEventGate::Create(GetCurrentThreadId(), kWaitMs);
  }
}

TEST_F(ConsoleEventGateTest, CtrlCAndCtrlBreakOnlyMarkTheInterruption) {
  ASSERT_TRUE(gate_->BeginLoaded());
  for (DWORD event : {DWORD{CTRL_C_EVENT}, DWORD{CTRL_BREAK_EVENT}}) {
    HandlerThread handler(*gate_, event);
    EXPECT_TRUE(handler.ReturnedWithin(1000));
    EXPECT_EQ(handler.result(), TRUE);
    EXPECT_TRUE(gate_->interrupted());
    EXPECT_TRUE(WokenUp());
  }
  gate_->EndLoaded();
}

TEST_F(ConsoleEventGateTest, NothingLoadedMeansNothingToWaitFor) {
  {
    HandlerThread handler(*gate_, CTRL_CLOSE_EVENT);
    EXPECT_TRUE(handler.ReturnedWithin(1000));
  }
  // And no load starts after the event: the console would not wait for it.
  EXPECT_FALSE(gate_->BeginLoaded());
  HandlerThread again(*gate_, CTRL_CLOSE_EVENT);
  EXPECT_TRUE(again.ReturnedWithin(1000));
}

TEST_F(ConsoleEventGateTest, AnUnloadThatNeverComesIsWaitedForABoundedTime) {
  gate_ = ConsoleEventGate::Create(GetCurrentThreadId(), 300);
  ASSERT_TRUE(gate_->BeginLoaded());
  const ULONGLONG start = GetTickCount64();
  HandlerThread handler(*gate_, CTRL_CLOSE_EVENT);
  EXPECT_TRUE(handler.ReturnedWithin(2000));
  EXPECT_GE(GetTickCount64() - start, 250u);
  // The default stays below the 5 s after which Windows ends the process.
  EXPECT_LT(ConsoleEventGate::kUnloadWaitMs, 5000u);
}

}  // namespace
}  // namespace zanvor
