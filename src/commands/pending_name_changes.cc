#include "commands/pending_name_changes.h"

#include <algorithm>

#include "registry/ring_layout.h"

namespace zanvor {

std::vector<PendingNameChanges::Pending>::iterator PendingNameChanges::Find(
    const std::string& name) {
  return std::find_if(changes_.begin(), changes_.end(),
                      [&](const Pending& pending) { return pending.name == name; });
}

bool PendingNameChanges::Prepare(const std::string& name, InstanceCode code, bool held, bool fresh,
                                 uint32_t now) {
  auto pending = Find(name);
  if (held != (code == kRegisterSubscriber)) {
    if (pending != changes_.end() && pending->code == code) changes_.erase(pending);
    return false;
  }
  if (pending == changes_.end()) {
    if (changes_.size() >= kMaxAwaitingAck) {
      changes_.erase(changes_.begin());
      ++*givenUp_;
    }
    pending = changes_.insert(changes_.end(), Pending{name, code, {}});
    fresh = true;
  } else if (pending->code != code) {
    pending->code = code;
    pending->positions.clear();
  }
  if (fresh) {
    pending->retriesLeft = kRegisterRetries;
    pending->delayMs = kFirstRegisterRetryMs;
    pending->dueMs = now + kFirstRegisterRetryMs;
  }
  return true;
}

void PendingNameChanges::Sent(const std::string& name, uint16_t position) {
  const auto pending = Find(name);
  if (pending == changes_.end()) return;
  if (pending->positions.size() == kPositionsKept) {
    pending->positions.erase(pending->positions.begin());
  }
  pending->positions.push_back(position);
}

// A change only ever waits on its own schedule: a program that keeps
// changing names against a server that never answers keeps a bounded list.
std::vector<PendingNameChanges::Change> PendingNameChanges::TakeDue(uint32_t now) {
  std::vector<Change> due;
  for (auto it = changes_.begin(); it != changes_.end();) {
    if (static_cast<int32_t>(it->dueMs - now) > 0) {
      ++it;
      continue;
    }
    if (it->retriesLeft <= 0) {
      ++*givenUp_;
      it = changes_.erase(it);
      continue;
    }
    --it->retriesLeft;
    it->delayMs *= 2;
    it->dueMs = now + it->delayMs;
    due.push_back({it->name, it->code});
    ++it;
  }
  return due;
}

uint32_t PendingNameChanges::WaitFrom(uint32_t now) const {
  int32_t wait = static_cast<int32_t>(changes_.front().dueMs - now);
  for (const Pending& pending : changes_) {
    wait = std::min(wait, static_cast<int32_t>(pending.dueMs - now));
  }
  return wait > 0 ? static_cast<uint32_t>(wait) : 1;
}

PendingNameChanges::AckVerdict PendingNameChanges::Acknowledge(uint16_t position, uint32_t done,
                                                               uint32_t check, bool held) {
  // An older server does not say what it did, and then any acknowledgement
  // of the copy counts.
  const bool told = done == kRegisterSubscriber || done == kUnregisterSubscriber;
  for (auto it = changes_.begin(); it != changes_.end(); ++it) {
    if (TextCheck(it->name) != check) continue;
    // Of an earlier copy, or from an earlier server: the current server's
    // own answer is still to come, and it comes after whatever this one did,
    // or the change is sent again.
    if (std::find(it->positions.begin(), it->positions.end(), position) == it->positions.end() ||
        (told && done != it->code)) {
      return AckVerdict::kNone;
    }
    changes_.erase(it);
    return AckVerdict::kConfirmed;
  }
  if (done == kUnregisterSubscriber) {
    // The server withdrew a name this instance holds and has no change on
    // its way for: it read the name from a record of another instance's
    // that had overwritten one of ours. Registered again like a new change.
    // A withdrawal of ours answered after the name was subscribed again
    // finds that registration waiting above; only the answer of an earlier
    // server can cost one needless registration here.
    return held ? AckVerdict::kRegisterAgain : AckVerdict::kNone;
  }
  // A late copy for a name already confirmed.
  if (held) return AckVerdict::kNone;
  // The server read a name this instance never sent, from a record that was
  // overwritten before it got there, and may hold this window under it (or,
  // from an older server, it is the late answer to a withdrawal, and undoing
  // it changes nothing).
  return AckVerdict::kUndo;
}

std::vector<std::string> PendingNameChanges::StartOver() {
  std::vector<std::string> withdrawals;
  for (const Pending& pending : changes_) {
    if (pending.code == kUnregisterSubscriber) withdrawals.push_back(pending.name);
  }
  changes_.clear();
  return withdrawals;
}

std::vector<std::string> PendingNameChanges::Names() const {
  std::vector<std::string> names;
  for (const Pending& pending : changes_) names.push_back(pending.name);
  return names;
}

}  // namespace zanvor
