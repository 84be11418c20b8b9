// Running a shell command and capturing what it prints.
#pragma once

#include <string>

namespace brevid::test {

struct CommandResult {
  int status = -1;  // exit status, or -1 when it did not exit normally
  std::string out;  // standard output
  std::string err;  // standard error
};

CommandResult RunCommand(const std::string& command);

// True when `tool` is on the PATH.
bool HaveTool(const std::string& tool);

}  // namespace brevid::test
