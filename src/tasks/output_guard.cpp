#include "tasks/output_guard.h"

#include <algorithm>

#include "platform/write_guard.h"

namespace brevid {

std::vector<std::string> DiskSourcePaths(const DiskInfo& disk) {
  std::vector<std::string> paths;
  auto add = [&paths](const std::string& path) {
    if (!path.empty() && std::find(paths.begin(), paths.end(), path) == paths.end())
      paths.push_back(path);
  };
  if (disk.diskKind == 0) add(disk.path);
  for (const VolumeInfo& volume : disk.volumes)
    for (const auto& [key, member] : volume.members) add(member.devicePath);
  return paths;
}

std::string OutputRefusalFor(const std::vector<const DiskInfo*>& disks,
                             const std::string& ansiOutput) {
  std::vector<std::string> sources;
  for (const DiskInfo* disk : disks) {
    std::vector<std::string> paths = DiskSourcePaths(*disk);
    sources.insert(sources.end(), paths.begin(), paths.end());
  }
  return OutputRefusal(ansiOutput, sources);
}

}  // namespace brevid
