// One loaded link library, driven through its "@DispatchAPI@4" export the
// way the FoxPro host drives it: code 14 first (the LibraryTable, answered
// with 5000), then code 0 (callback and tables), then code 1 for every call.
// The requests the library sends back arrive at OnRequest through the host
// callback.
#ifndef ZANVOR_TOOLS_FLL_HOST_LINK_LIBRARY_WIN_H_
#define ZANVOR_TOOLS_FLL_HOST_LINK_LIBRARY_WIN_H_

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/unique_handle_win.h"
#include "contract/host_abi.h"
#include "fll_host/host_tables_win.h"
#include "fll_host/value.h"

namespace zanvor {

struct FunctionInfo {
  std::string name;
  uint32_t entry = 0;
  int16_t parameterCount = 0;
  std::string parameterTypes;
};

constexpr uint32_t kMainWindowId = 1;

// Commands executed for the library may make the library execute commands
// again; a host cuts the chain past this depth, reporting
// kCommandsTooDeepText, instead of overflowing the stack.
constexpr int kMaxCommandDepth = 32;
constexpr char kCommandsTooDeepText[] = "Commands nested too deeply.";

// What the library may ask of the host besides passing values.
class HostServices {
 public:
  virtual ~HostServices() = default;
  virtual void ExecuteCommand(const std::string& line) = 0;
  virtual HWND MainWindowHandle() = 0;
  // An error raised while no library call is in progress.
  virtual void ReportError(const HostError& error) = 0;
};

// The text the host shows for a numbered host error.
std::string HostErrorText(int number);

// The path of `fileName` in the folder of the running program (the bare
// name when that folder is unknown).
std::string FileBesideProgram(const char* fileName);

class LinkLibrary {
 public:
  // Loads `path`, fetches the LibraryTable with code 14 (checking the 5000),
  // hands over callback and tables with code 0 and reads the table. The
  // load-time function is not run here. Only one library may be open at a
  // time (the callback finds it through a process-wide pointer).
  // REQUIRES: tables and services outlive the library.
  static std::unique_ptr<LinkLibrary> Open(const std::string& path, HostTables& tables,
                                           HostServices& services, HostError* error);
  // Fetches the table with code 14 only; no callback is handed over.
  static bool ReadTable(const std::string& path, std::vector<FunctionInfo>* functions,
                        HostError* error);

  // Frees the module. The caller runs the unload-time functions first.
  ~LinkLibrary();
  LinkLibrary(const LinkLibrary&) = delete;
  LinkLibrary& operator=(const LinkLibrary&) = delete;

  HMODULE module() const { return module_.get(); }
  const std::vector<FunctionInfo>& functions() const { return functions_; }
  // A function callable by name (case-insensitive); null for unknown names
  // and for the load and unload functions.
  const FunctionInfo* Find(const std::string& name) const;

  // Runs one function through code 1 with character parameters. Checks the
  // argument count and types against the table first. The result is the
  // value the function returned with request 11, or .T. when it returned
  // none; an error raised during the call makes the call fail.
  bool Call(const FunctionInfo& function, const std::vector<Value>& args, Value* result,
            HostError* error);
  // Runs every function of the table with the given parameterCount
  // (kParameterCountRunAtLoad or kParameterCountRunAtUnload), in table
  // order; reports their errors through the services.
  void RunMarked(int16_t parameterCount);

  // True while a call is in progress (possibly nested).
  bool busy() const { return !frames_.empty(); }

  // Handles one host request; called by the host callback.
  void OnRequest(RequestRecord* record);

 private:
  struct Frame {
    bool hasResult = false;
    Value result;
    bool hasError = false;
    HostError error;
  };
  using DispatchFunction = uint32_t(__fastcall*)(void*);

  LinkLibrary(UniqueModule module, DispatchFunction dispatch, HostTables& tables,
              HostServices& services);
  bool Initialise(HostError* error);
  void RaiseError(const HostError& error);
  void TakeReturnValue(uint32_t address);

  UniqueModule module_;
  DispatchFunction dispatch_;
  HostTables& tables_;
  HostServices& services_;
  std::vector<FunctionInfo> functions_;
  std::vector<Frame> frames_;
};

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_FLL_HOST_LINK_LIBRARY_WIN_H_
