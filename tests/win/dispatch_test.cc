// The real zanvor.fll driven through its one export the way the host drives
// it: code 14 and 0, the handle and slot codes, library functions through
// code 1, host errors that unwind to the innermost DispatchAPI call. The
// tables are the stand-in host's, whose code for them shares nothing with
// the library's, so the host and the library taking entries of one table
// must agree on its layout.
#include <windows.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/address.h"
#include "base/little_endian.h"
#include "contract/host_abi.h"
#include "fll_host/host_tables_win.h"
#include "gtest/gtest.h"

namespace zanvor {
namespace {

using Dispatch = uint32_t(__fastcall*)(RequestRecord*);

struct Call {
  RequestRecord record{};
  uint8_t parameters[2 + 36 * 2]{};
};

// What the library asked of the host, in order.
struct HostLog {
  std::vector<uint32_t> requests;
  std::vector<std::string> errorTexts;
  std::vector<uint32_t> errorNumbers;
  std::vector<std::string> results;
  std::vector<std::string> commands;
};

HostLog* log_ = nullptr;
Dispatch dispatch_ = nullptr;
void (*onRequest_)(uint32_t) = nullptr;

// Small tables, so that filling them is quick; handle 63 is the last one.
constexpr uint16_t kHandles = 64;
constexpr uint16_t kSlots = 8;

std::string TextOfHandle(HostTables& tables, uint32_t handle) {
  const uint8_t* p = tables.Data(handle);
  return p ? std::string(reinterpret_cast<const char*>(p)) : std::string();
}

HostTables* tables_ = nullptr;

void __fastcall Callback(RequestRecord* record) {
  log_->requests.push_back(record->hostRequest);
  EXPECT_EQ(record->dispatchCode, 0u);
  const char* text = FromAddress<const char*>(record->data);
  switch (record->hostRequest) {
    case kRequestRaiseErrorText:
      log_->errorTexts.push_back(text);
      break;
    case kRequestRaiseErrorNumber:
      log_->errorNumbers.push_back(record->data);
      break;
    case kRequestExecuteCommand:
      log_->commands.push_back(text);
      break;
    case kRequestReturnValue: {
      const auto* value = reinterpret_cast<const HostValue*>(text);
      EXPECT_EQ(value->valueType, 'H');
      EXPECT_EQ(value->zero2, 0);
      log_->results.push_back(TextOfHandle(*tables_, value->textHandle));
      EXPECT_EQ(log_->results.back().size(), value->textLength);
      // The result's block as the host reads it: header word 16, then the
      // text with its terminating zero.
      ASSERT_NE(tables_->Data(value->textHandle), nullptr);
      EXPECT_EQ(LoadU16(tables_->Data(value->textHandle) - 2), kResultHeaderWord);
      EXPECT_GE(tables_->DataSize(value->textHandle), value->textLength + 1);
      break;
    }
    case kRequestGetHostWindowId:
      EXPECT_EQ(record->data, 0u);
      EXPECT_EQ(record->extra, 1u);
      record->data = 7;
      break;
    case kRequestGetWindowHandle:
      record->data = 0;  // no window: the instance stays on its own
      break;
  }
  if (onRequest_) onRequest_(record->hostRequest);
}

class DispatchTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    module_ = LoadLibraryA("zanvor.fll");
    ASSERT_NE(module_, nullptr) << "error " << GetLastError();
    dispatch_ = reinterpret_cast<Dispatch>(
        reinterpret_cast<void*>(GetProcAddress(module_, kDispatchExportName)));
    ASSERT_NE(dispatch_, nullptr);
  }
  void SetUp() override {
    log_ = &log;
    tables_ = &tables;
    onRequest_ = nullptr;
    ASSERT_NE(dispatch_, nullptr);
  }

 public:
  uint32_t Code(uint32_t code, uint32_t data = 0, uint32_t extra = 0, uint32_t function = 0) {
    Call call;
    call.record.dispatchCode = code;
    call.record.data = data;
    call.record.extra = extra;
    call.record.function = function;
    EXPECT_EQ(dispatch_(&call.record), 0u);
    lastExtra = call.record.extra;
    return call.record.data;
  }

