// The binary contract with the FoxPro host: the packed records, the
// dispatch codes, the requests and their numbers.
//
// Packed records exchanged with the FoxPro host. Every offset here is part of
// the binary contract with the host, so the records are described with
// fixed-width fields (32-bit "pointers" included) and pinned with
// static_assert; the same header compiles natively for the unit tests.
#ifndef ZANVOR_CONTRACT_HOST_ABI_H_
#define ZANVOR_CONTRACT_HOST_ABI_H_

#include <cstddef>
#include <cstdint>

namespace zanvor {

#pragma pack(push, 1)

// Passed by the host to DispatchAPI (at least 36 bytes plus parameters) and
// built by the library, 28 bytes long, for every request it sends back.
struct RequestRecord {
  uint32_t data;
  uint32_t extra;
  uint32_t unused8;
  uint32_t unused12;
  uint32_t hostRequest;
  uint32_t dispatchCode;
  uint32_t function;
  uint32_t unused28;
  uint32_t unused32;
  // The ParameterBlock starts here (offset 36) for codes 1 and 11.
};

struct HostValue {
  uint8_t valueType;
  uint8_t unused1;
  uint16_t zero2;
  uint32_t textLength;
  uint8_t unused8[20];
  uint32_t textHandle;
  uint32_t unused32;
};

struct LibraryFunction {
  uint32_t functionName;
  uint32_t entry;
  int16_t parameterCount;
  uint32_t parameterTypes;
};

struct LibraryTable {
  uint32_t nextTable;
  uint16_t functionCount;
  uint32_t functions;
};

#pragma pack(pop)

constexpr size_t kRequestRecordSize = 28;  // what the library sends
constexpr size_t kParameterBlockOffset = 36;
constexpr size_t kParameterBlockHeader = 2;
constexpr uint32_t kLibraryTableExtra = 5000;

// Parameter i (from 1) of a ParameterBlock.
inline HostValue* ParameterAt(void* block, int i) {
  return reinterpret_cast<HostValue*>(static_cast<uint8_t*>(block) + kParameterBlockHeader +
                                      sizeof(HostValue) * (i - 1));
}

static_assert(offsetof(RequestRecord, data) == 0, "");
static_assert(offsetof(RequestRecord, extra) == 4, "");
static_assert(offsetof(RequestRecord, hostRequest) == 16, "");
static_assert(offsetof(RequestRecord, dispatchCode) == 20, "");
static_assert(offsetof(RequestRecord, function) == 24, "");
static_assert(sizeof(RequestRecord) == kParameterBlockOffset, "");
static_assert(sizeof(HostValue) == 36, "");
static_assert(offsetof(HostValue, textLength) == 4, "");
static_assert(offsetof(HostValue, textHandle) == 28, "");
static_assert(kParameterBlockHeader + offsetof(HostValue, textLength) == 6, "");
static_assert(kParameterBlockHeader + offsetof(HostValue, textHandle) == 30, "");
static_assert(kParameterBlockHeader + sizeof(HostValue) + offsetof(HostValue, textLength) == 42,
              "");
static_assert(kParameterBlockHeader + sizeof(HostValue) + offsetof(HostValue, textHandle) == 66,
              "");
static_assert(sizeof(LibraryFunction) == 14, "");
static_assert(offsetof(LibraryFunction, parameterCount) == 8, "");
static_assert(offsetof(LibraryFunction, parameterTypes) == 10, "");
static_assert(sizeof(LibraryTable) == 10, "");
static_assert(offsetof(LibraryTable, functions) == 6, "");

// Dispatch codes the host sends to DispatchAPI.
enum DispatchCode : uint32_t {
  kDispatchInit = 0,
  kDispatchCall = 1,
  kDispatchAllocHandle = 2,
  kDispatchFreeHandle = 4,
  kDispatchHandleData = 6,
  kDispatchCallTwo = 10,
  kDispatchCallTwoResult = 11,
  kDispatchLibraryTable = 14,
  kDispatchAllocSlot = 16,
  kDispatchFreeSlot = 17,
  kDispatchSlotValue = 18,
};

// Requests the library sends back to the host.
enum HostRequestNumber : uint32_t {
  kRequestReturnValue = 11,
  kRequestExecuteCommand = 54,
  kRequestRaiseErrorNumber = 83,
  kRequestRaiseErrorText = 84,
  kRequestGetWindowHandle = 112,
  kRequestGetHostWindowId = 113,
};

// The one export the host looks up.
constexpr char kDispatchExportName[] = "@DispatchAPI@4";

// LibraryFunction.parameterCount values that mark a function the host runs
// by itself rather than one FoxPro code calls.
constexpr int16_t kParameterCountRunAtLoad = -2;
constexpr int16_t kParameterCountRunAtUnload = -3;

// Host error raised when a character parameter cannot grow by the one byte
// of its terminating NUL.
constexpr uint32_t kParameterGrowError = 182;
// The header word of a value handle the library returns as a result.
constexpr uint16_t kResultHeaderWord = 16;

}  // namespace zanvor

#endif  // ZANVOR_CONTRACT_HOST_ABI_H_
