// zanvor post and zanvor listen on Windows: the tool's own instance calls
// ZANVOR, ZANVOR_LOCAL and SUBSCRIBE as a FoxPro program calls them.
#include <windows.h>

#include <string>
#include <vector>

#include "cli/clock.h"
#include "cli/listen_session.h"
#include "cli/post_verb.h"
#include "cli/verb_session_win.h"
#include "cli/verbs_win.h"
#include "commands/arg_checks.h"
#include "commands/instance_env_win.h"
#include "commands/status_report.h"
#include "common/text.h"
#include "contract/network.h"
#include "fll_host/console_events_win.h"
#include "fll_host/line_source_win.h"
#include "fll_host/main_window_win.h"

namespace zanvor {
namespace {

// The procedure of the listener's handlers, "DO ZanvorListen WITH n, <Msg>":
// n is the name's index, since a handler (64 characters) cannot hold every
// name (64 characters themselves).
constexpr char kListenProcedure[] = "ZanvorListen";
// How often a listener asks its own instance how many texts it lost.
constexpr DWORD kDroppedCheckMs = 2000;

std::string ReadAllInput() {
  std::string all;
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got > 0) all.append(buffer, got);
  return all;
}

// The message of the command line or of the whole input, read before the
// library is loaded (so that the instance does not sit unpumped meanwhile),
// or the input's lines as they arrive, with the messages pumped while
// waiting for them.
class WinMessages final : public MessageSource {
 public:
  explicit WinMessages(const VerbOptions& options) : options_(options) {}

  bool Prepare(std::string* error) {
    if (!options_.messageFromInput) {
      single_ = options_.message;
    } else if (!options_.lines) {
      single_ = WholeInputMessage(ReadAllInput());
    } else {
      lines_ = OpenStandardInput(error);
      return lines_ != nullptr;
    }
    return true;
  }