  void Init() {
    Code(kDispatchInit, AddressOf(tables.handle_table()), AddressOf(tables.slot_table()),
         AddressOf(reinterpret_cast<const void*>(&Callback)));
  }

  const LibraryFunction* Function(const char* name) {
    const auto* table = FromAddress<const LibraryTable*>(Code(kDispatchLibraryTable));
    const auto* f = FromAddress<const LibraryFunction*>(table->functions);
    for (int i = 0; i < table->functionCount; ++i) {
      if (strcmp(FromAddress<const char*>(f[i].functionName), name) == 0) {
        return &f[i];
      }
    }
    return nullptr;
  }

  uint32_t Text(const std::string& text) {
    const uint32_t handle = Code(kDispatchAllocHandle, static_cast<uint32_t>(text.size()), 0);
    uint8_t* data = FromAddress<uint8_t*>(Code(kDispatchHandleData, handle));
    memcpy(data, text.data(), text.size());
    return handle;
  }

  // Runs a library function with character parameters; a parameter given
  // as nullptr gets an invalid handle, which cannot be grown.
  void Run(const char* name, std::vector<const char*> args) {
    const LibraryFunction* f = Function(name);
    ASSERT_NE(f, nullptr) << name;
    Call call;
    call.record.dispatchCode = kDispatchCall;
    call.record.function = f->entry;
    for (size_t i = 0; i < args.size(); ++i) {
      HostValue* value = ParameterAt(call.parameters, static_cast<int>(i) + 1);
      value->valueType = 'C';
      value->textLength = args[i] ? static_cast<uint32_t>(strlen(args[i])) : 3;
      value->textHandle = args[i] ? Text(args[i]) : 63;
    }
    EXPECT_EQ(dispatch_(&call.record), 0u);
  }

  static HMODULE module_;
  HostLog log;
  HostTables tables{kHandles, kSlots};
  uint32_t lastExtra = 0;
};

HMODULE DispatchTest::module_ = nullptr;

TEST_F(DispatchTest, CodeFourteenBeforeCodeZeroGivesTheTableAndStoresNothing) {
  const uint32_t table = Code(kDispatchLibraryTable);
  EXPECT_NE(table, 0u);
  EXPECT_EQ(lastExtra, 5000u);
  // No callback yet on this thread: a function that would send a request
  // cannot reach the host, and nothing crashes.
  EXPECT_TRUE(log.requests.empty());
  Init();
  EXPECT_EQ(lastExtra, 5000u);
  EXPECT_EQ(Code(kDispatchLibraryTable), table);
}

TEST_F(DispatchTest, TheLibraryTableListsTheSevenFunctionsInOrder) {
  const auto* table = FromAddress<const LibraryTable*>(Code(kDispatchLibraryTable));
  EXPECT_EQ(table->nextTable, 0u);
  ASSERT_EQ(table->functionCount, 7);
  const auto* f = FromAddress<const LibraryFunction*>(table->functions);
  const char* names[] = {"ZANVOR_INIT", "ZANVOR_EXIT", "ZANVOR",     "ZANVOR_LOCAL",
                         "LIST_SUBSCR", "SUBSCRIBE",   "UNSUBSCRIBE"};
  const int counts[] = {-2, -3, 2, 2, 0, 2, 1};
  const char* types[] = {"", "", "CC", "CC", "", "CC", "C"};
  for (int i = 0; i < 7; ++i) {
    EXPECT_STREQ(FromAddress<const char*>(f[i].functionName), names[i]);
    EXPECT_EQ(f[i].parameterCount, counts[i]) << names[i];
    EXPECT_STREQ(FromAddress<const char*>(f[i].parameterTypes), types[i]);
    EXPECT_NE(f[i].entry, 0u);
  }
}

