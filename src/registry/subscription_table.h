// The subscription tables of one instance: which names are subscribed with
// which handler (SubscriptionTable, 50 records) and which windows want each
// name (SubscriberList, 200 entries). A client instance holds only its own
// subscriptions; the server instance holds those of the whole machine. The
// tables are data: each change says what it came to, and the instance
// protocol decides what to tell whom.
//
// Invariants: an in-use name has exactly one record; a (slot, window) pair
// has at most one entry; a record stays in use while an entry refers to it.
// Free markers are in-band: inUse 0, slot kFreeSlot. Lookups return an index
// or -1 and scan in index order, first match wins.
#ifndef ZANVOR_REGISTRY_SUBSCRIPTION_TABLE_H_
#define ZANVOR_REGISTRY_SUBSCRIPTION_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace zanvor {

constexpr size_t kMaxNameLength = 64;     // subscription names, in bytes
constexpr size_t kMaxHandlerLength = 64;  // handler expressions, in bytes

struct SubscriptionRecord {
  uint8_t inUse;                        // 1 in use, 0 free
  char name[kMaxNameLength + 1];        // NUL-terminated
  char handler[kMaxHandlerLength + 1];  // NUL-terminated; empty for other instances' names
};
static_assert(offsetof(SubscriptionRecord, name) == 1, "record layout");
static_assert(offsetof(SubscriptionRecord, handler) == 66, "record layout");
static_assert(sizeof(SubscriptionRecord) == 131, "record layout");

struct SubscriberEntry {
  uint8_t slot;     // record slot 0..49, or kFreeSlot
  uint32_t window;  // the subscribing instance's main window
};

// One call of AddSubscription: `window` wants `name`. Only this instance's
// own SUBSCRIBE (own) sets or replaces the handler; a registration of
// another instance's window never touches one.
struct SubscriptionRequest {
  uint32_t window = 0;
  std::string name;
  std::string handler;
  bool own = false;
};

// What a change of the tables came to.
enum class TableOutcome {
  kChanged,    // a pair was added or removed, or a handler set
  kUnchanged,  // the tables already were as asked
  kFull,       // no record or no entry was free: the tables are as they were
  kRefused,    // an empty or over-long name (or own handler): nothing done
};

class SubscriptionTables {
 public:
  static constexpr int kRecordCount = 50;
  static constexpr int kEntryCount = 200;
  static constexpr uint8_t kFreeSlot = 0xFF;
  using NameCompare = int (*)(const char*, const char*);

  // `compare` decides name equality (0 = equal); the platform's locale
  // comparison on Windows.
  explicit SubscriptionTables(NameCompare compare = std::strcmp) : compare_(compare) {}
  SubscriptionTables(const SubscriptionTables&) = delete;
  SubscriptionTables& operator=(const SubscriptionTables&) = delete;

  // Marks every entry free and keeps the window fields, as at load.
  void ResetSubscribers();

  // The in-use record holding `name`, or -1.
  int FindSubscription(const std::string& name) const;
  // Finds or claims the record of `name`. A found record gets `handler` unless
  // keepHandler; a claimed one gets `handler`, or "" when keepHandler. -1 when
  // no record is free, or when the name (or a handler to be stored) is longer
  // than its field: such texts are refused, never cut.
  int StoreSubscription(const std::string& name, const std::string& handler, bool keepHandler);
  // The entry of the pair, or -1.
  int FindSubscriber(int slot, uint32_t window) const;
  // Finds or claims the entry of the pair; -1 when none is free.
  int AddSubscriber(int slot, uint32_t window);

  // Records the request. Empty or over-long names (and over-long handlers of
  // this instance's own requests) are refused. When no record or no entry is
  // free the tables are left as they were: kFull.
  TableOutcome AddSubscription(const SubscriptionRequest& request);
  // Frees the pair's entry, and the record when nothing refers to it any
  // more; kUnchanged when the pair was not there. Empty or over-long names
  // are refused.
  TableOutcome RemoveSubscription(uint32_t window, const std::string& name);
  // Every in-use name, in slot order.
  std::vector<std::string> Names() const;

  // Drops every entry of a window that no longer exists, and each record
  // that no entry refers to afterwards.
  void ForgetWindow(uint32_t window);

  // One "%s\t\t%s\n" line (name, handler) per in-use record, in slot order,
  // that has an entry for `window`.
  std::string ListFor(uint32_t window) const;
  // The windows subscribed to `slot`, in entry order: the fan-out targets.
  std::vector<uint32_t> WindowsOf(int slot) const;

  SubscriptionRecord records[kRecordCount]{};
  SubscriberEntry entries[kEntryCount]{};

 private:
  bool IsReferenced(int slot) const;
  void FreeIfUnreferenced(int slot);

  NameCompare compare_;
};

}  // namespace zanvor

#endif  // ZANVOR_REGISTRY_SUBSCRIPTION_TABLE_H_
