#include "cli/listen_session.h"

#include "cli/command_line.h"
#include "common/text.h"

namespace zanvor {

int ListenSession::IndexOf(const std::string& name) const {
  for (size_t i = 0; i < names_.size(); ++i) {
    if (names_[i] == name) return static_cast<int>(i);
  }
  return -1;
}

bool ListenSession::OnMessage(size_t index, const std::string& message, int64_t unixMilliseconds) {
  if (index >= names_.size() || done()) return false;
  ++received_;
  if (json_) {
    out_.Out(JsonObject()
                 .Add("name", names_[index])
                 .Add("message", message)
                 .Add("arrived", UtcTimestamp(unixMilliseconds))
                 .Text());
  } else {
    out_.Out(MessageLine(names_[index], message));
  }
  return true;
}

void ListenSession::OnTextsDropped(uint32_t total) {
  if (total <= droppedSeen_) return;
  const uint32_t lost = total - droppedSeen_;
  droppedSeen_ = total;
  out_.Err("zanvor: warning: " + std::to_string(lost) + (lost == 1 ? " text" : " texts") +
           " for this listener were overwritten in the machine's ring before it read them (" +
           std::to_string(total) +
           " since it started); their messages are lost: the posts came faster than this "
           "listener could print them");
}

std::string ListenSession::ReadyLine() const {
  std::string line = "zanvor: listening to ";
  for (size_t i = 0; i < names_.size(); ++i) {
    if (i > 0) line += ", ";
    line += EscapeForLine(names_[i]);
  }
  return line + " (Ctrl+C ends)";
}

int ListenSession::Finish(bool timedOut, double timeoutSeconds) {
  if (!timedOut || count_ == 0 || received_ >= count_) return kExitSuccess;
  out_.Err("zanvor: listen timed out after " + FormatNumber(timeoutSeconds) + " s with " +
           std::to_string(received_) + " of " + std::to_string(count_) +
           " messages; check the posters with zanvor status, or give a longer --timeout");
  return kExitFailure;
}

}  // namespace zanvor
