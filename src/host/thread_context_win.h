// Per-thread host binding state. The host may call the library on any thread;
// each thread gets its own context with the callback and handle tables the
// host handed over with dispatch code 0.
#ifndef ZANVOR_HOST_THREAD_CONTEXT_WIN_H_
#define ZANVOR_HOST_THREAD_CONTEXT_WIN_H_

#include <cstdint>

#include "host/layouts.h"

namespace zanvor {

using HostCallback = void(__fastcall*)(RequestRecord*);

struct ThreadContext {
  ThreadContext* next;
  HostCallback hostCallback;
  uint8_t* handleTable;
  uint8_t* slotTable;
  // The error escape: the number of DispatchAPI calls active on this thread
  // whose frames a raised host error may unwind to. Zero while code runs
  // below a frame that is not ours (a window procedure or timer callback the
  // host dispatched), so a raise there never throws through the host.
  int escapeDepth;
};

// The calling thread's context, created (and linked into the context list)
// on first use. Null only when the process heap is exhausted.
ThreadContext* CurrentThreadContext();

// Library load and unload notifications (DllMain).
bool AttachProcess();
void DetachProcess();

// Thrown by a raised host error after the host's callback returned; caught
// by the innermost DispatchAPI call of the thread.
struct HostErrorRaised {};

// Marks a stretch of code entered from a frame that is not ours (window
// procedure, timer procedure): host errors raised inside do not unwind.
class ForeignFrameGuard {
 public:
  ForeignFrameGuard();
  ~ForeignFrameGuard();
  ForeignFrameGuard(const ForeignFrameGuard&) = delete;
  ForeignFrameGuard& operator=(const ForeignFrameGuard&) = delete;

 private:
  ThreadContext* context_;
  int savedDepth_;
};

}  // namespace zanvor

#endif  // ZANVOR_HOST_THREAD_CONTEXT_WIN_H_
