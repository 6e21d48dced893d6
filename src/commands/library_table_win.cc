#include "commands/library_functions_win.h"

namespace zanvor {
namespace {

uint32_t Address(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

template <typename F>
uint32_t EntryOf(F* f) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(f));
}

// Parameter count -2: the host runs it when it loads the library; -3: when
// it unloads it.
constexpr int16_t kRunAtLoad = -2;
constexpr int16_t kRunAtUnload = -3;

struct Tables {
  LibraryFunction functions[7];
  LibraryTable table;
};

// Filled in place once: the host keeps the table's address for as long as
// the library is loaded.
Tables tables;

void FillTables(Tables& t) {
  t.functions[0] = {Address("ZANVOR_INIT"), EntryOf(ZANVOR_INIT), kRunAtLoad, Address("")};
  t.functions[1] = {Address("ZANVOR_EXIT"), EntryOf(ZANVOR_EXIT), kRunAtUnload, Address("")};
  t.functions[2] = {Address("ZANVOR"), EntryOf(ZANVOR), 2, Address("CC")};
  t.functions[3] = {Address("ZANVOR_LOCAL"), EntryOf(ZANVOR_LOCAL), 2, Address("CC")};
  t.functions[4] = {Address("LIST_SUBSCR"), EntryOf(LIST_SUBSCR), 0, Address("")};
  t.functions[5] = {Address("SUBSCRIBE"), EntryOf(SUBSCRIBE), 2, Address("CC")};
  t.functions[6] = {Address("UNSUBSCRIBE"), EntryOf(UNSUBSCRIBE), 1, Address("C")};
  t.table = {0, 7, Address(t.functions)};
}

}  // namespace

const LibraryTable* GetLibraryTable() {
  static const bool filled = (FillTables(tables), true);
  (void)filled;
  return &tables.table;
}

}  // namespace zanvor
