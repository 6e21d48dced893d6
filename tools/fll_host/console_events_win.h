// The console control handler of a process that hosts the library, and the
// gate that holds a closing console until the library is unloaded. The tool
// installs it; the host's waits (PumpUntil) end at its interruption.
#ifndef ZANVOR_TOOLS_FLL_HOST_CONSOLE_EVENTS_WIN_H_
#define ZANVOR_TOOLS_FLL_HOST_CONSOLE_EVENTS_WIN_H_

#include <windows.h>

#include <atomic>
#include <memory>

#include "base/unique_handle_win.h"

namespace zanvor {

// How the tool answers the console's control events.
//
// Every event marks the interruption and wakes the main thread's waits; the
// verb then ends the way it ends normally, withdrawing its names and
// unloading the library. For Ctrl+C and Ctrl+Break that is all: the process
// lives on. Closing the console, logoff and shutdown are different: Windows
// ends the process as soon as the handler returns (and after about 5 s if
// it does not), so for them the handler holds the system's thread until the
// main thread has unloaded the library (withdrawn its names, run
// ZANVOR_EXIT, handed the server role on), at most `unloadWaitMs`. Without
// that wait the machine would keep a server that is gone.
class ConsoleEventGate {
 public:
  // Below Windows' 5 s, with room for the unload's own last steps.
  static constexpr DWORD kUnloadWaitMs = 4000;

  // `mainThread`: the thread whose waits an event wakes. Null when the
  // event object cannot be made.
  static std::unique_ptr<ConsoleEventGate> Create(DWORD mainThread,
                                                  DWORD unloadWaitMs = kUnloadWaitMs);
  ConsoleEventGate(const ConsoleEventGate&) = delete;
  ConsoleEventGate& operator=(const ConsoleEventGate&) = delete;

  // The handler's work, on the thread the system started for the event.
  // Always TRUE: the event is handled here.
  BOOL OnEvent(DWORD event);
  bool interrupted() const { return interrupted_; }

  // Main thread, before it loads the library. False when an event came
  // already: no load may start after it, since a closing console would not
  // wait for its unload.
  bool BeginLoaded();
  // Main thread, once the library is unloaded (or its load failed).
  void EndLoaded();

 private:
  ConsoleEventGate(DWORD mainThread, DWORD unloadWaitMs, UniqueHandle unloaded);

  std::atomic<bool> interrupted_{false};
  const DWORD mainThread_;
  const DWORD unloadWaitMs_;
  // Manual-reset, signalled while no library is loaded.
  UniqueHandle unloaded_;
};

// Installs the process's console handler, with a gate for the calling
// (main) thread. Call it before the library is loaded, so that no event
// finds a loaded library without the handler.
void CatchInterrupts();
bool Interrupted();
// The process's gate around a load: BeginLoaded (true without a handler)
// and EndLoaded.
bool BeginLibraryLoaded();
void EndLibraryLoaded();

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_FLL_HOST_CONSOLE_EVENTS_WIN_H_