TEST_F(DispatchTest, HandleAndSlotCodesWorkOnTheThreadsTables) {
  Init();
  const uint32_t a = Code(kDispatchAllocHandle, 10, 0x1234);
  const uint32_t b = Code(kDispatchAllocHandle, 0, 0);
  EXPECT_EQ(a, 1u);
  EXPECT_EQ(b, 2u);
  auto* data = FromAddress<uint8_t*>(Code(kDispatchHandleData, a));
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(LoadU16(data - 2), 0x1234);
  EXPECT_EQ(data[9], 0);
  Code(kDispatchFreeHandle, a);
  EXPECT_EQ(tables.Block(a), 0u);
  EXPECT_EQ(Code(kDispatchHandleData, a), 0u);
  EXPECT_EQ(Code(kDispatchAllocHandle, 1, 0), 1u);  // the freed index comes back first

  EXPECT_EQ(Code(kDispatchAllocSlot, 0xABCD), 1u);
  EXPECT_EQ(Code(kDispatchSlotValue, 1), 0xABCDu);
  Code(kDispatchFreeSlot, 1);
  EXPECT_EQ(Code(kDispatchSlotValue, 1), 0u);
  EXPECT_EQ(Code(kDispatchSlotValue, 0), 0u);
}

// The host and the library take and free entries of one HandleTable in
// turn: each must step past the other's entries, take back the lowest freed
// index, and read the other's blocks (header word, data, size) alike.
TEST_F(DispatchTest, HostAndLibraryShareTheHandleTable) {
  Init();
  const uint32_t hostHandle = tables.AllocHandle(3, 0x0102);
  ASSERT_EQ(hostHandle, 1u);
  memcpy(tables.Data(hostHandle), "abc", 3);
  const uint32_t libraryHandle = Code(kDispatchAllocHandle, 5, 0x1234);
  EXPECT_EQ(libraryHandle, 2u);
  EXPECT_EQ(tables.AllocHandle(0, 0), 3u);

  auto* data = FromAddress<uint8_t*>(Code(kDispatchHandleData, hostHandle));
  EXPECT_EQ(data, tables.Data(hostHandle));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 3), "abc");
  EXPECT_EQ(LoadU16(data - 2), 0x0102);
  EXPECT_EQ(LoadU16(tables.Data(libraryHandle) - 2), 0x1234);
  EXPECT_EQ(tables.DataSize(libraryHandle), 5u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(tables.Data(libraryHandle)), 5),
            std::string(5, '\0'));

  Code(kDispatchFreeHandle, hostHandle);
  EXPECT_EQ(tables.Data(hostHandle), nullptr);
  EXPECT_EQ(tables.LiveBlocks(), 2);
  EXPECT_EQ(tables.AllocHandle(1, 0), hostHandle);
  tables.FreeHandle(libraryHandle);
  EXPECT_EQ(Code(kDispatchHandleData, libraryHandle), 0u);
  EXPECT_EQ(Code(kDispatchAllocHandle, 1, 0), libraryHandle);
  EXPECT_EQ(Code(kDispatchAllocHandle, 1, 0), 4u);
}

TEST_F(DispatchTest, AFullHandleTableRefusesOnBothSides) {
  Init();
  for (uint32_t i = 1; i < kHandles - 1; ++i) ASSERT_EQ(tables.AllocHandle(0, 0), i);
  EXPECT_EQ(Code(kDispatchAllocHandle, 0, 0), kHandles - 1u);
  EXPECT_EQ(Code(kDispatchAllocHandle, 0, 0), 0u);
  EXPECT_EQ(tables.AllocHandle(0, 0), 0u);
  EXPECT_EQ(Code(kDispatchHandleData, kHandles), 0u);
  EXPECT_EQ(tables.LiveBlocks(), kHandles - 1);
}

// The same for the SlotTable, whose usedCount both sides keep.
TEST_F(DispatchTest, HostAndLibraryShareTheSlotTable) {
  Init();
  EXPECT_EQ(tables.AllocSlot(0xA), 1u);
  EXPECT_EQ(Code(kDispatchAllocSlot, 0xB), 2u);
  EXPECT_EQ(tables.UsedSlots(), 2);
  EXPECT_EQ(Code(kDispatchSlotValue, 1), 0xAu);
  EXPECT_EQ(tables.SlotValue(2), 0xBu);

  Code(kDispatchFreeSlot, 1);
  EXPECT_EQ(tables.UsedSlots(), 1);
  EXPECT_EQ(tables.SlotValue(1), 0u);
  EXPECT_EQ(tables.AllocSlot(0xC), 1u);
  tables.FreeSlot(2);
  EXPECT_EQ(Code(kDispatchSlotValue, 2), 0u);
  EXPECT_EQ(Code(kDispatchAllocSlot, 0xD), 2u);

  for (uint32_t i = 3; i < kSlots; ++i) EXPECT_EQ(Code(kDispatchAllocSlot, i), i);
  EXPECT_EQ(tables.AllocSlot(0xE), 0u);
  EXPECT_EQ(Code(kDispatchAllocSlot, 0xE), 0u);
  EXPECT_EQ(tables.UsedSlots(), kSlots - 1);
}

