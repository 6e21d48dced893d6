// Tokens of one command line. String literals are written between "...",
// '...' or [...] with no escapes inside (as in FoxPro), at most
// kMaxLiteralBytes bytes; "&&" outside a literal starts a comment that runs
// to the end of the line.
#ifndef ZANVOR_TOOLS_FLL_HOST_LEXER_H_
#define ZANVOR_TOOLS_FLL_HOST_LEXER_H_

#include <cstddef>
#include <string>

#include "common/text.h"

namespace zanvor {

constexpr size_t kMaxLiteralBytes = 255;

struct Token {
  enum class Type { kEnd, kName, kString, kNumber, kLogical, kSymbol, kError };

  Type type = Type::kEnd;
  std::string text;  // name as written, literal contents, symbol, or error message
  double number = 0;
  bool logical = false;
  size_t position = 0;  // byte offset of the token in the line
};

class Lexer {
 public:
  // REQUIRES: `line` outlives the lexer.
  explicit Lexer(const std::string& line, size_t start = 0) : line_(line), pos_(start) {}

  Token Next();
  Token Peek();
  // Offset just past the last token taken (whitespace not skipped).
  size_t position() const { return pos_; }
  // The rest of the line from the current position, comment removed and
  // surrounding blanks trimmed.
  std::string Rest();

 private:
  void SkipBlanks();
  bool AtComment() const;

  const std::string& line_;
  size_t pos_;
};

// True when `word` names `keyword` (given in upper case): the whole keyword,
// or an abbreviation of at least four letters, in any letter case.
bool MatchesKeyword(const std::string& word, const char* keyword);

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_FLL_HOST_LEXER_H_
