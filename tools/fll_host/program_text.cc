#include "fll_host/program_text.h"

#include "fll_host/lexer.h"

namespace zanvor {

std::string DefinedProcedure(const std::string& line) {
  Lexer lexer(line);
  const Token keyword = lexer.Next();
  if (keyword.type != Token::Type::kName ||
      (!MatchesKeyword(keyword.text, "PROCEDURE") && !MatchesKeyword(keyword.text, "FUNCTION"))) {
    return std::string();
  }
  const Token name = lexer.Next();
  return name.type == Token::Type::kName ? name.text : std::string();
}

bool EndsProcedure(const std::string& line) {
  Lexer lexer(line);
  const Token keyword = lexer.Next();
  return keyword.type == Token::Type::kName &&
         (MatchesKeyword(keyword.text, "ENDPROC") || MatchesKeyword(keyword.text, "ENDFUNC"));
}

std::vector<std::string> ProceduresFirst(const std::vector<std::string>& lines) {
  std::vector<std::string> blocks;
  std::vector<std::string> main;
  bool inMain = true;
  bool inBlock = false;
  for (const std::string& line : lines) {
    if (!DefinedProcedure(line).empty()) {
      if (inBlock) blocks.push_back("ENDPROC");
      inMain = false;
      inBlock = true;
      blocks.push_back(line);
    } else if (inBlock) {
      blocks.push_back(line);
      inBlock = !EndsProcedure(line);
    } else if (inMain) {
      main.push_back(line);
    }
  }
  if (inBlock) blocks.push_back("ENDPROC");
  blocks.insert(blocks.end(), main.begin(), main.end());
  return blocks;
}

}  // namespace zanvor
