// Requests the library sends back to the host through the calling thread's
// HostCallback. RaiseErrorText and RaiseErrorNumber do not return while a
// DispatchAPI call is active on the thread: they unwind to it.
#ifndef ZANVOR_HOST_HOST_SERVICES_WIN_H_
#define ZANVOR_HOST_HOST_SERVICES_WIN_H_

#include <cstdint>
#include <string>

#include "contract/host_abi.h"
#include "host/host_call.h"
#include "host/value_handles.h"

namespace zanvor {

// Sends request `number`; returns the record's data (the host's answer), or
// 0 when the thread has no callback yet.
uint32_t SendHostRequest(uint32_t number, uint32_t data, uint32_t extra = 0);

[[noreturn]] void RaiseErrorText(const std::string& text);
[[noreturn]] void RaiseErrorNumber(uint32_t number);
void ExecuteCommand(const std::string& command);
void ReturnString(const std::string& text);
uint32_t GetHostWindowId();
uint32_t GetWindowHandle(uint32_t windowId);
// For code running outside a host call: the host shows a message box.
void ShowErrorBox(const std::string& message);

// The calling thread's value handles (tables from dispatch code 0).
ValueHandles ThreadValueHandles();

// Terminates parameter `index` (from 1) of a ParameterBlock and returns its
// text up to the first NUL; raises host error 182 when it cannot grow.
std::string ReadParameterText(void* parameterBlock, int index);

// The HostCall of one function the host called with `parameterBlock`.
class WinHostCall final : public HostCall {
 public:
  explicit WinHostCall(void* parameterBlock) : parameters_(parameterBlock) {}
  std::string ParameterText(int index) override { return ReadParameterText(parameters_, index); }
  [[noreturn]] void RaiseError(const std::string& text) override { RaiseErrorText(text); }
  void ReturnString(const std::string& text) override { zanvor::ReturnString(text); }

 private:
  void* parameters_;
};

}  // namespace zanvor

#endif  // ZANVOR_HOST_HOST_SERVICES_WIN_H_
