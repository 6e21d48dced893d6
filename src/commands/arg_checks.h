// The argument checks the host-callable commands share. Each returns the
// exact user-error text, or "" when the arguments are fine; the caller raises
// the text as a host error.
#ifndef ZANVOR_COMMANDS_ARG_CHECKS_H_
#define ZANVOR_COMMANDS_ARG_CHECKS_H_

#include <cstddef>
#include <string>

#include "commands/multibyte_search.h"
#include "registry/subscription_table.h"

namespace zanvor {

constexpr size_t kMaxMessageLength = 300;
// The longest name:message text a post carries.
constexpr size_t kMaxPostText = kMaxNameLength + 1 + kMaxMessageLength;

// "Subscription name is empty." or "Subscription name is too long. 64 chars
// is max.".
std::string CheckSubscriptionName(const std::string& name);

// CheckSubscriptionName, then "Subscription name cannot contain a colon.":
// the check of every name that a text is posted or subscribed under. The
// name:message text is split at its first ":", so a name holding one could
// never receive its own posts, and its posts would reach another name.
std::string CheckSubscribableName(const std::string& name);

// The keyword test comes first, so an over-long handler without "<Msg>"
// reports the missing keyword.
std::string CheckHandler(const std::string& handler, LeadByteTest isLeadByte = nullptr);

// "Message is too long. 300 chars is max.".
std::string MessageTooLongText();

// Runs CheckSubscribableName, then "Message is too long. 300 chars is max."
// for a message of more than kMaxMessageLength bytes, and builds *text =
// name ":" message. Both limits count the parameters' own bytes, whatever
// the code page, so an accepted text is never longer than kMaxPostText.
// *text is set only when "" is returned.
std::string CheckPostText(const std::string& name, const std::string& message, std::string* text);

}  // namespace zanvor

#endif  // ZANVOR_COMMANDS_ARG_CHECKS_H_
