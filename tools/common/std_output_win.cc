#include "common/std_output_win.h"

#include <windows.h>

namespace zanvor {
namespace {

void WriteAll(DWORD which, const std::string& line) {
  const std::string data = line + "\n";
  const HANDLE handle = GetStdHandle(which);
  size_t done = 0;
  while (done < data.size()) {
    DWORD wrote = 0;
    if (!WriteFile(handle, data.data() + done, static_cast<DWORD>(data.size() - done), &wrote,
                   nullptr) ||
        wrote == 0) {
      return;  // the reader went away; nothing useful is left to do
    }
    done += wrote;
  }
}

}  // namespace

void WriteStdout(const std::string& line) { WriteAll(STD_OUTPUT_HANDLE, line); }
void WriteStderr(const std::string& line) { WriteAll(STD_ERROR_HANDLE, line); }

}  // namespace zanvor
