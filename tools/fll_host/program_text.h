// The structure of a program file, as FoxPro reads one: the main program
// first, then PROCEDURE and FUNCTION blocks, each ending at ENDPROC or
// ENDFUNC, at the next PROCEDURE or FUNCTION, or at the end of the file.
#ifndef ZANVOR_TOOLS_FLL_HOST_PROGRAM_TEXT_H_
#define ZANVOR_TOOLS_FLL_HOST_PROGRAM_TEXT_H_

#include <string>
#include <vector>

namespace zanvor {

// The name a PROCEDURE or FUNCTION line defines (keywords abbreviated to four
// letters too, in any letter case); "" for any other line, and for such a
// line without a name.
std::string DefinedProcedure(const std::string& line);
// True for an ENDPROC or ENDFUNC line.
bool EndsProcedure(const std::string& line);

// The lines of a program file in the order the host runs them: every
// procedure block first, each closed with its own end line or an ENDPROC
// added, then the main program. So a handler that runs while the main program
// waits (READ EVENTS) finds every procedure of the file, as in FoxPro, where
// the main program ends at the first PROCEDURE or FUNCTION line. Lines after
// an end line and outside any block are never run by FoxPro and are dropped.
std::vector<std::string> ProceduresFirst(const std::vector<std::string>& lines);

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_FLL_HOST_PROGRAM_TEXT_H_
