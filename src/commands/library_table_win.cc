#include "commands/library_functions_win.h"

#include "base/address.h"

namespace zanvor {
namespace {

template <typename F>
uint32_t EntryOf(F* f) {
  return AddressOf(reinterpret_cast<const void*>(f));
}

struct Tables {
  LibraryFunction functions[7];
  LibraryTable table;
};

// Filled in place once: the host keeps the table's address for as long as
// the library is loaded.
Tables tables;

void FillTables(Tables& t) {
  t.functions[0] = {AddressOf("ZANVOR_INIT"), EntryOf(ZANVOR_INIT), kParameterCountRunAtLoad, AddressOf("")};
  t.functions[1] = {AddressOf("ZANVOR_EXIT"), EntryOf(ZANVOR_EXIT), kParameterCountRunAtUnload, AddressOf("")};
  t.functions[2] = {AddressOf("ZANVOR"), EntryOf(ZANVOR), 2, AddressOf("CC")};
  t.functions[3] = {AddressOf("ZANVOR_LOCAL"), EntryOf(ZANVOR_LOCAL), 2, AddressOf("CC")};
  t.functions[4] = {AddressOf("LIST_SUBSCR"), EntryOf(LIST_SUBSCR), 0, AddressOf("")};
  t.functions[5] = {AddressOf("SUBSCRIBE"), EntryOf(SUBSCRIBE), 2, AddressOf("CC")};
  t.functions[6] = {AddressOf("UNSUBSCRIBE"), EntryOf(UNSUBSCRIBE), 1, AddressOf("C")};
  t.table = {0, 7, AddressOf(t.functions)};
}

}  // namespace

const LibraryTable* GetLibraryTable() {
  static const bool filled = (FillTables(tables), true);
  (void)filled;
  return &tables.table;
}

}  // namespace zanvor
