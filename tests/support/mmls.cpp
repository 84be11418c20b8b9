#include "support/mmls.h"

#include <sstream>

#include "support/run_command.h"

namespace brevid::test {

std::vector<MmlsPartition> MmlsPartitions(const std::string& image) {
  std::vector<MmlsPartition> parts;
  CommandResult r = RunCommand("mmls '" + image + "'");
  if (r.status != 0) return parts;
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string index, slot;
    uint64_t start, end, length;
    if (!(fields >> index >> slot >> start >> end >> length)) continue;
    if (index.empty() || index.back() != ':' || slot == "Meta" || slot.find("---") == 0) continue;
    std::string description;
    std::getline(fields, description);
    parts.push_back({start, length, description.substr(description.find_first_not_of(' '))});
  }
  return parts;
}

}  // namespace brevid::test
