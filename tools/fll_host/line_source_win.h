// Where the host's script lines come from: a file read at once, or standard
// input read by a thread of its own, so that the main thread keeps pumping
// window messages while it waits for the next line.
#ifndef ZANVOR_TOOLS_FLL_HOST_LINE_SOURCE_WIN_H_
#define ZANVOR_TOOLS_FLL_HOST_LINE_SOURCE_WIN_H_

#include <windows.h>

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/unique_handle_win.h"

namespace zanvor {

class LineSource {
 public:
  enum class Status { kLine, kWaiting, kEnd };

  virtual ~LineSource() = default;
  // Takes the next line if one is there; never blocks.
  virtual Status TryNext(std::string* line) = 0;
  // Signalled while TryNext has something to give (a line or the end); null
  // for sources that never make the caller wait.
  virtual HANDLE ready_event() = 0;
};

// All lines of a script file, read up front; null with *error on failure.
std::unique_ptr<LineSource> OpenScriptFile(const std::string& path, std::string* error);

// Lines of standard input as they arrive.
std::unique_ptr<LineSource> OpenStandardInput(std::string* error);

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_FLL_HOST_LINE_SOURCE_WIN_H_
