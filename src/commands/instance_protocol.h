// The instance protocol of one instance: electing and finding the machine's
// server instance, registering subscriber windows with it, fanning texts out
// from it and running this instance's handlers. Portable: the Windows side
// supplies an InstanceEnv, feeds every InstanceMessage to OnInstanceMessage
// and calls the command entry points. Everything runs on the host's main
// thread; nothing is locked.
//
// Texts delivered with DeliverText and PostLocalText carry TextCheck(text) in
// lParam. A receiver drops a text whose check does not match what it read
// (the ring wrapped over it); lParam 0, as older instances send, is taken
// unchecked.
//
// Operations may throw std::bad_alloc; the window procedure, the timer and
// the host entry points must not let it escape.
#ifndef ZANVOR_COMMANDS_INSTANCE_PROTOCOL_H_
#define ZANVOR_COMMANDS_INSTANCE_PROTOCOL_H_

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "commands/multibyte_search.h"
#include "commands/pending_name_changes.h"
#include "commands/status_report.h"
#include "contract/extension_messages.h"
#include "contract/instance_message.h"
#include "registry/instance_role.h"
#include "registry/subscription_table.h"

namespace zanvor {

constexpr char kTableFullText[] = "Cannot create another subscription.";

// What a post to one window came to: kWindowGone when the window no longer
// exists (its process ended), kFailed when the post was refused.
enum class PostResult { kPosted, kWindowGone, kFailed };

// What one instance needs from its machine and its host.
class InstanceEnv {
 public:
  virtual ~InstanceEnv() = default;
  // Ring store of text + NUL; its position, or 0 on failure.
  virtual uint16_t StoreText(const std::string& text) = 0;
  // The text at `position`, or "" on any failure.
  virtual std::string ReadText(uint16_t position) = 0;
  // The same for a name a registration or withdrawal stored: "" also when
  // the text does not fill its record exactly (the record was overwritten).
  virtual std::string ReadName(uint16_t position) = 0;
  // Posts InstanceMessage to one window.
  virtual PostResult Post(uint32_t window, uint32_t wParam, uint32_t lParam) = 0;
  // Posts InstanceMessage to every top-level window, this instance's too.
  virtual void Broadcast(uint32_t wParam, uint32_t lParam) = 0;
  // The machine half of the server claim (mutex, mailslot, timer): true when
  // the role is won or already held.
  virtual bool ClaimServerRole() = 0;
  virtual void ExecuteCommand(const std::string& command) = 0;
  virtual void ShowErrorBox(const std::string& text) = 0;
  // Posts one of this library's own messages (extension_messages.h).
  virtual PostResult PostExtension(ExtensionMessage message, uint32_t window, uint32_t wParam,
                                   uint32_t lParam) = 0;
  // The registration retry timer: fires OnRetryTimer once, delayMs from now;
  // arming it again replaces the earlier time.
  virtual void ArmRetryTimer(uint32_t delayMs) = 0;
  virtual void CancelRetryTimer() = 0;
  // Milliseconds since some fixed moment, wrapping at 2^32 (a tick count):
  // the clock of the retry schedule.
  virtual uint32_t NowMs() = 0;
  // Fills in what the machine side knows: the process id, the ring's next
  // position, the UDP socket and the receive counters.
  virtual void AddMachineStatus(StatusReport* report) = 0;
  // The new server's settle timer: fires OnSettleTimer once, delayMs from
  // now; arming it again replaces the earlier time. False when no timer
  // could be set (nothing will fire).
  virtual bool ArmSettleTimer(uint32_t delayMs) = 0;
  virtual void CancelSettleTimer() = 0;
};

// An instance that takes over from a server that died or left holds the
// local posts it has (its own, and those the others send it meanwhile) for
// this long, so that the other instances, told by its announcement or its
// reply, have registered their names with it before those posts go out.
constexpr uint32_t kServerSettleMs = 250;

class InstanceProtocol {
 public:
  // REQUIRES: env outlives the protocol.
  explicit InstanceProtocol(InstanceEnv& env, SubscriptionTables::NameCompare compare = std::strcmp,
                            LeadByteTest isLeadByte = nullptr);
  InstanceProtocol(const InstanceProtocol&) = delete;
  InstanceProtocol& operator=(const InstanceProtocol&) = delete;

  uint32_t mainWindow = 0;    // this instance's identity
  uint32_t serverWindow = 0;  // the server instance's main window, 0 while unknown
  SubscriptionTables tables;

  bool IsServer() const { return IsServerInstance(mainWindow, serverWindow); }
  bool RemoteServerKnown() const { return zanvor::RemoteServerKnown(mainWindow, serverWindow); }
  // Between Join and Leave. An instance that has not joined (no main window,
  // or ZANVOR_INIT stopped halfway) is reached by nobody: it never claims the
  // server role, never announces itself, never holds a post and takes no
  // InstanceMessage; SUBSCRIBE and ZANVOR_LOCAL refuse to run in it.
  bool Joined() const { return joined_; }

