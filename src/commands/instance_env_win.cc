#include "commands/instance_env_win.h"

#include "host/host_services_win.h"
#include "registry/message_buffer_win.h"

namespace zanvor {

int CompareNames(const char* a, const char* b) { return lstrcmpA(a, b); }

bool IsLeadByte(uint8_t byte) { return IsDBCSLeadByte(byte) != FALSE; }

uint32_t WindowValue(HWND window) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window));
}

HWND AsWindow(uint32_t value) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(value)); }

uint16_t WinInstanceEnv::StoreText(const std::string& text) {
  return zanvor::StoreText(machine_.section(), machine_.bufferMutex(), text);
}

std::string WinInstanceEnv::ReadText(uint16_t position) {
  return zanvor::ReadText(machine_.section(), position);
}

std::string WinInstanceEnv::ReadName(uint16_t position) {
  return zanvor::ReadText(machine_.section(), position, true);
}

namespace {

PostResult PostTo(uint32_t window, UINT message, uint32_t wParam, uint32_t lParam) {
  // Unregistered (0) is not a message anybody handles.
  if (message == 0) return PostResult::kFailed;
  if (PostMessageA(AsWindow(window), message, wParam, static_cast<LPARAM>(lParam))) {
    return PostResult::kPosted;
  }
  return GetLastError() == ERROR_INVALID_WINDOW_HANDLE ? PostResult::kWindowGone
                                                       : PostResult::kFailed;
}

}  // namespace

// A live window whose queue is full (10,000 messages by default) refuses
// the post: the message is lost, and counted.
PostResult WinInstanceEnv::Post(uint32_t window, uint32_t wParam, uint32_t lParam) {
  const UINT id = machine_.messages.instance;
  const PostResult result = PostTo(window, id, wParam, lParam);
  if (result == PostResult::kFailed && id != 0) ++postsRefused_;
  return result;
}

PostResult WinInstanceEnv::PostExtension(ExtensionMessage message, uint32_t window, uint32_t wParam,
                                         uint32_t lParam) {
  const UINT id = machine_.messages.Extension(message);
  const PostResult result = PostTo(window, id, wParam, lParam);
  if (result == PostResult::kFailed && id != 0) ++postsRefused_;
  return result;
}

// A thread timer: SetTimer with the id of the armed one replaces it.
void WinInstanceEnv::ArmRetryTimer(uint32_t delayMs) {
  const UINT_PTR id = SetTimer(nullptr, retryTimer_.get(), delayMs, retryTimerProc_);
  if (id != retryTimer_.get()) retryTimer_.reset(id);
}

void WinInstanceEnv::CancelRetryTimer() { retryTimer_.reset(); }

uint32_t WinInstanceEnv::NowMs() { return GetTickCount(); }

void WinInstanceEnv::AddMachineStatus(StatusReport* report) {
  report->process = GetCurrentProcessId();
  report->ringNext = ReadNextPosition(machine_.section());
  report->udpSocket = role_.udp().Describe();
  report->receive = receiving_.counters;
  report->instance.postsRefused = postsRefused_;
}

bool WinInstanceEnv::ArmSettleTimer(uint32_t delayMs) { return role_.ArmSettleTimer(delayMs); }

void WinInstanceEnv::CancelSettleTimer() { role_.CancelSettleTimer(); }

void WinInstanceEnv::Broadcast(uint32_t wParam, uint32_t lParam) {
  PostMessageA(HWND_BROADCAST, machine_.messages.instance, wParam, static_cast<LPARAM>(lParam));
}

bool WinInstanceEnv::ClaimServerRole() { return role_.Claim(); }

void WinInstanceEnv::ExecuteCommand(const std::string& command) { zanvor::ExecuteCommand(command); }

void WinInstanceEnv::ShowErrorBox(const std::string& text) { zanvor::ShowErrorBox(text); }

void ProtocolReceiveSink::DispatchReceived(const std::string& name, const std::string& message) {
  if (protocol_ != nullptr) protocol_->DispatchReceived(name, message);
}

void ProtocolReceiveSink::ShowErrorBox(const std::string& text) { zanvor::ShowErrorBox(text); }

uint32_t ProtocolReceiveSink::LastError() { return GetLastError(); }

}  // namespace zanvor
