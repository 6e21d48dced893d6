// The argument checks the host-callable commands share. Each returns the
// exact user-error text, or "" when the arguments are fine; the caller raises
// the text as a host error.
#ifndef ZANVOR_COMMANDS_ARG_CHECKS_H_
#define ZANVOR_COMMANDS_ARG_CHECKS_H_

#include <cstddef>
#include <string>

#include "commands/multibyte_search.h"

namespace zanvor {

constexpr size_t kMaxMessageLength = 300;

// "Subscription name is empty." or "Subscription name is too long. 64 chars
// is max.".
std::string CheckSubscriptionName(const std::string& name);

// The keyword test comes first, so an over-long handler without "<Msg>"
// reports the missing keyword.
std::string CheckHandler(const std::string& handler, LeadByteTest isLeadByte = nullptr);

// Runs CheckSubscriptionName, then builds *text = name ":" message and
// checks the message limit, counted after the text's first ":" (so a ":"
// inside the name makes the rest of the name count as message, as the
// receivers will split it there). *text is set only when "" is returned.
std::string CheckPostText(const std::string& name, const std::string& message, std::string* text,
                          LeadByteTest isLeadByte = nullptr);

}  // namespace zanvor

#endif  // ZANVOR_COMMANDS_ARG_CHECKS_H_
