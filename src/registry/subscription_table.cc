#include "registry/subscription_table.h"

namespace zanvor {
namespace {

void CopyField(char* field, const std::string& text) {
  std::memcpy(field, text.data(), text.size());
  field[text.size()] = '\0';
}

}  // namespace

void SubscriptionTables::ResetSubscribers() {
  for (SubscriberEntry& entry : entries) entry.slot = kFreeSlot;
}

int SubscriptionTables::FindSubscription(const std::string& name) const {
  for (int slot = 0; slot < kRecordCount; ++slot) {
    if (records[slot].inUse == 1 && compare_(records[slot].name, name.c_str()) == 0) return slot;
  }
  return -1;
}

int SubscriptionTables::StoreSubscription(const std::string& name, const std::string& handler,
                                          bool keepHandler) {
  if (name.size() > kMaxNameLength) return -1;
  if (!keepHandler && handler.size() > kMaxHandlerLength) return -1;
  int slot = FindSubscription(name);
  if (slot >= 0) {
    if (!keepHandler) CopyField(records[slot].handler, handler);
    return slot;
  }
  for (slot = 0; slot < kRecordCount; ++slot) {
    if (records[slot].inUse == 0) break;
  }
  if (slot == kRecordCount) return -1;
  SubscriptionRecord& record = records[slot];
  CopyField(record.name, name);
  CopyField(record.handler, keepHandler ? std::string() : handler);
  record.inUse = 1;
  return slot;
}

int SubscriptionTables::FindSubscriber(int slot, uint32_t window) const {
  if (slot < 0 || slot >= kRecordCount) return -1;
  for (int e = 0; e < kEntryCount; ++e) {
    if (entries[e].slot == slot && entries[e].window == window) return e;
  }
  return -1;
}

int SubscriptionTables::AddSubscriber(int slot, uint32_t window) {
  if (slot < 0 || slot >= kRecordCount) return -1;
  const int found = FindSubscriber(slot, window);
  if (found >= 0) return found;
  for (int e = 0; e < kEntryCount; ++e) {
    if (entries[e].slot == kFreeSlot) {
      entries[e].slot = static_cast<uint8_t>(slot);
      entries[e].window = window;
      return e;
    }
  }
  return -1;
}

TableOutcome SubscriptionTables::AddSubscription(const SubscriptionRequest& request) {
  // A name from another instance is read from the ring, where any writer may
  // have put anything: a name that does not fit is refused rather than cut,
  // since a cut name would subscribe a different name.
  if (request.name.empty() || request.name.size() > kMaxNameLength) return TableOutcome::kRefused;
  if (request.own && request.handler.size() > kMaxHandlerLength) return TableOutcome::kRefused;

  const int existing = FindSubscription(request.name);
  const std::string previousHandler = existing >= 0 ? records[existing].handler : "";
  const bool pairHeld = FindSubscriber(existing, request.window) >= 0;
  // A request from another instance never touches a handler; this instance's
  // own SUBSCRIBE sets or replaces it.
  const int slot = StoreSubscription(request.name, request.handler, !request.own);
  if (slot < 0) return TableOutcome::kFull;
  if (AddSubscriber(slot, request.window) < 0) {
    // A full SubscriberList is reported like a full SubscriptionTable, and the
    // tables go back to what they were: a record without an entry could
    // never be removed again.
    if (existing < 0) {
      records[slot].inUse = 0;
    } else if (request.own) {
      CopyField(records[slot].handler, previousHandler);
    }
    return TableOutcome::kFull;
  }
  const bool handlerKept = !request.own || previousHandler == request.handler;
  return pairHeld && handlerKept ? TableOutcome::kUnchanged : TableOutcome::kChanged;
}

TableOutcome SubscriptionTables::RemoveSubscription(uint32_t window, const std::string& name) {
  if (name.empty() || name.size() > kMaxNameLength) return TableOutcome::kRefused;
  const int slot = FindSubscription(name);
  if (slot < 0) return TableOutcome::kUnchanged;
  const int entry = FindSubscriber(slot, window);
  if (entry >= 0) entries[entry].slot = kFreeSlot;
  FreeIfUnreferenced(slot);
  const bool changed = entry >= 0 || records[slot].inUse == 0;
  return changed ? TableOutcome::kChanged : TableOutcome::kUnchanged;
}

std::vector<std::string> SubscriptionTables::Names() const {
  std::vector<std::string> names;
  for (const SubscriptionRecord& record : records) {
    if (record.inUse == 1) names.push_back(record.name);
  }
  return names;
}

void SubscriptionTables::ForgetWindow(uint32_t window) {
  for (SubscriberEntry& entry : entries) {
    if (entry.slot == kFreeSlot || entry.window != window) continue;
    const int slot = entry.slot;
    entry.slot = kFreeSlot;
    FreeIfUnreferenced(slot);
  }
}

std::string SubscriptionTables::ListFor(uint32_t window) const {
  std::string list;
  for (int slot = 0; slot < kRecordCount; ++slot) {
    if (records[slot].inUse != 1) continue;
    for (const SubscriberEntry& entry : entries) {
      if (entry.slot != slot || entry.window != window) continue;
      list.append(records[slot].name).append("\t\t").append(records[slot].handler).append("\n");
    }
  }
  return list;
}

std::vector<uint32_t> SubscriptionTables::WindowsOf(int slot) const {
  std::vector<uint32_t> windows;
  if (slot < 0 || slot >= kRecordCount) return windows;
  for (const SubscriberEntry& entry : entries) {
    if (entry.slot == slot) windows.push_back(entry.window);
  }
  return windows;
}

bool SubscriptionTables::IsReferenced(int slot) const {
  for (const SubscriberEntry& entry : entries) {
    if (entry.slot == slot) return true;
  }
  return false;
}

void SubscriptionTables::FreeIfUnreferenced(int slot) {
  if (!IsReferenced(slot)) records[slot].inUse = 0;
}

}  // namespace zanvor
