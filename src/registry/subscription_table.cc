#include "registry/subscription_table.h"

#include "registry/instance_role.h"

namespace zanvor {
namespace {

bool RemoteServerKnown(const SubscriptionLink& link) {
  return zanvor::RemoteServerKnown(link.MainWindow(), link.ServerWindow());
}

void CopyField(char* field, const std::string& text) {
  std::memcpy(field, text.data(), text.size());
  field[text.size()] = '\0';
}

}  // namespace

void SubscriptionLink::ForwardName(InstanceCode code, const std::string& name, uint32_t window) {
  const uint16_t position = StoreText(name);
  if (position != 0) Post(ServerWindow(), MakeWParam(code, position), window);
}

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

void SubscriptionTables::AddSubscription(const SubscriptionRequest& request,
                                         SubscriptionLink& link) {
  // A name from another instance is read from the ring, where any writer may
  // have put anything: a name that does not fit is refused rather than cut,
  // since a cut name would subscribe a different name.
  if (request.name.empty() || request.name.size() > kMaxNameLength) return;
  const bool fromOtherInstance = request.window != 0;
  if (!fromOtherInstance && request.handler.size() > kMaxHandlerLength) return;
  const uint32_t window = fromOtherInstance ? request.window : link.MainWindow();

  const int existing = FindSubscription(request.name);
  const std::string previousHandler = existing >= 0 ? records[existing].handler : "";
  // A request from another instance never touches a handler; this instance's
  // own SUBSCRIBE sets or replaces it.
  const int slot = StoreSubscription(request.name, request.handler, fromOtherInstance);
  if (slot < 0) {
    link.Post(window, MakeWParam(kTableFull), 0);
    return;
  }
  if (AddSubscriber(slot, window) < 0) {
    // A full SubscriberList is reported like a full SubscriptionTable, and the
    // tables go back to what they were: a record without an entry could
    // never be removed again.
    if (existing < 0) {
      records[slot].inUse = 0;
    } else if (!fromOtherInstance) {
      CopyField(records[slot].handler, previousHandler);
    }
    link.Post(window, MakeWParam(kTableFull), 0);
    return;
  }
  if (RemoteServerKnown(link)) link.ForwardName(kRegisterSubscriber, request.name, window);
}

void SubscriptionTables::RemoveSubscription(const SubscriptionRequest& request,
                                            SubscriptionLink& link) {
  if (request.name.empty() || request.name.size() > kMaxNameLength) return;
  const int slot = FindSubscription(request.name);
  if (slot >= 0) {
    const int entry = FindSubscriber(slot, request.window);
    if (entry >= 0) entries[entry].slot = kFreeSlot;
    FreeIfUnreferenced(slot);
  }
  if (RemoteServerKnown(link)) {
    link.ForwardName(kUnregisterSubscriber, request.name, request.window);
  }
}

void SubscriptionTables::ReregisterAll(SubscriptionLink& link) {
  ForwardAll(kRegisterSubscriber, link);
}

void SubscriptionTables::WithdrawAll(SubscriptionLink& link) {
  ForwardAll(kUnregisterSubscriber, link);
}

void SubscriptionTables::ForwardAll(InstanceCode code, SubscriptionLink& link) {
  for (int slot = 0; slot < kRecordCount; ++slot) {
    if (records[slot].inUse != 1) continue;
    if (!RemoteServerKnown(link)) return;
    // Every name goes with this instance's window, whatever its entries hold.
    link.ForwardName(code, records[slot].name, link.MainWindow());
  }
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
