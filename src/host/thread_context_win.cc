#include "host/thread_context_win.h"

#include <windows.h>

namespace zanvor {
namespace {

// Process-wide: the TLS slot, the list of every context ever created (newest
// first) and the lock that guards both. Contexts are freed only at detach.
struct ContextRegistry {
  CRITICAL_SECTION lock;
  DWORD tlsIndex = TLS_OUT_OF_INDEXES;
  ThreadContext* head = nullptr;

  ContextRegistry() { InitializeCriticalSection(&lock); }
  // Runs after DLL_PROCESS_DETACH when the library is unloaded.
  ~ContextRegistry() {
    EnterCriticalSection(&lock);
    FreeAll();
    if (tlsIndex != TLS_OUT_OF_INDEXES) {
      TlsFree(tlsIndex);
      tlsIndex = TLS_OUT_OF_INDEXES;
    }
    LeaveCriticalSection(&lock);
    DeleteCriticalSection(&lock);
  }
  ContextRegistry(const ContextRegistry&) = delete;
  ContextRegistry& operator=(const ContextRegistry&) = delete;

  void FreeAll() {
    while (head != nullptr) {
      ThreadContext* next = head->next;
      HeapFree(GetProcessHeap(), 0, head);
      head = next;
    }
  }

  // REQUIRES: tlsIndex is held. Allocation happens outside the lock; only
  // the list insertion is inside it.
  ThreadContext* CreateForThisThread(bool lockHeld) {
    auto* context = static_cast<ThreadContext*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(ThreadContext)));
    if (context == nullptr) return nullptr;
    if (!TlsSetValue(tlsIndex, context)) {
      HeapFree(GetProcessHeap(), 0, context);
      return nullptr;
    }
    if (!lockHeld) EnterCriticalSection(&lock);
    context->next = head;
    head = context;
    if (!lockHeld) LeaveCriticalSection(&lock);
    return context;
  }
};

ContextRegistry registry;

}  // namespace

ThreadContext* CurrentThreadContext() {
  if (registry.tlsIndex == TLS_OUT_OF_INDEXES) {
    // Normally taken at load; code linked statically (the Windows unit
    // tests) gets its slot on first use instead.
    EnterCriticalSection(&registry.lock);
    if (registry.tlsIndex == TLS_OUT_OF_INDEXES) registry.tlsIndex = TlsAlloc();
    LeaveCriticalSection(&registry.lock);
    if (registry.tlsIndex == TLS_OUT_OF_INDEXES) return nullptr;
  }
  // TlsGetValue does not clear the last error on success in every Windows
  // version; callers read GetLastError only after their own calls.
  auto* context = static_cast<ThreadContext*>(TlsGetValue(registry.tlsIndex));
  if (context != nullptr) return context;
  return registry.CreateForThisThread(/*lockHeld=*/false);
}

bool AttachProcess() {
  EnterCriticalSection(&registry.lock);
  if (registry.tlsIndex == TLS_OUT_OF_INDEXES) {
    registry.tlsIndex = TlsAlloc();
    if (registry.tlsIndex == TLS_OUT_OF_INDEXES) {
      LeaveCriticalSection(&registry.lock);
      return false;
    }
  } else if (TlsGetValue(registry.tlsIndex) != nullptr) {
    LeaveCriticalSection(&registry.lock);
    return true;
  }
  // A context that cannot be allocated now is created on the thread's first
  // DispatchAPI call instead; the load itself does not need it.
  registry.CreateForThisThread(/*lockHeld=*/true);
  LeaveCriticalSection(&registry.lock);
  return true;
}

void DetachProcess() {
  EnterCriticalSection(&registry.lock);
  registry.FreeAll();
  LeaveCriticalSection(&registry.lock);
}

}  // namespace zanvor
