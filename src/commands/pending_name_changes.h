// The changes of this instance's names (registrations and withdrawals) sent
// to a remote server and not acknowledged yet: when each is sent again, when
// it is given up, and what an acknowledgement calls for. Bookkeeping only:
// the instance protocol stores and posts the names, runs the retry timer and
// passes the time in (milliseconds that wrap at 2^32, a tick count).
//
// Only an acknowledgement of one of the copies sent to the current server
// counts: one from an earlier server, or for an earlier copy, may still be
// queued. So each change keeps the ring positions of its latest copies, and
// a new server starts everything over.
#ifndef ZANVOR_COMMANDS_PENDING_NAME_CHANGES_H_
#define ZANVOR_COMMANDS_PENDING_NAME_CHANGES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "contract/instance_message.h"

namespace zanvor {

// A change the server has not acknowledged is sent again after 100, 200,
// 400, ... ms, six times at most, each change on its own schedule, and given
// up one doubled delay after its last copy: an older server never
// acknowledges. At most kMaxAwaitingAck changes wait; a new one pushes the
// oldest out, which is given up too.
constexpr uint32_t kFirstRegisterRetryMs = 100;
constexpr int kRegisterRetries = 6;
constexpr size_t kMaxAwaitingAck = 50;  // the names one table holds

class PendingNameChanges {
 public:
  // A change whose time has come: `code` (kRegisterSubscriber or
  // kUnregisterSubscriber) for `name`, to be sent again.
  struct Change {
    std::string name;
    InstanceCode code;
  };

  // What an acknowledgement calls for.
  enum class AckVerdict {
    kNone,           // nothing: a stale answer, or nothing to set right
    kConfirmed,      // a change was acknowledged and waits no more
    kRegisterAgain,  // the server withdrew a name this instance holds
    kUndo,           // the server may hold this window under a name it does not hold
  };

  // Counts each change given up in *givenUp. REQUIRES: givenUp outlives this.
  explicit PendingNameChanges(uint32_t* givenUp) : givenUp_(givenUp) {}
  PendingNameChanges(const PendingNameChanges&) = delete;
  PendingNameChanges& operator=(const PendingNameChanges&) = delete;

  // Before `code` is sent for `name`; `held`: this instance's tables hold the
  // name now. False when the tables no longer call for the change (a
  // withdrawal of a name subscribed again, or the other way round): it is
  // not sent, and a waiting change of the same code is dropped. Otherwise the
  // change waits, replacing an earlier change of the name; a new change, or
  // a fresh send (a command, or a new server), starts its schedule at `now`.
  bool Prepare(const std::string& name, InstanceCode code, bool held, bool fresh, uint32_t now);
  // The copy of the waiting change of `name` was stored at `position`.
  void Sent(const std::string& name, uint16_t position);
  // The changes due at `now`, oldest first, each with its next delay doubled;
  // a change due with no copies left is given up instead.
  std::vector<Change> TakeDue(uint32_t now);
  // Milliseconds from `now` until the first change is due; at least 1.
  // REQUIRES: !empty().
  uint32_t WaitFrom(uint32_t now) const;
  // The server's acknowledgement of the copy it read at `position`, for the
  // name whose TextCheck is `check`. `done`: what it did under that name
  // (kRegisterSubscriber or kUnregisterSubscriber; an older server says 0).
  // `held`: this instance holds a name with that check.
  AckVerdict Acknowledge(uint16_t position, uint32_t done, uint32_t check, bool held);
  // A new server: nothing sent before counts any more. Returns the
  // withdrawals that were waiting, oldest first, to be sent there too.
  std::vector<std::string> StartOver();
  // Forgets every change without giving any up.
  void Clear() { changes_.clear(); }

  bool empty() const { return changes_.empty(); }
  // The names of the waiting changes, oldest first.
  std::vector<std::string> Names() const;

 private:
  struct Pending {
    std::string name;
    InstanceCode code;
    std::vector<uint16_t> positions;           // where this round's copies were stored
    uint32_t dueMs = 0;                        // the time of the next copy, or of giving up
    uint32_t delayMs = kFirstRegisterRetryMs;  // the wait that led to dueMs
    int retriesLeft = kRegisterRetries;
  };
  static constexpr size_t kPositionsKept = 8;

  std::vector<Pending>::iterator Find(const std::string& name);

  std::vector<Pending> changes_;  // oldest first
  uint32_t* givenUp_;
};

}  // namespace zanvor

#endif  // ZANVOR_COMMANDS_PENDING_NAME_CHANGES_H_
