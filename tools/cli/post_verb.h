// zanvor post behind two seams, the poster (an instance of the library, or
// the UDP path) and the source of the messages (the command line, or
// standard input), so that the verb's rules hold alike on every platform.
#ifndef ZANVOR_TOOLS_CLI_POST_VERB_H_
#define ZANVOR_TOOLS_CLI_POST_VERB_H_

#include <string>

#include "cli/command_line.h"
#include "cli/text_output.h"

namespace zanvor {

class MessagePoster {
 public:
  virtual ~MessagePoster() = default;
  // One post; false with the reason (one line) on failure.
  virtual bool Post(const std::string& name, const std::string& message, std::string* error) = 0;
};

class MessageSource {
 public:
  virtual ~MessageSource() = default;
  // The next message; false at the end of the messages.
  virtual bool Next(std::string* message) = 0;
};

// The arguments checked as ZANVOR and ZANVOR_LOCAL check them (the name,
// and a message given on the command line): "" or the library's own text.
// A failed check is a usage error (post's rule for its arguments applies it):
// nothing is posted.
std::string CheckPostArguments(const VerbOptions& options);

// The message that MESSAGE "-" without --lines posts: all of the input, one
// final LF or CR LF dropped (what echo and an editor put there).
std::string WholeInputMessage(std::string input);

// Posts every message of `source` under options.name, in order, and prints
// one JSON object per post with --json. Stops at the first failure, which
// it reports on standard error. Returns the exit code.
int PostMessages(const VerbOptions& options, MessageSource& source, MessagePoster& poster,
                 ToolOutput& out);

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_CLI_POST_VERB_H_
