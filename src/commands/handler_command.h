// Turning a subscriber's handler expression and a message into the command
// the host executes: the first "<Msg>" becomes a host character expression
// whose value is exactly the message.
#ifndef ZANVOR_COMMANDS_HANDLER_COMMAND_H_
#define ZANVOR_COMMANDS_HANDLER_COMMAND_H_

#include <cstddef>
#include <string>

#include "commands/multibyte_search.h"

namespace zanvor {

constexpr char kMessageKeyword[] = "<Msg>";
// The longest string literal the host accepts.
constexpr size_t kMaxHostLiteral = 254;

// A host expression whose value is `message`. The plain form, the message
// between double quotes, is used when the message holds no double quote, CR,
// LF or "&" and fits one literal. Otherwise each of those four cut bytes
// becomes CHR(34), CHR(13), CHR(10) or CHR(38), every run of other bytes
// becomes literals of at most kMaxHostLiteral bytes (never splitting a
// double-byte character), and the parts are joined with "+". A literal never
// ends on a lone lead byte: the message's last byte, or the one before a cut
// byte, when it is a lead byte that begins no character, becomes CHR(n). No
// literal holds "&", so the host's macro substitution finds nothing in the
// expression. The empty message gives "".
std::string HostStringExpression(const std::string& message, LeadByteTest isLeadByte = nullptr);

// Builds the command from `handler` with its first "<Msg>" (found
// multibyte-aware) replaced by HostStringExpression(message); later keywords
// stay as they are. False, leaving *command alone, when the handler is empty
// or holds no keyword.
bool BuildHandlerCommand(const std::string& handler, const std::string& message,
                         std::string* command, LeadByteTest isLeadByte = nullptr);

}  // namespace zanvor

#endif  // ZANVOR_COMMANDS_HANDLER_COMMAND_H_
