#include "commands/instance_env_win.h"

#include "host/host_services_win.h"
#include "registry/message_buffer_win.h"

namespace zanvor {

int CompareNames(const char* a, const char* b) { return lstrcmpA(a, b); }

bool IsLeadByte(uint8_t byte) { return IsDBCSLeadByte(byte) != FALSE; }

UINT ExtensionMessageId(const ProcessState& state, ExtensionMessage message) {
  switch (message) {
    case ExtensionMessage::kRegisterAck:
      return state.ackMessageId;
    case ExtensionMessage::kRegisterUndo:
      return state.undoMessageId;
    case ExtensionMessage::kStatus:
      return state.statusMessageId;
  }
  return 0;
}

uint32_t WindowValue(HWND window) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window));
}

HWND AsWindow(uint32_t value) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(value)); }

uint16_t WinInstanceEnv::StoreText(const std::string& text) {
  return zanvor::StoreText(state_.bufferSection.get(), state_.bufferMutex.get(), text);
}

std::string WinInstanceEnv::ReadText(uint16_t position) {
  return zanvor::ReadText(state_.bufferSection.get(), position);
}

std::string WinInstanceEnv::ReadName(uint16_t position) {
  return zanvor::ReadText(state_.bufferSection.get(), position, true);
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
  const PostResult result = PostTo(window, state_.messageId, wParam, lParam);
  if (result == PostResult::kFailed && state_.messageId != 0) ++postsRefused_;
  return result;
}

PostResult WinInstanceEnv::PostExtension(ExtensionMessage message, uint32_t window, uint32_t wParam,
                                         uint32_t lParam) {
  const UINT id = ExtensionMessageId(state_, message);
  const PostResult result = PostTo(window, id, wParam, lParam);
  if (result == PostResult::kFailed && id != 0) ++postsRefused_;
  return result;
}

// A thread timer: SetTimer with the id of the armed one replaces it.
void WinInstanceEnv::ArmRetryTimer(uint32_t delayMs) {
  const UINT_PTR id = SetTimer(nullptr, state_.retryTimer.get(), delayMs, retryTimerProc_);
  if (id != state_.retryTimer.get()) state_.retryTimer.reset(id);
}

void WinInstanceEnv::CancelRetryTimer() { state_.retryTimer.reset(); }

uint32_t WinInstanceEnv::NowMs() { return GetTickCount(); }

void WinInstanceEnv::AddMachineStatus(StatusReport* report) {
  report->process = GetCurrentProcessId();
  report->ringNext = ReadNextPosition(state_.bufferSection.get());
  report->udpSocket = udp_.Describe();
  report->receive = receiving_.counters;
  report->instance.postsRefused = postsRefused_;
}

// A thread timer of its own: the retry timer runs in a client, this one in
// a new server, and either may be armed while the other is.
bool WinInstanceEnv::ArmSettleTimer(uint32_t delayMs) {
  const UINT_PTR id = SetTimer(nullptr, state_.settleTimer.get(), delayMs, settleTimerProc_);
  if (id == 0) return false;
  if (id != state_.settleTimer.get()) state_.settleTimer.reset(id);
  return true;
}

void WinInstanceEnv::CancelSettleTimer() { state_.settleTimer.reset(); }

void WinInstanceEnv::Broadcast(uint32_t wParam, uint32_t lParam) {
  PostMessageA(HWND_BROADCAST, state_.messageId, wParam, static_cast<LPARAM>(lParam));
}

// Every won claim (load, ServerLeaving, a dead server) opens the UDP socket
// beside the mailslot; a claim that finds the role already held keeps it.
bool WinInstanceEnv::ClaimServerRole() {
  if (!server_.Claim()) return false;
  udp_.Open();
  return true;
}

void WinInstanceEnv::ExecuteCommand(const std::string& command) { zanvor::ExecuteCommand(command); }

void WinInstanceEnv::ShowErrorBox(const std::string& text) { zanvor::ShowErrorBox(text); }

void ProtocolReceiveSink::DispatchReceived(const std::string& name, const std::string& message) {
  if (protocol_ != nullptr) protocol_->DispatchReceived(name, message);
}

void ProtocolReceiveSink::ShowErrorBox(const std::string& text) { zanvor::ShowErrorBox(text); }

uint32_t ProtocolReceiveSink::LastError() { return GetLastError(); }

}  // namespace zanvor
