#include "fll_host/line_source_win.h"

#include <utility>

#include "common/line_splitter.h"
#include "fll_host/program_text.h"

namespace zanvor {
namespace {

class FileLines final : public LineSource {
 public:
  explicit FileLines(std::vector<std::string> lines) : lines_(std::move(lines)) {}

  Status TryNext(std::string* line) override {
    if (next_ == lines_.size()) return Status::kEnd;
    *line = std::move(lines_[next_++]);
    return Status::kLine;
  }
  HANDLE ready_event() override { return nullptr; }

 private:
  std::vector<std::string> lines_;
  size_t next_ = 0;
};

// Shared by the reader thread and the StdinLines object: the thread may
// still be blocked in ReadFile when the host exits (process exit ends it),
// so each side holds a reference and the last one frees the queue.
struct StdinQueue {
  std::mutex mutex;
  std::deque<std::string> lines;
  bool ended = false;
  UniqueHandle ready;  // manual-reset: set while lines or the end wait
};

// Reads until end of input, handing complete lines to the queue.
void ReadLines(StdinQueue& queue) {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  LineSplitter splitter;
  std::vector<std::string> lines;
  char buffer[4096];
  for (;;) {
    DWORD got = 0;
    const BOOL ok = ReadFile(input, buffer, sizeof buffer, &got, nullptr);
    const bool ended = !ok || got == 0;
    lines.clear();
    if (ended) {
      splitter.Finish(&lines);
    } else {
      splitter.Feed(buffer, got, &lines);
    }
    std::lock_guard<std::mutex> lock(queue.mutex);
    for (std::string& line : lines) queue.lines.push_back(std::move(line));
    if (ended) queue.ended = true;
    if (!queue.lines.empty() || queue.ended) SetEvent(queue.ready.get());
    if (ended) return;
  }
}

DWORD WINAPI ReadStandardInput(void* parameter) {
  const std::unique_ptr<std::shared_ptr<StdinQueue>> reference(
      static_cast<std::shared_ptr<StdinQueue>*>(parameter));
  StdinQueue& queue = **reference;
  // The thread's start routine is called by Windows: nothing may escape.
  try {
    ReadLines(queue);
  } catch (...) {
    // Out of memory: the input ends here, and the host finishes normally.
    std::lock_guard<std::mutex> lock(queue.mutex);
    queue.ended = true;
    SetEvent(queue.ready.get());
  }
  return 0;
}

class StdinLines final : public LineSource {
 public:
  explicit StdinLines(std::shared_ptr<StdinQueue> queue) : queue_(std::move(queue)) {}

  Status TryNext(std::string* line) override {
    std::lock_guard<std::mutex> lock(queue_->mutex);
    if (!queue_->lines.empty()) {
      *line = std::move(queue_->lines.front());
      queue_->lines.pop_front();
      if (queue_->lines.empty() && !queue_->ended) ResetEvent(queue_->ready.get());
      return Status::kLine;
    }
    return queue_->ended ? Status::kEnd : Status::kWaiting;
  }
  HANDLE ready_event() override { return queue_->ready.get(); }

 private:
  std::shared_ptr<StdinQueue> queue_;
};

}  // namespace

std::unique_ptr<LineSource> OpenScriptFile(const std::string& path, std::string* error) {
  UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    *error = "Cannot open " + path + ": error " + std::to_string(GetLastError());
    return nullptr;
  }
  LineSplitter splitter;
  std::vector<std::string> lines;
  char buffer[4096];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
      *error = "Cannot read " + path + ": error " + std::to_string(GetLastError());
      return nullptr;
    }
    if (got == 0) break;
    splitter.Feed(buffer, got, &lines);
  }
  splitter.Finish(&lines);
  return std::unique_ptr<LineSource>(new FileLines(ProceduresFirst(lines)));
}

std::unique_ptr<LineSource> OpenStandardInput(std::string* error) {
  auto queue = std::make_shared<StdinQueue>();
  queue->ready.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!queue->ready) {
    *error = "CreateEventA failed: error " + std::to_string(GetLastError());
    return nullptr;
  }
  auto threadReference = std::make_unique<std::shared_ptr<StdinQueue>>(queue);
  UniqueHandle thread(
      CreateThread(nullptr, 0, &ReadStandardInput, threadReference.get(), 0, nullptr));
  if (!thread) {
    *error = "CreateThread failed: error " + std::to_string(GetLastError());
    return nullptr;
  }
  threadReference.release();  // the thread owns it now
  // The thread runs on its own; its handle is not needed.
  return std::unique_ptr<LineSource>(new StdinLines(std::move(queue)));
}

}  // namespace zanvor
