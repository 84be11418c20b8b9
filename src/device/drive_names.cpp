// Mount points stand in for drive letters: a mounted file system is matched
// to a volume by its disk and its start sector.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/text.h"
#include "device/disk_enumeration.h"
#include "platform/codepage.h"
#include "platform/mount_table.h"

namespace brevid {
namespace {

std::string FirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return Trim(line);
}

}  // namespace

void AttachDriveNames(DiskList& list, const SystemRoots& roots) {
  std::ifstream in(roots.mountInfo);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, majorMinor, root, mountPoint;
    if (!(fields >> id >> parent >> majorMinor >> root >> mountPoint)) continue;
    if (root != "/") continue;  // bind mounts of a sub-folder name no volume

    std::error_code ec;
    std::filesystem::path node =
        std::filesystem::canonical(roots.sysDevBlock + "/" + majorMinor, ec);
    if (ec) continue;
    std::string diskName;
    uint64_t start = 0;
    if (std::filesystem::exists(node / "partition")) {
      diskName = node.parent_path().filename().string();
      std::string startText = FirstLine((node / "start").string());
      if (startText.empty() || startText.find_first_not_of("0123456789") != std::string::npos)
        continue;
      start = std::stoull(startText);
    } else {
      diskName = node.filename().string();
    }

    std::string diskPath = roots.dev + "/" + diskName;
    for (DiskInfo& disk : list) {
      if (disk.number.empty() || disk.diskKind != 0 || disk.path != diskPath) continue;
      for (VolumeInfo& volume : disk.volumes)
        if (volume.start == start && volume.driveLetter.empty())
          volume.driveLetter = Utf8ToAnsi(UnescapeMountField(mountPoint));
      break;  // only the first matching disk
    }
  }
}

bool HoldsMountedFileSystem(const std::string& ansiPath, const SystemRoots& roots) {
  struct stat st {};
  if (::stat(AnsiToUtf8(ansiPath).c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return false;
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path target =
      fs::canonical(roots.sysDevBlock + "/" + std::to_string(major(st.st_rdev)) + ":" +
                        std::to_string(minor(st.st_rdev)),
                    ec);
  if (ec) return false;
  // Anything the kernel lists as holding the device or one of its partitions.
  auto held = [](const fs::path& node) {
    std::error_code e;
    return fs::is_directory(node / "holders", e) && !fs::is_empty(node / "holders", e);
  };
  if (held(target)) return true;
  for (const auto& entry : fs::directory_iterator(target, ec))
    if (fs::exists(entry.path() / "partition", ec) && held(entry.path())) return true;

  std::ifstream in(roots.mountInfo);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, majorMinor;
    if (!(fields >> id >> parent >> majorMinor)) continue;
    std::error_code e;
    fs::path mounted = fs::canonical(roots.sysDevBlock + "/" + majorMinor, e);
    if (e) continue;
    if (mounted == target || mounted.parent_path() == target || target.parent_path() == mounted)
      return true;
  }
  return false;
}

}  // namespace brevid
