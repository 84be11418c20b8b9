#include "support/file_hash.h"

#include "support/run_command.h"

namespace brevid::test {

std::string Sha256OfFile(const std::string& path) {
  CommandResult r = RunCommand("sha256sum '" + path + "'");
  if (r.status != 0 || r.out.size() < 64) return {};
  return r.out.substr(0, 64);
}

}  // namespace brevid::test
