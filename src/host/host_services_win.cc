#include "host/host_services_win.h"

#include <windows.h>

#include <cstring>

#include "base/address.h"
#include "host/global_memory_win.h"
#include "host/thread_context_win.h"

namespace zanvor {
namespace {

GlobalBlockMemory globalMemory;

}  // namespace

uint32_t SendHostRequest(uint32_t number, uint32_t data, uint32_t extra) {
  ThreadContext* context = CurrentThreadContext();
  if (context == nullptr || context->hostCallback == nullptr) return 0;
  RequestRecord record{};
  record.data = data;
  record.extra = extra;
  record.hostRequest = number;
  record.dispatchCode = 0;
  context->hostCallback(&record);
  return record.data;
}

// Requests 83 and 84 end the running function: once the host has recorded
// the error, the exception unwinds our own frames (releasing what they hold)
// to the innermost DispatchAPI call of the thread, which catches it. Only the
// host calls raise, so a DispatchAPI call is always below us.
void RaiseErrorText(const std::string& text) {
  SendHostRequest(kRequestRaiseErrorText, AddressOf(text.c_str()));
  throw HostErrorRaised{};
}

void RaiseErrorNumber(uint32_t number) {
  SendHostRequest(kRequestRaiseErrorNumber, number);
  throw HostErrorRaised{};
}

void ExecuteCommand(const std::string& command) {
  SendHostRequest(kRequestExecuteCommand, AddressOf(command.c_str()));
}

void ReturnString(const std::string& text) {
  ValueHandles handles = ThreadValueHandles();
  const uint32_t length = static_cast<uint32_t>(strlen(text.c_str()));
  const uint32_t handle = handles.AllocValueHandleWith(
      reinterpret_cast<const uint8_t*>(text.c_str()), length + 1, kResultHeaderWord);
  if (handle == 0) return;
  HostValue value{};
  value.valueType = 'H';
  value.zero2 = 0;
  value.textLength = length;
  value.textHandle = handle;
  SendHostRequest(kRequestReturnValue, AddressOf(&value));
}

uint32_t GetHostWindowId() { return SendHostRequest(kRequestGetHostWindowId, 0, 1); }

uint32_t GetWindowHandle(uint32_t windowId) {
  return SendHostRequest(kRequestGetWindowHandle, windowId);
}

void ShowErrorBox(const std::string& message) {
  // The message goes in unchanged: apostrophes are not doubled.
  ExecuteCommand("MessageBox('" + message + "','Zanvor error', 16)");
}

ValueHandles ThreadValueHandles() {
  ThreadContext* context = CurrentThreadContext();
  return ValueHandles(globalMemory, context ? context->handleTable : nullptr,
                      context ? context->slotTable : nullptr);
}

std::string ReadParameterText(void* parameterBlock, int index) {
  ValueHandles handles = ThreadValueHandles();
  const HostValue* parameter = ParameterAt(parameterBlock, index);
  if (!handles.TerminateParameter(*parameter)) RaiseErrorNumber(kParameterGrowError);
  const uint8_t* data = handles.ValueHandleData(parameter->textHandle);
  return data ? std::string(reinterpret_cast<const char*>(data)) : std::string();
}

}  // namespace zanvor
