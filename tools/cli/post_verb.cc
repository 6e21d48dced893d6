#include "cli/post_verb.h"

#include "commands/arg_checks.h"

namespace zanvor {

std::string CheckPostArguments(const VerbOptions& options) {
  if (options.messageFromInput) return CheckSubscribableName(options.name);
  std::string text;
  return CheckPostText(options.name, options.message, &text);
}

std::string WholeInputMessage(std::string input) {
  if (!input.empty() && input.back() == '\n') {
    input.pop_back();
    if (!input.empty() && input.back() == '\r') input.pop_back();
  }
  return input;
}

int PostMessages(const VerbOptions& options, MessageSource& source, MessagePoster& poster,
                 ToolOutput& out) {
  const char* scope = options.local ? "local" : "network";
  std::string message;
  for (uint64_t number = 1; source.Next(&message); ++number) {
    std::string error;
    if (!poster.Post(options.name, message, &error)) {
      const std::string where = options.lines ? "line " + std::to_string(number) + ": " : "";
      out.Err("zanvor: post failed: " + where + error);
      return kExitFailure;
    }
    if (options.json) {
      out.Out(JsonObject()
                  .Add("name", options.name)
                  .Add("message", message)
                  .Add("scope", scope)
                  .Text());
    }
  }
  return kExitSuccess;
}

}  // namespace zanvor
