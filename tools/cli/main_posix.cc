// zanvor, the native build: post and listen over the UDP path, and gateway.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "cli/clock.h"
#include "cli/command_line.h"
#include "cli/listen_session.h"
#include "cli/post_verb.h"
#include "cli/text_output.h"
#include "cli/udp_datagrams.h"
#include "common/line_splitter.h"
#include "gateway/gateway_run_posix.h"
#include "messaging/udp_path_posix.h"

namespace zanvor {
namespace {

volatile sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) { g_interrupted = 1; }

// Without SA_RESTART, so that a Ctrl+C wakes poll and read at once.
void CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = &OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void WriteLine(int fd, const std::string& line) {
  const std::string data = line + "\n";
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the reader went away
    done += static_cast<size_t>(n);
  }
}

class StdOutput final : public ToolOutput {
 public:
  void Out(const std::string& line) override { WriteLine(STDOUT_FILENO, line); }
  void Err(const std::string& line) override { WriteLine(STDERR_FILENO, line); }
};

// The message of the command line, all of standard input, or its lines as
// they arrive.
class PosixMessages final : public MessageSource {
 public:
  explicit PosixMessages(const VerbOptions& options) : options_(options) {}

  bool Next(std::string* message) override {
    if (!options_.messageFromInput) return TakeOnce(options_.message, message);
    if (!options_.lines) {
      std::string all;
      char buffer[4096];
      ssize_t n;
      while ((n = Read(buffer, sizeof buffer)) > 0) all.append(buffer, static_cast<size_t>(n));
      return TakeOnce(WholeInputMessage(all), message);
    }
    while (lines_.empty() && !ended_) {
      char buffer[4096];
      const ssize_t n = Read(buffer, sizeof buffer);
      std::vector<std::string> lines;
      if (n <= 0) {
        splitter_.Finish(&lines);
        ended_ = true;
      } else {
        splitter_.Feed(buffer, static_cast<size_t>(n), &lines);
      }
      lines_.insert(lines_.end(), lines.begin(), lines.end());
    }
    if (lines_.empty()) return false;
    *message = std::move(lines_.front());
    lines_.pop_front();
    return true;
  }

 private:
  bool TakeOnce(const std::string& text, std::string* message) {
    if (taken_) return false;
    taken_ = true;
    *message = text;
    return true;
  }
  // A Ctrl+C ends the input like its end.
  ssize_t Read(char* buffer, size_t size) {
    for (;;) {
      if (g_interrupted) return 0;
      const ssize_t n = read(STDIN_FILENO, buffer, size);
      if (n < 0 && errno == EINTR) continue;
      return n;
    }
  }

  const VerbOptions& options_;
  bool taken_ = false;
  LineSplitter splitter_;
  std::deque<std::string> lines_;
  bool ended_ = false;
};

class UdpPoster final : public MessagePoster {
 public:
  bool Post(const std::string& name, const std::string& message, std::string* error) override {
    uint8_t id[kPacketIdSize];
    MakePacketId(id);
    std::vector<uint8_t> datagram;
    if (!MakePostDatagram(name, message, id, TickCount(), &datagram, error)) return false;
    if (!socket_) {
      socket_ = OpenPostingSocket(error);
      if (!socket_) return false;
    }
    if (SendToTargets(socket_.get(), datagram, BroadcastTargets(UpAdapterAddresses()), error)) {
      return true;
    }
    *error = "no address took the datagram (" + *error + ")";
    return false;
  }

 private:
  // Never port 38217: gateways publish no datagram from it.
  UniqueFd socket_;
};

int Post(const Invocation& invocation, ToolOutput& out) {
  const VerbOptions& options = invocation.options;
  CatchInterrupts();
  PosixMessages messages(options);
  UdpPoster poster;
  return PostMessages(options, messages, poster, out);
}

int Listen(const Invocation& invocation, ToolOutput& out) {
  const VerbOptions& options = invocation.options;
  std::string error;
  UniqueFd socket = OpenListeningSocket(&error);
  if (!socket) {
    out.Err("zanvor: " + error + " (is another program holding the port exclusively?)");
    return kExitFailure;
  }
  CatchInterrupts();
  ListenSession session(options.names, options.count, options.json, out);
  DatagramListener listener(session, &UnixMilliseconds);
  out.Err(session.ReadyLine());
  const bool limited = options.timeoutSeconds > 0;
  const double deadline = MonotonicMilliseconds() + options.timeoutSeconds * 1000;
  bool timedOut = false;
  while (!session.done() && !g_interrupted) {
    int wait = -1;
    if (limited) {
      const double left = deadline - MonotonicMilliseconds();
      if (left <= 0) {
        timedOut = true;
        break;
      }
      // Rounded up: a poll that ends before the deadline would only spin.
      wait = left > 60000 ? 60000 : static_cast<int>(std::ceil(left));
    }
    pollfd readable{socket.get(), POLLIN, 0};
    const int ready = poll(&readable, 1, wait);
    if (ready < 0 && errno != EINTR) {
      out.Err("zanvor: " + std::string("poll failed: ") + std::strerror(errno));
      return kExitFailure;
    }
    if (ready <= 0) continue;
    uint8_t buffer[kPacketBufferSize];
    // MSG_TRUNC: the datagram's real size, so that one larger than the
    // buffer is dropped as the server drops it, not read cut short.
    const ssize_t n = recv(socket.get(), buffer, sizeof buffer, MSG_TRUNC | MSG_DONTWAIT);
    if (n < 0 || static_cast<size_t>(n) > sizeof buffer) continue;
    listener.OnDatagram(buffer, static_cast<uint32_t>(n));
  }
  return session.Finish(timedOut, options.timeoutSeconds);
}

int Gateway(const Invocation& invocation, ToolOutput& out) {
  return RunGateway(
      invocation.options.gateway, invocation.options.json,
      [&out](const std::string& line) { out.Out(line); },
      [&out](const std::string& line) { out.Err(line); });
}

int Main(int argc, char** argv) {
  StdOutput out;
  return RunTool(argc, argv, ToolCapabilities{false},
                 {{Verb::kPost, &Post}, {Verb::kListen, &Listen}, {Verb::kGateway, &Gateway}}, out);
}

}  // namespace
}  // namespace zanvor

int main(int argc, char** argv) { return zanvor::Main(argc, argv); }
