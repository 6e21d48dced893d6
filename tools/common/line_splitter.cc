#include "common/line_splitter.h"

#include <utility>

namespace zanvor {

void LineSplitter::Feed(const char* data, size_t size, std::vector<std::string>* lines) {
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\n') {
      if (!pending_.empty() && pending_.back() == '\r') pending_.pop_back();
      lines->push_back(std::move(pending_));
      pending_.clear();
    } else {
      pending_ += data[i];
    }
  }
}

void LineSplitter::Finish(std::vector<std::string>* lines) {
  if (pending_.empty()) return;
  if (pending_.back() == '\r') pending_.pop_back();
  lines->push_back(std::move(pending_));
  pending_.clear();
}

}  // namespace zanvor