  bool Next(std::string* message) override {
    if (lines_ == nullptr) {
      if (taken_) return false;
      taken_ = true;
      *message = single_;
      return true;
    }
    for (;;) {
      const LineSource::Status status = lines_->TryNext(message);
      if (status == LineSource::Status::kLine) return true;
      if (status == LineSource::Status::kEnd || Interrupted()) return false;
      PumpMessages();
      const HANDLE ready = lines_->ready_event();
      MsgWaitForMultipleObjectsEx(1, &ready, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
  }

 private:
  const VerbOptions& options_;
  std::string single_;
  bool taken_ = false;
  std::unique_ptr<LineSource> lines_;
};

class InstancePoster final : public MessagePoster {
 public:
  InstancePoster(ToolInstance& instance, bool local) : instance_(instance), local_(local) {}

  bool Post(const std::string& name, const std::string& message, std::string* error) override {
    const bool posted = instance_.Call(local_ ? "ZANVOR_LOCAL" : "ZANVOR", {name, message}, error);
    if (!posted && error->rfind(kSendErrorText, 0) == 0) {
      *error += " (neither network path took the datagram; zanvor doctor shows why)";
    }
    // The instance's own messages keep flowing between posts.
    PumpMessages();
    return posted;
  }

 private:
  ToolInstance& instance_;
  bool local_;
};

}  // namespace

int RunPostVerb(const Invocation& invocation, ToolOutput& out) {
  const VerbOptions& options = invocation.options;
  WinMessages messages(options);
  std::string error;
  if (!messages.Prepare(&error)) {
    out.Err("zanvor: " + error);
    return kExitFailure;
  }
  VerbSession session;
  const int opened = OpenVerbSession(options, true, out, &session);
  if (opened != kExitSuccess) return opened;
  InstancePoster poster(*session.instance, options.local);
  int code = PostMessages(options, messages, poster, out);
  // After a Ctrl+C no answer is waited for: the wait would end at once and
  // blame the server.
  if (code == kExitSuccess && options.local && !Interrupted()) {
    // A ZANVOR_LOCAL made before the instance knew its server is held until
    // the server's reply; once the tool's own query is answered, that reply
    // has been handled and the post handed on.
    const DWORD wait = TimeoutMilliseconds(options, kDefaultServerWaitSeconds);
    const HWND server = session.probe->FindServer(wait);
    if (server == nullptr) {
      out.Err("zanvor: no server instance answered within " + FormatNumber(wait / 1000.0) +
              " s, so the post reached nobody; zanvor status shows the machine's instances");
      code = kExitFailure;
    } else if (server == session.instance->window()) {
      out.Err(
          "zanvor: warning: no other program has zanvor.fll loaded on this machine, so nobody "
          "received the post");
    }
  }
  session.instance->Unload();
  return code;
}

int RunListenVerb(const Invocation& invocation, ToolOutput& out) {
  const VerbOptions& options = invocation.options;
  for (const std::string& name : options.names) {
    const std::string problem = CheckSubscribableName(name);
    if (!problem.empty()) {
      out.Err("zanvor: cannot listen to \"" + EscapeForLine(name) + "\": " + problem +
              " (see zanvor listen --help)");
      return kExitUsage;
    }
  }
  VerbSession session;
  const int opened = OpenVerbSession(options, true, out, &session);
  if (opened != kExitSuccess) return opened;
  ToolInstance& instance = *session.instance;
  ListenSession listen(options.names, options.count, options.json, out);
  instance.OnProcedure([&](const std::string& name, const std::vector<Value>& args) {
    if (AsciiUpper(name) == AsciiUpper(kListenProcedure) && args.size() == 2 &&
        args[0].is_number() && args[1].is_string() && args[0].number >= 0) {
      listen.OnMessage(static_cast<size_t>(args[0].number), args[1].text, UnixMilliseconds());
    }
  });
  for (size_t i = 0; i < options.names.size(); ++i) {
    std::string error;
    const std::string handler =
        std::string("DO ") + kListenProcedure + " WITH " + std::to_string(i) + ", <Msg>";
    if (!instance.Call("SUBSCRIBE", {options.names[i], handler}, &error)) {
      out.Err("zanvor: cannot listen to \"" + EscapeForLine(options.names[i]) + "\": " + error);
      return kExitFailure;
    }
  }
  // Two rounds: the first answer comes after the instance has learnt its
  // server (and posted its registrations), the second after the server has
  // handled them. Only then may a post under the names be expected here.
  const DWORD settle = TimeoutMilliseconds(VerbOptions(), kDefaultServerWaitSeconds);
  if ((session.probe->FindServer(settle) == nullptr ||
       session.probe->FindServer(settle) == nullptr) &&
      !Interrupted()) {
    out.Err("zanvor: warning: no server instance answered; messages arrive once one does");
  }
  out.Err(listen.ReadyLine());

  bool askDropped = true;
  auto checkDropped = [&] {
    if (!askDropped) return;
    StatusReport report;
    // An older library does not answer; it is not asked again.
    askDropped = session.probe->RequestStatus(instance.window(), 1000, &report) ==
                 MachineProbe::StatusResult::kRead;
    if (askDropped) listen.OnTextsDropped(report.instance.textsDropped);
  };
  const bool limited = options.timeoutSeconds > 0;
  const double deadline = MonotonicMilliseconds() + options.timeoutSeconds * 1000;
  bool timedOut = false;
  while (!listen.done() && !Interrupted()) {
    DWORD slice = kDroppedCheckMs;
    if (limited) {
      const double left = deadline - MonotonicMilliseconds();
      if (left <= 0) {
        timedOut = true;
        break;
      }
      if (left < slice) slice = static_cast<DWORD>(left) + 1;
    }
    if (PumpUntil([&] { return listen.done() || Interrupted(); }, slice)) break;
    checkDropped();
  }
  checkDropped();
  for (const std::string& name : options.names) {
    std::string ignored;
    instance.Call("UNSUBSCRIBE", {name}, &ignored);
  }
  instance.Unload();
  return listen.Finish(timedOut, options.timeoutSeconds);
}

}  // namespace zanvor
