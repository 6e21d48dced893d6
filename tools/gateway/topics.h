// How a post's name becomes an MQTT topic and back, and which names a
// gateway's --names filters take. Topics hold the name in UTF-8 after the
// prefix; the bytes MQTT gives a meaning to (the wildcards "+" and "#"),
// the escape byte "%" itself and the control characters MQTT asks clients
// not to put in topics are written as %XX, so that every name has exactly
// one topic and every topic at most one name. "/" stays: "orders/eu" is two
// topic levels, and filters can pick either.
#ifndef ZANVOR_TOOLS_GATEWAY_TOPICS_H_
#define ZANVOR_TOOLS_GATEWAY_TOPICS_H_

#include <string>

namespace zanvor {

// The topic levels of a UTF-8 name: "%", "+", "#" and every character below
// U+0020 or from U+007F to U+009F as "%XX" (uppercase hex) per UTF-8 byte.
// REQUIRES: utf8 is valid UTF-8 (what the charset conversion gives).
std::string EscapeTopicName(const std::string& utf8);

// The bytes of the name a topic (after the prefix) stands for: "%XX" in
// either case becomes its byte. False when a "%" is not followed by two hex
// digits.
bool UnescapeTopicName(const std::string& topicName, std::string* bytes);

// Whether `filter` is an MQTT topic filter a gateway may subscribe: not
// empty, "#" only as the whole last level, "+" only as a whole level.
bool IsValidTopicFilter(const std::string& filter);

// Whether the topic name (after the prefix) matches the filter, as the
// broker matches them: "+" one level, a last "#" this level and every one
// below (so "orders/#" takes "orders" too).
// REQUIRES: IsValidTopicFilter(filter).
bool TopicMatchesFilter(const std::string& topicName, const std::string& filter);

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_GATEWAY_TOPICS_H_
