// Searching byte strings in the host's ANSI code page. In a double-byte code
// page a lead byte and the byte after it form one character, so a match may
// only start on a character boundary: the byte after a lead byte is never the
// start of "<Msg>" or of a ":".
#ifndef ZANVOR_COMMANDS_MULTIBYTE_SEARCH_H_
#define ZANVOR_COMMANDS_MULTIBYTE_SEARCH_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace zanvor {

// True for a lead byte of the current code page; nullptr stands for a
// single-byte code page, where no byte is one.
using LeadByteTest = bool (*)(uint8_t);

// The position of the first occurrence of `needle` that starts on a character
// boundary, or std::string::npos. An empty needle is found at 0.
size_t FindMultibyte(const std::string& haystack, const std::string& needle,
                     LeadByteTest isLeadByte);

// Splits a name:message text at its first ":" byte, in every code page, as
// the network receivers on other machines do: names hold no 0x3A byte, and
// no double-byte code page takes 0x3A as a trail byte, so a name that ends in
// a lone lead byte (cut by LEFT()) still ends at the added ":". Without a ":"
// the name is empty and the message is the whole text.
void SplitNameMessage(const std::string& text, std::string* name, std::string* message);

}  // namespace zanvor

#endif  // ZANVOR_COMMANDS_MULTIBYTE_SEARCH_H_
