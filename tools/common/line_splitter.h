// Splitting of script or input bytes into lines, apart from where the bytes
// come from (a file, standard input), so that it builds and is tested
// everywhere.
#ifndef ZANVOR_TOOLS_COMMON_LINE_SPLITTER_H_
#define ZANVOR_TOOLS_COMMON_LINE_SPLITTER_H_

#include <cstddef>
#include <string>
#include <vector>

namespace zanvor {

// Splits bytes into lines at "\n", dropping one "\r" before it. The bytes
// after the last "\n" stay pending until more arrive or Finish is called.
class LineSplitter {
 public:
  void Feed(const char* data, size_t size, std::vector<std::string>* lines);
  void Finish(std::vector<std::string>* lines);

 private:
  std::string pending_;
};

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_COMMON_LINE_SPLITTER_H_
