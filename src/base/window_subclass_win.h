// The library's subclass of a window (the host's main window), owned like a
// handle: installing it puts one of the library's entry procedures on the
// window, and releasing the owner takes it off again.
//
// Taking it off is safe only while the entry is still the window's current
// procedure. A FoxPro program subclasses the same window after the library
// did (BINDEVENT(_screen.hWnd, ...)) and later puts back, unchecked, the
// procedure it saved: ours. Restoring what we saved would cut the program's
// binding out of the chain, and its unbinding would then install the entry
// of a library that the host has freed. So an entry that is no longer on
// top stays in the chain as a pure pass-through (every message goes to the
// procedure it replaced; nothing of the library's handles it any more), and
// the module is pinned so that the pass-through outlives the library's
// unload.
//
// Every installed subclass has an entry procedure of its own with its own
// saved procedure. A pinned module serves the next load with the same code
// and globals; a subclass installed over the chain that still holds a
// pass-through must not share its saved procedure, or the pass-through would
// forward to the chain's new top and round again for ever. The entries are
// a small fixed set: when none is free, Install fails and the caller stays
// off the window, rather than risk the chain. A pass-through that is found
// on top of the window again is taken back into service, and one whose
// window is destroyed becomes free.
//
// Everything here runs on the thread that owns the window.
#ifndef ZANVOR_BASE_WINDOW_SUBCLASS_WIN_H_
#define ZANVOR_BASE_WINDOW_SUBCLASS_WIN_H_

#include <windows.h>

namespace zanvor {

// What an installed subclass hands each message to: the window's message,
// with the procedure the subclass replaced, to which the handler passes on
// whatever it does not handle itself. Must not throw.
using SubclassHandler = LRESULT (*)(WNDPROC previous, HWND window, UINT message, WPARAM wParam,
                                    LPARAM lParam);

class WindowSubclass {
 public:
  // Entry procedures, each good for one subclass at a time.
  static constexpr int kEntries = 8;

  WindowSubclass() noexcept = default;
  ~WindowSubclass() { reset(); }
  WindowSubclass(WindowSubclass&& other) noexcept;
  // Takes the subclass held off first.
  WindowSubclass& operator=(WindowSubclass&& other) noexcept;
  WindowSubclass(const WindowSubclass&) = delete;
  WindowSubclass& operator=(const WindowSubclass&) = delete;

  // Takes the subclass held off, then subclasses `window` so that `handler`
  // receives every message. False, holding nothing and with the window as
  // it was, when no entry is free (last error ERROR_NO_MORE_ITEMS) or the
  // window refuses (SetWindowLongPtrA's last error).
  // REQUIRES: handler is not null.
  bool Install(HWND window, SubclassHandler handler) noexcept;

  // Takes the subclass off: restores the procedure it replaced when its
  // entry is still the window's current procedure, else leaves the entry
  // as a pass-through and pins the module. Keeps the thread's last error.
  void reset() noexcept;

  bool installed() const noexcept { return entry_ >= 0; }
  // The window procedure this subclass installed, and the one it replaced;
  // null when nothing is installed.
  WNDPROC procedure() const noexcept;
  WNDPROC previous() const noexcept;

 private:
  int entry_ = -1;
};

}  // namespace zanvor

#endif  // ZANVOR_BASE_WINDOW_SUBCLASS_WIN_H_
