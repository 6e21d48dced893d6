#include "library_process_win.h"

#include "commands/host_commands.h"
#include "commands/library_functions_win.h"

namespace zanvor {
namespace {

// Touched only on the host's main thread, like everything the process
// object holds.
LibraryProcess* current = nullptr;

}  // namespace

// What ZANVOR_INIT takes of the machine, and the first post of ZANVOR its
// socket: one member a step, each undoing its step when destroyed, declared
// in the order the steps are taken. ZANVOR_EXIT destroys the membership, so
// the steps are undone in reverse, and the order of the closes cannot drift
// from the order of the opens.
class LibraryProcess::Membership {
 public:
  explicit Membership(LibraryProcess& process) : process_(&process) {}
  Membership(const Membership&) = delete;
  Membership& operator=(const Membership&) = delete;

  // Undoes nothing when destroyed: see ~LibraryProcess.
  void Forget() { process_ = nullptr; }

 private:
  class Step {
   public:
    Step(const Membership* membership, void (*undo)(LibraryProcess&))
        : membership_(membership), undo_(undo) {}
    // Only the protocol's Leave can throw (std::bad_alloc). A destructor
    // must not, and the steps below this one must still be undone.
    ~Step() {
      if (membership_->process_ == nullptr) return;
      try {
        undo_(*membership_->process_);
      } catch (...) {
      }
    }
    Step(const Step&) = delete;
    Step& operator=(const Step&) = delete;

   private:
    const Membership* membership_;
    void (*undo_)(LibraryProcess&);
  };

  LibraryProcess* process_;  // destroyed after every step
  // Every socket and Winsock session goes here, in a call of the host's: the
  // process object's destructor runs under the loader lock, where
  // WSACleanup must not be called.
  Step sender_{this, [](LibraryProcess& p) { p.udpSender.Close(); }};
  Step machine_{this, [](LibraryProcess& p) { p.machine.Close(); }};
  // From here on no message reaches this instance. When a program
  // subclassed the window after us, our procedure stays in its chain as a
  // pass-through.
  Step subclass_{this, [](LibraryProcess& p) { p.subclass.reset(); }};
  // The server broadcasts ServerLeaving, a client withdraws its names; the
  // retries of those withdrawals go with the instance.
  Step joined_{this, [](LibraryProcess& p) {
                 p.protocol.Leave();
                 p.env.CancelRetryTimer();
               }};
  // Claimed by the protocol once it has joined, and given up before it
  // leaves: the mutex must be free when the others take ServerLeaving.
  Step role_{this, [](LibraryProcess& p) { p.role.Release(); }};
};

LibraryProcess::LibraryProcess()
    : role(machine, receiveSink, receiving,
           {&ReceiveTimerProc, &UdpResumeTimerProc, &SettleTimerProc}),
      env(machine, role, receiving, &RetryTimerProc),
      protocol(env, CompareNames, IsLeadByte),
      membership_(std::make_unique<Membership>(*this)),
      previous_(current) {
  receiveSink.Bind(protocol);
  current = this;
}

LibraryProcess::~LibraryProcess() {
  membership_->Forget();
  if (current == this) current = previous_;
}

void LibraryProcess::Init() {
  joinResult = JoinMachine(machine, subclass, role.udp(), protocol, &InstanceWindowProc);
}

// A later Exit (or a later load's) finds a fresh membership, and undoes
// again whatever was taken since.
void LibraryProcess::Exit() { membership_ = std::make_unique<Membership>(*this); }

void LibraryProcess::Post(HostCall& call) { PostToNetwork(call, packetIds, udpSender); }

void LibraryProcess::PostLocal(HostCall& call) { PostLocalCommand(call, protocol); }

void LibraryProcess::Subscribe(HostCall& call) { SubscribeCommand(call, protocol, IsLeadByte); }

void LibraryProcess::Unsubscribe(HostCall& call) { UnsubscribeCommand(call, protocol); }

void LibraryProcess::ListSubscriptions(HostCall& call) { ListSubscriptionsCommand(call, protocol); }

LRESULT InstanceWindowProc(WNDPROC previous, HWND window, UINT message, WPARAM wParam,
                           LPARAM lParam) {
  if (current == nullptr) return CallWindowProcA(previous, window, message, wParam, lParam);
  try {
    return HandleWindowMessage(current->machine, current->role.udp(), current->protocol, previous,
                               window, message, wParam, lParam);
  } catch (...) {
    // The host's message loop called us, so nothing may unwind past this
    // frame. Only the protocol's handling of a message of ours throws, and
    // such a message is handled.
    return 1;
  }
}

namespace {

// Nothing may unwind into the message loop that dispatched the timer.
template <typename Work>
void AtTimerEdge(Work work) noexcept {
  if (current == nullptr) return;
  try {
    work(*current);
  } catch (...) {
  }
}

}  // namespace

void CALLBACK ReceiveTimerProc(HWND, UINT, UINT_PTR, DWORD) {
  AtTimerEdge([](LibraryProcess& p) { p.role.Tick(); });
}

void CALLBACK UdpResumeTimerProc(HWND, UINT, UINT_PTR, DWORD) {
  AtTimerEdge([](LibraryProcess& p) { p.role.udp().OnResumeTimer(); });
}

void CALLBACK RetryTimerProc(HWND, UINT, UINT_PTR, DWORD) {
  AtTimerEdge([](LibraryProcess& p) { p.protocol.OnRetryTimer(); });
}

void CALLBACK SettleTimerProc(HWND, UINT, UINT_PTR, DWORD) {
  AtTimerEdge([](LibraryProcess& p) { p.protocol.OnSettleTimer(); });
}

}  // namespace zanvor
