#include "fll_host/main_window_win.h"

#include "fll_host/console_events_win.h"

namespace zanvor {
namespace {

constexpr char kWindowClass[] = "ZanvorHostWindow";
constexpr char kWindowTitle[] = "Zanvor";

LONG g_probesSeen = 0;

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kHostProbeMessage) return ++g_probesSeen;
  // A frame of Windows' lies above this one: nothing may be thrown out.
  try {
    return DefWindowProcA(window, message, wParam, lParam);
  } catch (...) {
    return 0;
  }
}

}  // namespace

WNDPROC MainWindow::HostProcedure() { return &HostWindowProc; }

std::unique_ptr<MainWindow> MainWindow::Create(std::string* error) {
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = &HostWindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kWindowClass;
  const ATOM atom = RegisterClassA(&windowClass);
  if (atom == 0) {
    *error = "RegisterClassA failed: error " + std::to_string(GetLastError());
    return nullptr;
  }
  // Created hidden and never shown; an ANSI window, because the library
  // subclasses it with SetWindowLongA.
  UniqueWindow window(CreateWindowExA(0, kWindowClass, kWindowTitle, WS_OVERLAPPEDWINDOW,
                                      CW_USEDEFAULT, CW_USEDEFAULT, 400, 300, nullptr, nullptr,
                                      instance, nullptr));
  if (!window) {
    *error = "CreateWindowExA failed: error " + std::to_string(GetLastError());
    UnregisterClassA(kWindowClass, instance);
    return nullptr;
  }
  return std::unique_ptr<MainWindow>(new MainWindow(atom, std::move(window)));
}

MainWindow::MainWindow(ATOM windowClass, UniqueWindow window)
    : windowClass_(windowClass), window_(std::move(window)) {}

MainWindow::~MainWindow() {
  window_.reset();
  UnregisterClassA(reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(windowClass_)),
                   GetModuleHandleA(nullptr));
}

bool PumpMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) return false;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return true;
}

bool PumpMessagesFor(DWORD milliseconds) {
  const ULONGLONG deadline = GetTickCount64() + milliseconds;
  for (;;) {
    if (!PumpMessages()) return false;
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return true;
    // MWMO_INPUTAVAILABLE: wake for messages that arrived before the wait
    // too, not only for new ones.
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
  }
}

bool PumpUntilSignalled(HANDLE event) {
  for (;;) {
    if (!PumpMessages()) return false;
    const DWORD r =
        MsgWaitForMultipleObjectsEx(1, &event, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (r == WAIT_OBJECT_0) return true;
    if (r == WAIT_FAILED) return true;  // let the caller look at its queue
  }
}

bool PumpUntil(const std::function<bool()>& done, DWORD milliseconds) {
  const ULONGLONG deadline = GetTickCount64() + milliseconds;
  for (;;) {
    PumpMessages();
    if (done()) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline || Interrupted()) return false;
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
  }
}

}  // namespace zanvor
