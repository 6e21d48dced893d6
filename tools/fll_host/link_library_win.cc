#include "fll_host/link_library_win.h"

#include <cstring>

#include "base/address.h"
#include "fll_host/lexer.h"

namespace zanvor {
namespace {

// Bounds on what a library's table may claim, so a corrupt table is reported
// instead of walked off into the weeds.
constexpr int kMaxTables = 16;
constexpr int kMaxFunctions = 1000;
constexpr size_t kMaxNameBytes = 256;

// The library finds the host only through the callback address it was handed,
// so the callback finds the open library through this pointer.
LinkLibrary* g_openLibrary = nullptr;

// Called by the library on the host's thread. It is a frame of ours below a
// frame of the library's: nothing may be thrown out of it.
void __fastcall HostCallback(RequestRecord* record) {
  try {
    if (g_openLibrary != nullptr && record != nullptr) g_openLibrary->OnRequest(record);
  } catch (...) {
    // Only allocation can fail in here; the request is dropped and the
    // library goes on as if the host had ignored it.
  }
}

// The zero-terminated text a request's data points at; empty for a null
// address.
std::string TextAt(uint32_t address) {
  if (address == 0) return std::string();
  return std::string(FromAddress<const char*>(address));
}

// The bounds of a loaded module's image, to check the addresses its table
// holds before reading through them.
struct ImageRange {
  uintptr_t begin = 0;
  uintptr_t end = 0;

  explicit ImageRange(HMODULE module) {
    const auto* base = reinterpret_cast<const uint8_t*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    begin = reinterpret_cast<uintptr_t>(base);
    end = begin + nt->OptionalHeader.SizeOfImage;
  }
  bool Contains(uint32_t address, size_t bytes) const {
    return address >= begin && address < end && bytes <= end - address;
  }
  // A zero-terminated string inside the image, at most kMaxNameBytes long.
  bool String(uint32_t address, std::string* out) const {
    if (!Contains(address, 1)) return false;
    const char* p = FromAddress<const char*>(address);
    const size_t room = end - address;
    const size_t limit = room < kMaxNameBytes + 1 ? room : kMaxNameBytes + 1;
    const size_t length = strnlen(p, limit);
    if (length == limit) return false;
    out->assign(p, length);
    return true;
  }
};

bool ParseTable(HMODULE module, uint32_t tableAddress, std::vector<FunctionInfo>* functions,
                HostError* error) {
  const ImageRange image(module);
  functions->clear();
  uint32_t address = tableAddress;
  for (int tables = 0; address != 0; ++tables) {
    if (tables == kMaxTables || !image.Contains(address, sizeof(LibraryTable))) {
      *error = HostError::Text("The library's function table lies outside the library.");
      return false;
    }
    LibraryTable table;
    std::memcpy(&table, FromAddress<const void*>(address), sizeof table);
    if (functions->size() + table.functionCount > kMaxFunctions ||
        !image.Contains(table.functions, sizeof(LibraryFunction) * table.functionCount)) {
      *error = HostError::Text("The library's function table is corrupt.");
      return false;
    }
    for (int i = 0; i < table.functionCount; ++i) {
      LibraryFunction entry;
      std::memcpy(&entry,
                  FromAddress<const uint8_t*>(table.functions) + sizeof(LibraryFunction) * i,
                  sizeof entry);
      FunctionInfo info;
      info.entry = entry.entry;
      info.parameterCount = entry.parameterCount;
      if (!image.String(entry.functionName, &info.name) ||
          (entry.parameterTypes != 0 &&
           !image.String(entry.parameterTypes, &info.parameterTypes)) ||
          !image.Contains(entry.entry, 1)) {
        *error = HostError::Text("Entry " + std::to_string(functions->size() + 1) +
                                 " of the library's function table is corrupt.");
        return false;
      }
      functions->push_back(std::move(info));
    }
    address = table.nextTable;
  }
  return true;
}

bool LoadModule(const std::string& path, UniqueModule* module,
                uint32_t(__fastcall** dispatch)(void*), HostError* error) {
  module->reset(LoadLibraryA(path.c_str()));
  if (!module->valid()) {
    const DWORD lastError = GetLastError();
    *error = HostError::Text("Cannot load library " + path + ": error " +
                             std::to_string(lastError) + ".");
    return false;
  }
  FARPROC entry = GetProcAddress(module->get(), kDispatchExportName);
  if (entry == nullptr) {
    *error = HostError::Text(path + " is not a link library: it exports no " + kDispatchExportName +
                             ".");
    return false;
  }
  *dispatch = reinterpret_cast<uint32_t(__fastcall*)(void*)>(reinterpret_cast<void*>(entry));
  return true;
}

// Code 14: the table address in data, 5000 in extra.
bool FetchTable(uint32_t(__fastcall* dispatch)(void*), uint32_t* table, HostError* error) {
  RequestRecord record{};
  record.dispatchCode = kDispatchLibraryTable;
  dispatch(&record);
  if (record.extra != kLibraryTableExtra) {
    *error = HostError::Text("The library answered code 14 with " + std::to_string(record.extra) +
                             " instead of " + std::to_string(kLibraryTableExtra) + ".");
    return false;
  }
  *table = record.data;
  return true;
}

// Frees the blocks of one call's parameters however the call ends.
class ParameterBlocks {
 public:
  explicit ParameterBlocks(HostTables& tables) : tables_(tables) {}
  ~ParameterBlocks() {
    for (uint32_t handle : handles_) tables_.FreeHandle(handle);
  }
  ParameterBlocks(const ParameterBlocks&) = delete;
  ParameterBlocks& operator=(const ParameterBlocks&) = delete;

