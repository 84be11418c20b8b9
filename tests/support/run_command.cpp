#include "support/run_command.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace brevid::test {

CommandResult RunCommand(const std::string& command) {
  CommandResult result;
  char errPath[] = "/tmp/brevid-test-err-XXXXXX";
  int fd = ::mkstemp(errPath);
  if (fd < 0) return result;
  ::close(fd);
  std::string full = "(" + command + ") 2>'" + errPath + "'";
  FILE* pipe = ::popen(full.c_str(), "r");
  if (pipe) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) result.out.append(buf, n);
    int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::ifstream err(errPath);
  std::stringstream ss;
  ss << err.rdbuf();
  result.err = ss.str();
  std::remove(errPath);
  return result;
}

bool HaveTool(const std::string& tool) {
  return RunCommand("command -v " + tool + " >/dev/null").status == 0;
}

}  // namespace brevid::test