TEST_F(DispatchTest, UnknownCodesLeaveTheRecordAlone) {
  Init();
  for (uint32_t code : {3u, 5u, 7u, 8u, 9u, 12u, 13u, 15u, 19u, 1000u}) {
    Call call;
    call.record.dispatchCode = code;
    call.record.data = 0x11111111;
    call.record.extra = 0x22222222;
    EXPECT_EQ(dispatch_(&call.record), 0u);
    EXPECT_EQ(call.record.data, 0x11111111u) << code;
    EXPECT_EQ(call.record.extra, 0x22222222u) << code;
  }
}

TEST_F(DispatchTest, AHostErrorEndsTheFunctionAndTheNextCallWorks) {
  Init();
  Run("SUBSCRIBE", {"", "x"});
  ASSERT_EQ(log.errorTexts.size(), 1u);
  EXPECT_EQ(log.errorTexts[0], "Subscription name is empty.");
  Run("LIST_SUBSCR", {});
  ASSERT_EQ(log.results.size(), 1u);
  EXPECT_EQ(log.requests.back(), static_cast<uint32_t>(kRequestReturnValue));
}

TEST_F(DispatchTest, AParameterThatCannotGrowRaisesHostError182) {
  Init();
  Run("UNSUBSCRIBE", {nullptr});
  ASSERT_EQ(log.errorNumbers.size(), 1u);
  EXPECT_EQ(log.errorNumbers[0], 182u);
  EXPECT_TRUE(log.errorTexts.empty());  // the function ended at the raise
}

// While ZANVOR_INIT waits for the host's answer to request 113, the host
// runs FoxPro code that calls SUBSCRIBE badly. The error ends only the inner
// call; ZANVOR_INIT goes on and asks for the window (request 112).
DispatchTest* nestedFixture_ = nullptr;
void NestedSubscribe(uint32_t request) {
  if (request != kRequestGetHostWindowId) return;
  onRequest_ = nullptr;
  nestedFixture_->Run("SUBSCRIBE", {"name", "no keyword"});
}

TEST_F(DispatchTest, AnErrorInANestedCallEndsOnlyTheInnerFunction) {
  Init();
  nestedFixture_ = this;
  onRequest_ = NestedSubscribe;
  Run("ZANVOR_INIT", {});
  ASSERT_EQ(log.errorTexts.size(), 1u);
  EXPECT_EQ(log.errorTexts[0], "Function does not have <Msg> keyword.");
  const std::vector<uint32_t> expected = {kRequestGetHostWindowId, kRequestRaiseErrorText,
                                          kRequestGetWindowHandle};
  EXPECT_EQ(log.requests, expected);
  Run("ZANVOR_EXIT", {});
}

TEST_F(DispatchTest, EachThreadKeepsItsOwnCallbackAndTables) {
  Init();
  HostTables other(kHandles, kSlots);
  uint32_t handle = 0;
  std::thread([&other, &handle] {
    Call call;
    call.record.dispatchCode = kDispatchInit;
    call.record.data = AddressOf(other.handle_table());
    call.record.extra = AddressOf(other.slot_table());
    dispatch_(&call.record);
    Call alloc;
    alloc.record.dispatchCode = kDispatchAllocHandle;
    alloc.record.data = 4;
    dispatch_(&alloc.record);
    handle = alloc.record.data;
  }).join();
  EXPECT_EQ(handle, 1u);
  EXPECT_NE(other.Block(1), 0u);
  EXPECT_EQ(tables.Block(1), 0u);  // this thread's table was not touched
  EXPECT_EQ(Code(kDispatchAllocHandle, 4), 1u);
}

}  // namespace
}  // namespace zanvor
