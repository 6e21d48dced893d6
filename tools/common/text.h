// Text helpers every part of the tools writes with: JSON strings, plain
// escaped lines, single-line error texts and ASCII letter case. Portable and
// tested natively.
#ifndef ZANVOR_TOOLS_COMMON_TEXT_H_
#define ZANVOR_TOOLS_COMMON_TEXT_H_

#include <string>

namespace zanvor {

// A JSON string literal in which every byte stands for one code point (bytes
// 0x80 and above as \u00XX), so a reader decoding the line as Latin-1 gets
// the exact bytes back.
std::string JsonString(const std::string& bytes);

// Integral values without a fraction; others with enough digits to read the
// same double back.
std::string FormatNumber(double n);

// A text on one plain line: "\\", "\"", tab, CR and LF as \\ \" \t \r \n,
// other control bytes (below 0x20, and 0x7F) as \xNN. Bytes from 0x80 on
// stay as they are: they are the code page's characters.
std::string EscapeForLine(const std::string& bytes);

// A text made one line for an error message: every run of CR and LF becomes
// one blank, and blanks at either end go.
std::string SingleLine(const std::string& text);

// Upper-cases ASCII letters only; other bytes (the code page's letters
// included) are left alone.
char AsciiUpper(char c);
std::string AsciiUpper(const std::string& s);

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_COMMON_TEXT_H_