  // Claims the server role; serverWindow becomes mainWindow or 0. Always
  // lost in an instance that has not joined.
  bool TryClaimServerRole();
  // The end of ZANVOR_INIT, once the window is subclassed: claims, then
  // broadcasts ServerAnnounce (won) or ServerQuery (lost). REQUIRES:
  // mainWindow set (without it the instance stays unjoined).
  void Join();
  // Step 6 of ZANVOR_EXIT: the server clears serverWindow and broadcasts
  // ServerLeaving; a client withdraws its names. From here on a failed post
  // to the server is dropped, never answered with a claim.
  void Leave();

  // One InstanceMessage. Codes that mean nothing here do nothing.
  void OnInstanceMessage(uint32_t wParam, uint32_t lParam);
  // One of this library's own messages.
  void OnExtensionMessage(ExtensionMessage message, uint32_t wParam, uint32_t lParam);
  // The registration retry timer fired.
  void OnRetryTimer();
  // The settle timer fired: the posts held since the role was taken go out.
  void OnSettleTimer();

  // Texts handed to this instance that it could not read any more.
  InstanceCounters counters;
  // The names whose registration or withdrawal was sent to the server and
  // has not been acknowledged, in the order they were sent.
  std::vector<std::string> AwaitingAck() const;

  // SUBSCRIBE and ZANVOR_LOCAL need a server: while none is known each of
  // them claims the role (a zero-time wait) and, when that is lost, asks
  // for the server once, unless this instance's last question has not come
  // back yet. So an instance whose question went unanswered (the owner of
  // the role had lost its window) finds the role again on its next call,
  // once that owner has ended, and never asks in a loop.
  //
  // SUBSCRIBE, UNSUBSCRIBE and LIST_SUBSCR after their checks.
  void Subscribe(const std::string& name, const std::string& handler);
  void Unsubscribe(const std::string& name);
  std::string ListSubscriptions() const;
  // ZANVOR_LOCAL after its checks: stores the name:message text and hands it
  // to the server instance; while none is known the post is held, and sent
  // once one is. False when the text could not be stored (the
  // buffer mutex stayed held, or no view could be mapped), or the instance
  // has not joined; nothing is posted or held then. The command checks
  // Joined() first and tells the program either way.
  bool PostLocal(const std::string& text);
  // A network text from the receive timer: stored once and posted to every
  // subscriber window of the name.
  void DispatchReceived(const std::string& name, const std::string& message);
  // Runs this instance's handler for `name` with `message`, if it has one.
  void RunHandler(const std::string& name, const std::string& message);

 private:
  struct HeldPost {
    uint32_t wParam;
    uint32_t lParam;
  };

  // env_.Post, and a post to a server found gone replaces it.
  PostResult Post(uint32_t window, uint32_t wParam, uint32_t lParam);
  // A change of the tables, and what its outcome calls for: TableFull to the
  // asking window, or the change passed on to a remote server.
  void AddToTables(const SubscriptionRequest& request);
  void RemoveFromTables(uint32_t window, const std::string& name);
  void OnNameChange(uint32_t wParam, uint32_t window);
  // Stores `name` and posts it to the server with `window` under `code`;
  // this instance's own changes await their acknowledgement.
  void ForwardName(InstanceCode code, const std::string& name, uint32_t window);
  // Sends every name of the tables with this instance's window.
  void ForwardAll(InstanceCode code);
  void SendPending(const std::string& name, InstanceCode code, bool fresh = false);
  void ArmForEarliest();
  void Acknowledge(uint32_t wParam, uint32_t window, const std::string& name);
  void OnRegisterAck(uint32_t wParam, uint32_t check);
  void OnRegisterUndo(uint32_t check, uint32_t window);
  std::vector<std::string> NamesWithCheck(uint32_t check) const;
  void AnswerStatus(uint32_t window);
  void StopAwaitingAll();

  void ReplaceGoneServer(uint32_t wParam, uint32_t lParam);
  void SeekServer();
  void AskForServer();
  void LearnServer(uint32_t window);
  void StartSettle();
  void ReleaseHeldPosts();
  void FanOutHeldPosts();
  bool ReadCheckedText(uint32_t wParam, uint32_t check, std::string* text);
  void FanOut(int slot, uint16_t position, uint32_t check);
  void OnDeliverText(uint32_t wParam, uint32_t lParam);
  void OnPostLocalText(uint32_t wParam, uint32_t lParam);

  InstanceEnv& env_;
  LeadByteTest isLeadByte_;
  bool leaving_ = false;
  // A ServerQuery of ours is on its way: set when it is broadcast, cleared
  // when its own copy reaches this window or a server becomes known.
  bool queryInFlight_ = false;
  bool joined_ = false;
  // Text posts made while no server was known, or to a server that had
  // gone, kept until a server is known and this instance's names are
  // registered there; in a server that is settling, also the posts the
  // others sent it meanwhile, in the order they arrived.
  std::vector<HeldPost> heldPosts_;
  // This instance has just taken the server role over and its settle timer
  // runs: local posts wait until the others have registered.
  bool settling_ = false;
  // Changes of this instance's names sent to a remote server that the
  // server has not acknowledged yet.
  PendingNameChanges pending_{&counters.nameChangesGivenUp};
};

}  // namespace zanvor

#endif  // ZANVOR_COMMANDS_INSTANCE_PROTOCOL_H_
