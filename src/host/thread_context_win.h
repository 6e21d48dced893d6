// Per-thread host binding state. The host may call the library on any thread;
// each thread gets its own context with the callback and handle tables the
// host handed over with dispatch code 0.
#ifndef ZANVOR_HOST_THREAD_CONTEXT_WIN_H_
#define ZANVOR_HOST_THREAD_CONTEXT_WIN_H_

#include <cstdint>

#include "contract/host_abi.h"

namespace zanvor {

using HostCallback = void(__fastcall*)(RequestRecord*);

struct ThreadContext {
  ThreadContext* next;
  HostCallback hostCallback;
  uint8_t* handleTable;
  uint8_t* slotTable;
};

// The calling thread's context, created (and linked into the context list)
// on first use. Null only when the process heap is exhausted.
ThreadContext* CurrentThreadContext();

// Library load and unload notifications (DllMain).
bool AttachProcess();
void DetachProcess();

// The error escape: thrown by a raised host error after the host's callback
// returned, and caught by the innermost DispatchAPI call of the thread. Every
// entry point the host or Windows calls (DispatchAPI, the window procedure,
// the timer procedure) catches everything, so nothing unwinds into frames
// that are not ours.
struct HostErrorRaised {};

}  // namespace zanvor

#endif  // ZANVOR_HOST_THREAD_CONTEXT_WIN_H_
