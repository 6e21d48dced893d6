// A ToolOutput that keeps the lines, for the verbs' tests.
#ifndef ZANVOR_TESTS_CLI_RECORDING_OUTPUT_H_
#define ZANVOR_TESTS_CLI_RECORDING_OUTPUT_H_

#include <string>
#include <vector>

#include "cli/text_output.h"

namespace zanvor {

struct RecordingOutput final : ToolOutput {
  void Out(const std::string& line) override { out.push_back(line); }
  void Err(const std::string& line) override { err.push_back(line); }
  std::vector<std::string> out;
  std::vector<std::string> err;
};

}  // namespace zanvor

#endif  // ZANVOR_TESTS_CLI_RECORDING_OUTPUT_H_
