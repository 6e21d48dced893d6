// The library's one entry point. Every host service arrives here with a
// RequestRecord; a host error raised by a library function unwinds back to
// the innermost call of the thread, and nothing is ever thrown into the host.
#include "host/dispatch_win.h"

#include <windows.h>

#include "base/address.h"
#include "contract/host_abi.h"
#include "host/host_services_win.h"
#include "host/thread_context_win.h"

namespace zanvor {
namespace {

const LibraryTable* libraryTable = nullptr;

}  // namespace

void InstallLibraryTable(const LibraryTable* table) { libraryTable = table; }

}  // namespace zanvor

namespace {

using zanvor::RequestRecord;
using LibraryEntry = void(__fastcall*)(void*);
using TwoArgEntry = void(__fastcall*)(uint32_t, uint32_t);
using TwoArgResultEntry = uint32_t(__fastcall*)(uint32_t, void*);

void Act(zanvor::ThreadContext* context, RequestRecord* record) {
  using namespace zanvor;
  void* parameters = reinterpret_cast<uint8_t*>(record) + kParameterBlockOffset;
  switch (record->dispatchCode) {
    case kDispatchInit:
      context->hostCallback = FromAddress<HostCallback>(record->function);
      context->handleTable = FromAddress<uint8_t*>(record->data);
      context->slotTable = FromAddress<uint8_t*>(record->extra);
      record->data = AddressOf(libraryTable);
      record->extra = kLibraryTableExtra;
      break;
    case kDispatchLibraryTable:
      record->data = AddressOf(libraryTable);
      record->extra = kLibraryTableExtra;
      break;
    case kDispatchCall:
      FromAddress<LibraryEntry>(record->function)(parameters);
      break;
    case kDispatchCallTwo:
      FromAddress<TwoArgEntry>(record->function)(record->data, record->extra);
      break;
    case kDispatchCallTwoResult: {
      const uint32_t result =
          FromAddress<TwoArgResultEntry>(record->function)(record->data, parameters);
      record->data = result;  // not reached when the function raised an error
      break;
    }
    case kDispatchAllocHandle:
      record->data =
          ThreadValueHandles().AllocValueHandle(record->data, static_cast<uint16_t>(record->extra));
      break;
    case kDispatchFreeHandle:
      ThreadValueHandles().FreeValueHandle(record->data);
      break;
    case kDispatchHandleData:
      record->data = AddressOf(ThreadValueHandles().ValueHandleData(record->data));
      break;
    case kDispatchAllocSlot:
      record->data = ThreadValueHandles().AllocSlot(record->data);
      break;
    case kDispatchFreeSlot:
      ThreadValueHandles().FreeSlot(record->data);
      break;
    case kDispatchSlotValue:
      record->data = ThreadValueHandles().SlotValue(record->data);
      break;
    default:
      break;  // unknown codes leave the record as it is
  }
}

}  // namespace

extern "C" __declspec(dllexport) uint32_t __fastcall DispatchAPI(RequestRecord* record) {
  zanvor::ThreadContext* context = zanvor::CurrentThreadContext();
  if (context == nullptr || record == nullptr) return 0;  // no heap left: nothing we can do
  try {
    Act(context, record);
  } catch (const zanvor::HostErrorRaised&) {
    // The host has recorded the error; the function ended here.
  } catch (...) {
    // Our own failures (out of memory, mostly) must not reach the host's
    // frames; the function simply ends without a result.
  }
  return 0;
}
