#include "stand_in_host/event_binding_win.h"

namespace zanvor {
namespace {

// A window procedure has no context of its own: it finds the binding here.
EventBinding* g_binding = nullptr;

}  // namespace

EventBinding::EventBinding(std::function<void(const std::string&)> report)
    : report_(std::move(report)) {
  g_binding = this;
}

EventBinding::~EventBinding() {
  if (g_binding == this) g_binding = nullptr;
}

WNDPROC EventBinding::Procedure() { return &BindingProc; }

bool EventBinding::Bind(HWND window, UINT message, std::string* error) {
  if (bound()) {
    *error = "An event is bound already.";
    return false;
  }
  SetLastError(0);
  const LONG_PTR previous =
      SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&BindingProc));
  const DWORD lastError = GetLastError();
  if (previous == 0 && lastError != 0) {
    *error = "Cannot bind to the main window: error " + std::to_string(lastError) + ".";
    return false;
  }
  window_ = window;
  message_ = message;
  saved_ = reinterpret_cast<WNDPROC>(previous);
  return true;
}

bool EventBinding::Unbind(std::string* error) {
  if (!bound()) {
    *error = "No event is bound.";
    return false;
  }
  // What FoxPro does: the saved procedure goes back, unchecked.
  SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(saved_));
  window_ = nullptr;
  saved_ = nullptr;
  return true;
}

LRESULT CALLBACK EventBinding::BindingProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
  EventBinding* binding = g_binding;
  // Unbound while a message was on its way (or the binding gone with the
  // host): nothing else to pass it to.
  if (binding == nullptr || binding->saved_ == nullptr) {
    return DefWindowProcA(window, message, wParam, lParam);
  }
  if (message == binding->message_) {
    // A frame of Windows' lies above this one: nothing may be thrown out.
    try {
      binding->report_("EVENT " + std::to_string(message) + " " + std::to_string(wParam) + " " +
                       std::to_string(lParam));
    } catch (...) {
    }
  }
  return CallWindowProcA(binding->saved_, window, message, wParam, lParam);
}

}  // namespace zanvor
