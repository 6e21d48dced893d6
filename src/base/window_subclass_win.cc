#include "base/window_subclass_win.h"

#include <utility>

namespace zanvor {
namespace {

enum class EntryState : unsigned char { kFree, kActive, kPassThrough };

// One entry procedure's slot. Plain static data, never destroyed: a
// pass-through left in a window's chain reads its slot until the process
// ends, after the library's own objects are gone.
struct EntrySlot {
  EntryState state;
  HWND window;
  WNDPROC previous;
  SubclassHandler handler;  // set only while active
};

EntrySlot slots[WindowSubclass::kEntries];

LRESULT Dispatch(int index, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  EntrySlot& slot = slots[index];
  // Copied first: the handler may run the library's unload, which turns
  // this entry into a pass-through while the message is still being handled.
  const WNDPROC previous = slot.previous;
  const SubclassHandler handler = slot.handler;
  if (handler != nullptr) return handler(previous, window, message, wParam, lParam);
  const LRESULT result = CallWindowProcA(previous, window, message, wParam, lParam);
  // The window's last message: no one calls a pass-through of that window
  // again, so its entry can serve the next subclass.
  if (message == WM_NCDESTROY && slot.state == EntryState::kPassThrough && slot.window == window) {
    slot = EntrySlot{};
  }
  return result;
}

template <int N>
LRESULT CALLBACK Entry(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return Dispatch(N, window, message, wParam, lParam);
}

constexpr WNDPROC kEntryProcedures[WindowSubclass::kEntries] = {
    &Entry<0>, &Entry<1>, &Entry<2>, &Entry<3>, &Entry<4>, &Entry<5>, &Entry<6>, &Entry<7>};

WNDPROC CurrentProcedure(HWND window) {
  return reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC));
}

// The entry whose procedure is `procedure`, or -1.
int EntryOf(WNDPROC procedure) {
  for (int i = 0; i < WindowSubclass::kEntries; ++i) {
    if (kEntryProcedures[i] == procedure) return i;
  }
  return -1;
}

}  // namespace

WindowSubclass::WindowSubclass(WindowSubclass&& other) noexcept
    : entry_(std::exchange(other.entry_, -1)) {}

WindowSubclass& WindowSubclass::operator=(WindowSubclass&& other) noexcept {
  if (this != &other) {
    reset();
    entry_ = std::exchange(other.entry_, -1);
  }
  return *this;
}

WNDPROC WindowSubclass::procedure() const noexcept {
  return installed() ? kEntryProcedures[entry_] : nullptr;
}

WNDPROC WindowSubclass::previous() const noexcept {
  return installed() ? slots[entry_].previous : nullptr;
}

bool WindowSubclass::Install(HWND window, SubclassHandler handler) noexcept {
  reset();
  // A pass-through of ours on top of this window (a binding above it was
  // taken off and put it back): nothing above it holds its address, so it
  // can simply handle messages again, with the procedure it replaced.
  const int top = EntryOf(CurrentProcedure(window));
  if (top >= 0 && slots[top].state == EntryState::kPassThrough && slots[top].window == window) {
    slots[top].handler = handler;
    slots[top].state = EntryState::kActive;
    entry_ = top;
    return true;
  }
  int free = -1;
  for (int i = 0; i < kEntries && free < 0; ++i) {
    if (slots[i].state == EntryState::kFree) free = i;
  }
  if (free < 0) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return false;
  }
  EntrySlot& slot = slots[free];
  // The slot is complete before the entry can be called: SetWindowLongPtrA
  // itself sends no message, but the window may get one at any later call.
  slot = EntrySlot{EntryState::kActive, window, CurrentProcedure(window), handler};
  SetLastError(0);
  const LONG_PTR replaced =
      SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(kEntryProcedures[free]));
  // A window procedure is never null, so 0 means failure; the last error
  // says why.
  if (replaced == 0) {
    const DWORD error = GetLastError();
    slot = EntrySlot{};
    SetLastError(error != 0 ? error : ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  slot.previous = reinterpret_cast<WNDPROC>(replaced);
  entry_ = free;
  return true;
}

void WindowSubclass::reset() noexcept {
  if (!installed()) return;
  const DWORD lastError = GetLastError();
  const int index = std::exchange(entry_, -1);
  EntrySlot& slot = slots[index];
  const WNDPROC procedure = kEntryProcedures[index];
  if (!IsWindow(slot.window)) {
    // A destroyed window runs nothing any more.
    slot = EntrySlot{};
  } else if (CurrentProcedure(slot.window) == procedure) {
    SetWindowLongPtrA(slot.window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(slot.previous));
    slot = EntrySlot{};
  } else {
    // Someone subclassed on top of us and holds our address to put back or
    // to pass messages to. Stop handling, keep forwarding, and keep the
    // code mapped for as long as the process lives, whatever the host
    // frees.
    slot.handler = nullptr;
    slot.state = EntryState::kPassThrough;
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCSTR>(reinterpret_cast<const void*>(procedure)), &module);
  }
  SetLastError(lastError);
}

}  // namespace zanvor
