#include "library_process_win.h"

#include "commands/host_commands.h"
#include "commands/library_functions_win.h"

namespace zanvor {
namespace {

// Touched only on the host's main thread, like everything the process
// object holds.
LibraryProcess* current = nullptr;

}  // namespace

LibraryProcess::LibraryProcess()
    : mailslotServer(state, receiveSink, receiving, &ReceiveTimerProc),
      udpReceiver(receiveSink, receiving, &UdpResumeTimerProc),
      env(state, receiving, mailslotServer, udpReceiver, &RetryTimerProc, &SettleTimerProc),
      protocol(env, CompareNames, IsLeadByte),
      previous_(current) {
  receiveSink.Bind(protocol);
  current = this;
}

LibraryProcess::~LibraryProcess() {
  if (current == this) current = previous_;
}

void LibraryProcess::Init() { JoinMachine(state, udpReceiver, protocol, &InstanceWindowProc); }

// Every socket and Winsock session goes here, in a call of the host's: the
// process object's destructor runs under the loader lock, where WSACleanup
// must not be called (it makes no Winsock call when Exit was not run).
void LibraryProcess::Exit() {
  LeaveMachine(state, mailslotServer, udpReceiver, protocol);
  udpReceiver.Close();
  udpSender.Close();
}

void LibraryProcess::Post(HostCall& call) { PostToNetwork(call, packetIds, udpSender); }

void LibraryProcess::PostLocal(HostCall& call) { PostLocalCommand(call, protocol); }

void LibraryProcess::Subscribe(HostCall& call) { SubscribeCommand(call, protocol, IsLeadByte); }

void LibraryProcess::Unsubscribe(HostCall& call) { UnsubscribeCommand(call, protocol); }

void LibraryProcess::ListSubscriptions(HostCall& call) { ListSubscriptionsCommand(call, protocol); }

LRESULT InstanceWindowProc(WNDPROC previous, HWND window, UINT message, WPARAM wParam,
                           LPARAM lParam) {
  if (current == nullptr) return CallWindowProcA(previous, window, message, wParam, lParam);
  return HandleWindowMessage(current->state, current->udpReceiver, current->protocol, previous,
                             window, message, wParam, lParam);
}

void CALLBACK ReceiveTimerProc(HWND, UINT, UINT_PTR, DWORD) {
  if (current != nullptr) current->mailslotServer.Tick();
}

void CALLBACK UdpResumeTimerProc(HWND, UINT, UINT_PTR, DWORD) {
  if (current != nullptr) current->udpReceiver.OnResumeTimer();
}

void CALLBACK RetryTimerProc(HWND, UINT, UINT_PTR, DWORD) {
  if (current == nullptr) return;
  try {
    current->protocol.OnRetryTimer();
  } catch (...) {
    // Nothing may unwind into the message loop that dispatched the timer.
  }
}

void CALLBACK SettleTimerProc(HWND, UINT, UINT_PTR, DWORD) {
  if (current == nullptr) return;
  try {
    current->protocol.OnSettleTimer();
  } catch (...) {
    // Nothing may unwind into the message loop that dispatched the timer.
  }
}

}  // namespace zanvor
