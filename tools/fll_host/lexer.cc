#include "fll_host/lexer.h"

#include <cstdlib>
#include <cstring>

namespace zanvor {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsNameChar(char c) { return IsNameStart(c) || IsDigit(c); }

}  // namespace

bool MatchesKeyword(const std::string& word, const char* keyword) {
  const size_t length = std::strlen(keyword);
  if (word.empty() || word.size() > length) return false;
  if (word.size() < length && word.size() < 4) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    if (AsciiUpper(word[i]) != keyword[i]) return false;
  }
  return true;
}

void Lexer::SkipBlanks() {
  while (pos_ < line_.size() && IsBlank(line_[pos_])) ++pos_;
}

bool Lexer::AtComment() const {
  return pos_ + 1 < line_.size() && line_[pos_] == '&' && line_[pos_ + 1] == '&';
}

Token Lexer::Peek() {
  const size_t saved = pos_;
  Token token = Next();
  pos_ = saved;
  return token;
}

Token Lexer::Next() {
  SkipBlanks();
  Token token;
  token.position = pos_;
  if (pos_ >= line_.size() || AtComment()) {
    token.type = Token::Type::kEnd;
    return token;
  }
  const char c = line_[pos_];
  if (c == '"' || c == '\'' || c == '[') {
    const char close = c == '[' ? ']' : c;
    const size_t end = line_.find(close, pos_ + 1);
    if (end == std::string::npos) {
      token.type = Token::Type::kError;
      token.text = std::string("Missing closing ") + close + " of a string literal.";
      pos_ = line_.size();
      return token;
    }
    token.text = line_.substr(pos_ + 1, end - pos_ - 1);
    pos_ = end + 1;
    if (token.text.size() > kMaxLiteralBytes) {
      token.type = Token::Type::kError;
      token.text = "String literal longer than " + std::to_string(kMaxLiteralBytes) + " bytes.";
      return token;
    }
    token.type = Token::Type::kString;
    return token;
  }
  if (c == '.' && pos_ + 2 < line_.size() && line_[pos_ + 2] == '.') {
    const char letter = AsciiUpper(line_[pos_ + 1]);
    if (letter == 'T' || letter == 'F' || letter == 'Y' || letter == 'N') {
      token.type = Token::Type::kLogical;
      token.logical = letter == 'T' || letter == 'Y';
      token.text = line_.substr(pos_, 3);
      pos_ += 3;
      return token;
    }
  }
  if (IsDigit(c) || (c == '.' && pos_ + 1 < line_.size() && IsDigit(line_[pos_ + 1]))) {
    size_t end = pos_;
    while (end < line_.size() && IsDigit(line_[end])) ++end;
    if (end < line_.size() && line_[end] == '.') {
      ++end;
      while (end < line_.size() && IsDigit(line_[end])) ++end;
    }
    token.type = Token::Type::kNumber;
    token.text = line_.substr(pos_, end - pos_);
    token.number = std::strtod(token.text.c_str(), nullptr);
    pos_ = end;
    return token;
  }
  if (IsNameStart(c)) {
    size_t end = pos_;
    while (end < line_.size() && IsNameChar(line_[end])) ++end;
    token.type = Token::Type::kName;
    token.text = line_.substr(pos_, end - pos_);
    pos_ = end;
    return token;
  }
  token.type = Token::Type::kSymbol;
  token.text = std::string(1, c);
  ++pos_;
  return token;
}

std::string Lexer::Rest() {
  SkipBlanks();
  size_t end = line_.size();
  // A comment starts at the first "&&" that is not inside a literal.
  char quote = 0;
  for (size_t i = pos_; i < line_.size(); ++i) {
    const char c = line_[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '[') {
      quote = ']';
    } else if (c == '&' && i + 1 < line_.size() && line_[i + 1] == '&') {
      end = i;
      break;
    }
  }
  while (end > pos_ && IsBlank(line_[end - 1])) --end;
  std::string rest = line_.substr(pos_, end - pos_);
  pos_ = line_.size();
  return rest;
}

}  // namespace zanvor
