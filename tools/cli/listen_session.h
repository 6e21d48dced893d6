// What zanvor listen does with what arrives, on either platform: the names
// it listens to, one output line per message, --count, the exit code at the
// end and the warning about texts the machine's ring lost for it.
#ifndef ZANVOR_TOOLS_CLI_LISTEN_SESSION_H_
#define ZANVOR_TOOLS_CLI_LISTEN_SESSION_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "cli/text_output.h"

namespace zanvor {

class ListenSession {
 public:
  // count 0: no limit. REQUIRES: out outlives the session.
  ListenSession(std::vector<std::string> names, uint64_t count, bool json, ToolOutput& out)
      : names_(std::move(names)), count_(count), json_(json), out_(out) {}
  ListenSession(const ListenSession&) = delete;
  ListenSession& operator=(const ListenSession&) = delete;

  const std::vector<std::string>& names() const { return names_; }
  // The index of `name` (compared byte for byte, as the library does) or -1.
  int IndexOf(const std::string& name) const;

  // Prints one message that arrived under names()[index], unless --count
  // messages were printed already (a burst may bring more before the
  // listener stops). Returns whether it was printed.
  bool OnMessage(size_t index, const std::string& message, int64_t unixMilliseconds);
  bool done() const { return count_ != 0 && received_ >= count_; }
  uint64_t received() const { return received_; }

  // The instance's running count of texts handed to it that it could not
  // read; a warning goes to standard error whenever it grew.
  void OnTextsDropped(uint32_t total);

  // The line for standard error once every name is subscribed.
  std::string ReadyLine() const;

  // The exit code once the listener stops: a failure, with its reason on
  // standard error, only when the time ran out before --count messages.
  int Finish(bool timedOut, double timeoutSeconds);

 private:
  std::vector<std::string> names_;
  uint64_t count_;
  bool json_;
  ToolOutput& out_;
  uint64_t received_ = 0;
  uint32_t droppedSeen_ = 0;
};

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_CLI_LISTEN_SESSION_H_
