#include "commands/instance_env_win.h"

#include <windows.h>

#include "host/host_services_win.h"
#include "messaging/mailslot_server_win.h"
#include "registry/message_buffer_win.h"
#include "registry/process_state_win.h"

namespace zanvor {
namespace {

// lstrcmpA compares in the user's locale, case-sensitively: the comparison
// every instance of the machine uses for subscription names.
int CompareNames(const char* a, const char* b) { return lstrcmpA(a, b); }

}  // namespace

bool IsLeadByte(uint8_t byte) { return IsDBCSLeadByte(byte) != FALSE; }

uint32_t WindowValue(HWND window) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window));
}

HWND AsWindow(uint32_t value) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(value)); }

uint16_t WinInstanceEnv::StoreText(const std::string& text) {
  return zanvor::StoreText(State().bufferSection.get(), State().bufferMutex.get(), text);
}

std::string WinInstanceEnv::ReadText(uint16_t position) {
  return zanvor::ReadText(State().bufferSection.get(), position);
}

PostResult WinInstanceEnv::Post(uint32_t window, uint32_t wParam, uint32_t lParam) {
  if (PostMessageA(AsWindow(window), State().messageId, wParam, static_cast<LPARAM>(lParam))) {
    return PostResult::kPosted;
  }
  return GetLastError() == ERROR_INVALID_WINDOW_HANDLE ? PostResult::kWindowGone
                                                       : PostResult::kFailed;
}

void WinInstanceEnv::Broadcast(uint32_t wParam, uint32_t lParam) {
  PostMessageA(HWND_BROADCAST, State().messageId, wParam, static_cast<LPARAM>(lParam));
}

bool WinInstanceEnv::ClaimServerRole() { return ClaimServerMutexAndMailslot(); }

void WinInstanceEnv::ExecuteCommand(const std::string& command) {
  zanvor::ExecuteCommand(command);
}

void WinInstanceEnv::ShowErrorBox(const std::string& text) { zanvor::ShowErrorBox(text); }

InstanceProtocol& Protocol() {
  static WinInstanceEnv env;
  static InstanceProtocol protocol(env, CompareNames, IsLeadByte);
  return protocol;
}

ProcessState& State() {
  static ProcessState state;
  return state;
}

bool IsServerInstance() {
  const InstanceProtocol& p = Protocol();
  return p.serverWindow != 0 && p.serverWindow == p.mainWindow;
}

bool RemoteServerKnown() {
  const InstanceProtocol& p = Protocol();
  return p.serverWindow != 0 && p.serverWindow != p.mainWindow;
}

}  // namespace zanvor