  // A block holding `text` (no terminating NUL: the library adds it).
  uint32_t Add(const std::string& text) {
    const uint32_t handle = tables_.AllocHandle(static_cast<uint32_t>(text.size()), kHeaderWord);
    if (handle == 0) return 0;
    handles_.push_back(handle);
    uint8_t* data = tables_.Data(handle);
    if (data == nullptr) return 0;
    if (!text.empty()) std::memcpy(data, text.data(), text.size());
    return handle;
  }

 private:
  // The host's own blocks carry header word 0; results from the library
  // carry 16.
  static constexpr uint16_t kHeaderWord = 0;

  HostTables& tables_;
  std::vector<uint32_t> handles_;
};

}  // namespace

std::string FileBesideProgram(const char* fileName) {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return fileName;
  std::string directory(path, n);
  const size_t slash = directory.find_last_of("\\/");
  directory.erase(slash == std::string::npos ? 0 : slash + 1);
  return directory + fileName;
}

std::string HostErrorText(int number) {
  if (number == static_cast<int>(kParameterGrowError)) {
    return "Not enough memory to terminate a character parameter.";
  }
  return "Host error " + std::to_string(number) + ".";
}

LinkLibrary::LinkLibrary(UniqueModule module, DispatchFunction dispatch, HostTables& tables,
                         HostServices& services)
    : module_(std::move(module)), dispatch_(dispatch), tables_(tables), services_(services) {
  g_openLibrary = this;
}

LinkLibrary::~LinkLibrary() {
  if (g_openLibrary == this) g_openLibrary = nullptr;
  module_.reset();
}

bool LinkLibrary::ReadTable(const std::string& path, std::vector<FunctionInfo>* functions,
                            HostError* error) {
  UniqueModule module;
  DispatchFunction dispatch = nullptr;
  uint32_t table = 0;
  return LoadModule(path, &module, &dispatch, error) && FetchTable(dispatch, &table, error) &&
         ParseTable(module.get(), table, functions, error);
}

std::unique_ptr<LinkLibrary> LinkLibrary::Open(const std::string& path, HostTables& tables,
                                               HostServices& services, HostError* error) {
  if (g_openLibrary != nullptr) {
    *error = HostError::Text("Another library is loaded already.");
    return nullptr;
  }
  UniqueModule module;
  DispatchFunction dispatch = nullptr;
  if (!LoadModule(path, &module, &dispatch, error)) return nullptr;
  std::unique_ptr<LinkLibrary> library(
      new LinkLibrary(std::move(module), dispatch, tables, services));
  if (!library->Initialise(error)) return nullptr;
  return library;
}

bool LinkLibrary::Initialise(HostError* error) {
  // The table is fetched before the library has a callback: the FoxPro host
  // asks with code 14 first and only then hands over callback and tables.
  uint32_t table = 0;
  if (!FetchTable(dispatch_, &table, error)) return false;
  if (!ParseTable(module_.get(), table, &functions_, error)) return false;

  RequestRecord record{};
  record.dispatchCode = kDispatchInit;
  record.function = AddressOf(reinterpret_cast<const void*>(&HostCallback));
  record.data = AddressOf(tables_.handle_table());
  record.extra = AddressOf(tables_.slot_table());
  dispatch_(&record);
  if (record.data != table || record.extra != kLibraryTableExtra) {
    *error = HostError::Text("The library answered code 0 differently from code 14.");
    return false;
  }
  return true;
}

const FunctionInfo* LinkLibrary::Find(const std::string& name) const {
  const std::string upper = AsciiUpper(name);
  for (const FunctionInfo& function : functions_) {
    if (function.parameterCount >= 0 && AsciiUpper(function.name) == upper) return &function;
  }
  return nullptr;
}

bool LinkLibrary::Call(const FunctionInfo& function, const std::vector<Value>& args, Value* result,
                       HostError* error) {
  const int expected = function.parameterCount < 0 ? 0 : function.parameterCount;
  const int given = static_cast<int>(args.size());
  if (given != expected) {
    *error = HostError::Text(
        std::string(given < expected ? "Missing arguments: " : "Too many arguments: ") +
        function.name + " takes " + std::to_string(expected) + ", got " + std::to_string(given) +
        ".");
    return false;
  }
  for (int i = 0; i < given; ++i) {
    const char type =
        i < static_cast<int>(function.parameterTypes.size()) ? function.parameterTypes[i] : '?';
    // Only character parameters exist in the contract; a value of another
    // type for one is refused here, as FoxPro refuses it.
    if (!args[i].is_string()) {
      *error = HostError::Text("Argument " + std::to_string(i + 1) + " of " + function.name +
                               " must be a character string.");
      return false;
    }
    if (type != 'C' && type != 'c' && type != '?') {
      *error = HostError::Text("Parameter type '" + std::string(1, type) + "' of " + function.name +
                               " is not supported by this host.");
      return false;
    }
  }

  // RequestRecord, then the ParameterBlock: a 16-bit word, then one HostValue
  // per parameter.
  std::vector<uint8_t> buffer(kParameterBlockOffset + kParameterBlockHeader +
                              sizeof(HostValue) * args.size());
  ParameterBlocks blocks(tables_);
  for (int i = 0; i < given; ++i) {
    const uint32_t handle = blocks.Add(args[i].text);
    if (handle == 0) {
      *error = HostError::Text("Out of value handles for the parameters of " + function.name + ".");
      return false;
    }
    HostValue value{};
    value.valueType = 'C';
    value.textLength = static_cast<uint32_t>(args[i].text.size());
    value.textHandle = handle;
    std::memcpy(ParameterAt(buffer.data() + kParameterBlockOffset, i + 1), &value, sizeof value);
  }
  RequestRecord record{};
  record.dispatchCode = kDispatchCall;
  record.function = function.entry;
  std::memcpy(buffer.data(), &record, sizeof record);

  frames_.emplace_back();
  dispatch_(buffer.data());
  Frame frame = std::move(frames_.back());
  frames_.pop_back();

  if (frame.hasError) {
    *error = frame.error;
    return false;
  }
  *result = frame.hasResult ? frame.result : Value::Logical(true);
  return true;
}

void LinkLibrary::RunMarked(int16_t parameterCount) {
  for (const FunctionInfo& function : functions_) {
    if (function.parameterCount != parameterCount) continue;
    Value ignored;
    HostError error;
    FunctionInfo asCalled = function;
    asCalled.parameterCount = 0;
    if (!Call(asCalled, {}, &ignored, &error)) services_.ReportError(error);
  }
}

void LinkLibrary::RaiseError(const HostError& error) {
  if (frames_.empty()) {
    services_.ReportError(error);
    return;
  }
  // The library unwinds to its DispatchAPI once the callback returns; the
  // error is reported when that call comes back. A second raise within the
  // same call would be a library bug; the first error is the one reported.
  Frame& frame = frames_.back();
  if (!frame.hasError) {
    frame.hasError = true;
    frame.error = error;
  }
}

void LinkLibrary::TakeReturnValue(uint32_t address) {
  if (address == 0) {
    RaiseError(HostError::Text("The library returned a value without a HostValue."));
    return;
  }
  HostValue value;
  std::memcpy(&value, FromAddress<const void*>(address), sizeof value);
  // The block belongs to the host now, whatever becomes of the value.
  const uint32_t available = tables_.DataSize(value.textHandle);
  const uint8_t* data = tables_.Data(value.textHandle);
  std::string text;
  bool ok = data != nullptr && value.textLength <= available;
  if (ok) text.assign(reinterpret_cast<const char*>(data), value.textLength);
  if (data != nullptr) tables_.FreeHandle(value.textHandle);

  if (!ok) {
    RaiseError(HostError::Text("The library returned a value whose text does not fit its block."));
    return;
  }
  if (value.valueType != 'H' && value.valueType != 'C') {
    RaiseError(HostError::Text("The library returned a value of unsupported type " +
                               std::to_string(value.valueType) + "."));
    return;
  }
  if (frames_.empty()) {
    services_.ReportError(HostError::Text("The library returned a value outside a call."));
    return;
  }
  Frame& frame = frames_.back();
  frame.hasResult = true;
  frame.result = Value::String(std::move(text));
}

void LinkLibrary::OnRequest(RequestRecord* record) {
  switch (record->hostRequest) {
    case kRequestReturnValue:
      TakeReturnValue(record->data);
      break;
    case kRequestExecuteCommand: {
      // Copied first: the command may call into the library again.
      const std::string line = TextAt(record->data);
      services_.ExecuteCommand(line);
      break;
    }
    case kRequestRaiseErrorNumber: {
      const int number = static_cast<int>(record->data);
      RaiseError(HostError{number, HostErrorText(number)});
      break;
    }
    case kRequestRaiseErrorText:
      RaiseError(HostError::Text(TextAt(record->data)));
      break;
    case kRequestGetWindowHandle:
      record->data = record->data == kMainWindowId ? AddressOf(services_.MainWindowHandle()) : 0;
      break;
    case kRequestGetHostWindowId:
      record->data = record->data == 0 && record->extra == 1 ? kMainWindowId : 0;
      break;
    default:
      services_.ReportError(
          HostError::Text("Unknown host request " + std::to_string(record->hostRequest) + "."));
      break;
  }
}

}  // namespace zanvor
