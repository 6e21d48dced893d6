// The host's main window and the one family of message pumps that every
// host of a library waits in. The window is a real,
// unshown top-level window (not message-only), so that posts to
// HWND_BROADCAST reach it; the library subclasses it and posts to it.
#ifndef ZANVOR_TOOLS_FLL_HOST_MAIN_WINDOW_WIN_H_
#define ZANVOR_TOOLS_FLL_HOST_MAIN_WINDOW_WIN_H_

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "base/unique_handle_win.h"

namespace zanvor {

// A message the host's own window procedure answers with the number of
// times it has seen it, this time included: a script that sends it learns
// whether the window's chain of procedures still ends in the host's own.
constexpr UINT kHostProbeMessage = WM_APP + 1;

class MainWindow {
 public:
  // Registers the window class and creates the window; null on failure with
  // the reason in *error.
  static std::unique_ptr<MainWindow> Create(std::string* error);
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  HWND hwnd() const { return window_.get(); }
  // The host's own window procedure, for checking that a library that
  // subclassed the window put it back.
  static WNDPROC HostProcedure();

 private:
  MainWindow(ATOM windowClass, UniqueWindow window);

  ATOM windowClass_;
  UniqueWindow window_;
};

// Dispatches every message waiting for this thread (window messages, thread
// timers, posted thread messages). Returns false once WM_QUIT was taken.
bool PumpMessages();

// Pumps messages for `milliseconds`, waking as they arrive. Returns false
// once WM_QUIT was taken.
bool PumpMessagesFor(DWORD milliseconds);

// Pumps messages until `event` is signalled. Returns false once WM_QUIT was
// taken.
bool PumpUntilSignalled(HANDLE event);

// Pumps the thread's messages until done() holds, the time is up or an
// interruption came (any console event, see console_events_win.h). Returns
// done(). WM_QUIT is not looked for: nobody posts one to the tool.
bool PumpUntil(const std::function<bool()>& done, DWORD milliseconds);

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_FLL_HOST_MAIN_WINDOW_WIN_H_
