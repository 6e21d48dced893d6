// The real zanvor.fll driven through its one export the way the host drives
// it: code 14 and 0, the handle and slot codes, library functions through
// code 1, host errors that unwind to the innermost DispatchAPI call.
#include <windows.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "contract/host_abi.h"
#include "host/value_handles.h"

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

class HostTables {
 public:
  HostTables() : handles_(4 + 4 * 64, 0), slots_(6 + 4 * 8, 0) {
    StoreU16(handles_.data(), 1);
    StoreU16(handles_.data() + 2, 64);
    StoreU16(slots_.data(), 1);
    StoreU16(slots_.data() + 4, 8);
  }
  uint8_t* handles() { return handles_.data(); }
  uint8_t* slots() { return slots_.data(); }
  uint32_t Block(uint32_t handle) { return LoadU32(handles_.data() + 4 + 4 * handle); }

 private:
  std::vector<uint8_t> handles_;
  std::vector<uint8_t> slots_;
};

std::string TextOfHandle(HostTables& tables, uint32_t handle) {
  HGLOBAL block = reinterpret_cast<HGLOBAL>(static_cast<uintptr_t>(tables.Block(handle)));
  const char* p = static_cast<const char*>(GlobalLock(block));
  std::string text = p ? std::string(p + 2) : std::string();
  GlobalUnlock(block);
  return text;
}

HostTables* tables_ = nullptr;

void __fastcall Callback(RequestRecord* record) {
  log_->requests.push_back(record->hostRequest);
  EXPECT_EQ(record->dispatchCode, 0u);
  const char* text = reinterpret_cast<const char*>(static_cast<uintptr_t>(record->data));
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
    Code(kDispatchInit, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(tables.handles())),
         static_cast<uint32_t>(reinterpret_cast<uintptr_t>(tables.slots())),
         static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&Callback)));
  }

  const LibraryFunction* Function(const char* name) {
    const auto* table = reinterpret_cast<const LibraryTable*>(
        static_cast<uintptr_t>(Code(kDispatchLibraryTable)));
    const auto* f = reinterpret_cast<const LibraryFunction*>(static_cast<uintptr_t>(table->functions));
    for (int i = 0; i < table->functionCount; ++i) {
      if (strcmp(reinterpret_cast<const char*>(static_cast<uintptr_t>(f[i].functionName)), name) == 0) {
        return &f[i];
      }
    }
    return nullptr;
  }

  uint32_t Text(const std::string& text) {
    const uint32_t handle = Code(kDispatchAllocHandle, static_cast<uint32_t>(text.size()), 0);
    uint8_t* data = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(Code(kDispatchHandleData, handle)));
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
  HostTables tables;
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
  const auto* table = reinterpret_cast<const LibraryTable*>(
      static_cast<uintptr_t>(Code(kDispatchLibraryTable)));
  EXPECT_EQ(table->nextTable, 0u);
  ASSERT_EQ(table->functionCount, 7);
  const auto* f = reinterpret_cast<const LibraryFunction*>(static_cast<uintptr_t>(table->functions));
  const char* names[] = {"ZANVOR_INIT", "ZANVOR_EXIT", "ZANVOR", "ZANVOR_LOCAL",
                         "LIST_SUBSCR", "SUBSCRIBE", "UNSUBSCRIBE"};
  const int counts[] = {-2, -3, 2, 2, 0, 2, 1};
  const char* types[] = {"", "", "CC", "CC", "", "CC", "C"};
  for (int i = 0; i < 7; ++i) {
    EXPECT_STREQ(reinterpret_cast<const char*>(static_cast<uintptr_t>(f[i].functionName)), names[i]);
    EXPECT_EQ(f[i].parameterCount, counts[i]) << names[i];
    EXPECT_STREQ(reinterpret_cast<const char*>(static_cast<uintptr_t>(f[i].parameterTypes)), types[i]);
    EXPECT_NE(f[i].entry, 0u);
  }
}

TEST_F(DispatchTest, HandleAndSlotCodesWorkOnTheThreadsTables) {
  Init();
  const uint32_t a = Code(kDispatchAllocHandle, 10, 0x1234);
  const uint32_t b = Code(kDispatchAllocHandle, 0, 0);
  EXPECT_EQ(a, 1u);
  EXPECT_EQ(b, 2u);
  auto* data = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(Code(kDispatchHandleData, a)));
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
  HostTables other;
  uint32_t handle = 0;
  std::thread([&other, &handle] {
    Call call;
    call.record.dispatchCode = kDispatchInit;
    call.record.data = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(other.handles()));
    call.record.extra = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(other.slots()));
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
