#include "cli/tool_instance_win.h"

#include "fll_host/console_events_win.h"
#include "fll_host/output_lines.h"

namespace zanvor {

std::string LibraryBesideTool() { return FileBesideProgram("zanvor.fll"); }

std::unique_ptr<ToolInstance> ToolInstance::Create(NetworkAttachment& network, ToolOutput& out,
                                                   std::string* error) {
  std::unique_ptr<MainWindow> window = MainWindow::Create(error);
  if (window == nullptr) return nullptr;
  return std::unique_ptr<ToolInstance>(new ToolInstance(std::move(window), network, out));
}

ToolInstance::ToolInstance(std::unique_ptr<MainWindow> window, NetworkAttachment& network,
                           ToolOutput& out)
    : LibraryHost(
          std::move(window), network, UnloadCheck::kAnyOtherProcedure,
          [&out](const std::string& line) { out.Err(line); },
          [&out](const std::string& line) { out.Err(line); }),
      out_(out) {}

ToolInstance::~ToolInstance() { UnloadLibrary(); }

bool ToolInstance::Load(const std::string& path, std::string* error) {
  HostError hostError;
  if (!SetLibrary(path, &hostError)) {
    *error = SingleLine(hostError.text) +
             " (put zanvor.fll beside zanvor.exe, or give its path with --library FILE)";
    return false;
  }
  return true;
}

bool ToolInstance::Call(const std::string& function, const std::vector<std::string>& args,
                        std::string* error) {
  std::vector<Value> values;
  for (const std::string& arg : args) values.push_back(Value::String(arg));
  Value result;
  HostError hostError;
  if (!CallLibraryFunction(function, values, &result, &hostError)) {
    *error = SingleLine(hostError.number == 0 ? hostError.text : HostErrorText(hostError.number));
    return false;
  }
  return true;
}

void ToolInstance::ReportError(const HostError& error) {
  out_.Err("zanvor: " + SingleLine(error.number == 0 ? error.text : HostErrorText(error.number)));
}

HostError ToolInstance::UnknownFunction(const std::string& name) {
  return HostError::Text("The library has no function " + name + ".");
}

bool ToolInstance::SetLibrary(const std::string& path, HostError* error) {
  if (library() != nullptr) {
    *error = HostError::Text("A library is loaded already.");
    return false;
  }
  if (!BeginLibraryLoaded()) {
    *error = HostError::Text("Interrupted before the library was loaded.");
    return false;
  }
  if (!OpenLibrary(path, error)) {
    EndLibraryLoaded();
    return false;
  }
  return true;
}

void ToolInstance::OnLibraryUnloaded() { EndLibraryLoaded(); }

bool ToolInstance::ReleaseLibrary(HostError* error) {
  *error = HostError::Text("Handler commands cannot release the library here.");
  return false;
}

bool ToolInstance::ListFunctions(HostError* error) {
  *error = HostError::Text("LIST FUNCTIONS is for zanvor run.");
  return false;
}

void ToolInstance::RunProcedure(const std::string& name, const std::vector<Value>& args) {
  if (procedure_) {
    procedure_(name, args);
  } else {
    out_.Err("zanvor: a handler ran " + DoLine(name, args));
  }
}

void ToolInstance::ShowMessageBox(const std::string& text, const std::string& title, double) {
  out_.Err("zanvor: " + (title.empty() ? std::string() : title + ": ") + SingleLine(text));
}

}  // namespace zanvor
