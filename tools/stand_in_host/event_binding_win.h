// An event binding on the host's main window, made the way a FoxPro program
// makes one with BINDEVENT(_screen.hWnd, nMessage, ...) and takes it off with
// UNBINDEVENTS: the binding subclasses the window on top of whatever did so
// before (the library, loaded earlier), reports its message and passes every
// message on to the procedure it replaced; unbinding puts back exactly the
// procedure it saved, whatever became of the chain in between. That blind
// restore is FoxPro's, and what a library's own unload has to live with.
#ifndef ZANVOR_TOOLS_STAND_IN_HOST_EVENT_BINDING_WIN_H_
#define ZANVOR_TOOLS_STAND_IN_HOST_EVENT_BINDING_WIN_H_

#include <windows.h>

#include <functional>
#include <string>

namespace zanvor {

// The one binding of the host process (FoxPro keeps one subclass per window
// however many messages a program binds).
class EventBinding {
 public:
  // REQUIRES: report outlives the binding; called on the window's thread.
  explicit EventBinding(std::function<void(const std::string&)> report);
  // Leaves the window as it is: a host that ends with a binding in place
  // ends with its window.
  ~EventBinding();
  EventBinding(const EventBinding&) = delete;
  EventBinding& operator=(const EventBinding&) = delete;

  // Subclasses `window`; from now on each `message` that reaches the
  // binding is reported as "EVENT message wParam lParam". False with the
  // reason in *error when a binding is in place already or the window
  // refuses.
  bool Bind(HWND window, UINT message, std::string* error);
  // Puts back the procedure Bind saved. False when nothing is bound.
  bool Unbind(std::string* error);

  bool bound() const { return window_ != nullptr; }
  // The binding's own procedure, to tell it from a library's.
  static WNDPROC Procedure();

 private:
  static LRESULT CALLBACK BindingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  std::function<void(const std::string&)> report_;
  HWND window_ = nullptr;
  UINT message_ = 0;
  WNDPROC saved_ = nullptr;
};

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_STAND_IN_HOST_EVENT_BINDING_WIN_H_
