#include "device/disk_enumeration.h"

#include <fcntl.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/text.h"
#include "device/descriptor_string.h"

namespace brevid {
namespace {

constexpr int kMaxDisks = 16;
constexpr uint32_t kDefaultHeads = 255;
constexpr uint32_t kDefaultSectorsPerTrack = 63;

std::string ReadSmallFile(const std::string& path, size_t limit = 4096) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::string text(limit, '\0');
  in.read(text.data(), static_cast<std::streamsize>(limit));
  text.resize(static_cast<size_t>(in.gcount()));
  return text;
}

bool StartsWith(const std::string& s, std::string_view p) { return s.rfind(p, 0) == 0; }

// The serial from sysfs, or from the unit serial number page when the
// device exposes that instead.
std::string ReadSerial(const std::string& deviceDir) {
  std::string serial = Trim(UpToNul(ReadSmallFile(deviceDir + "/serial")));
  if (!serial.empty()) return serial;
  std::string page = ReadSmallFile(deviceDir + "/vpd_pg80");
  if (page.size() > 4) {
    size_t len = std::min<size_t>(static_cast<unsigned char>(page[3]), page.size() - 4);
    return Trim(UpToNul(page.substr(4, len)));
  }
  return {};
}

struct Geometry {
  uint32_t heads = kDefaultHeads;
  uint32_t sectorsPerTrack = kDefaultSectorsPerTrack;
};

Geometry QueryGeometry(const std::string& path) {
  Geometry g;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return g;
  struct hd_geometry geo {};
  if (::ioctl(fd, HDIO_GETGEO, &geo) == 0 && geo.heads != 0 && geo.sectors != 0) {
    g.heads = geo.heads;
    g.sectorsPerTrack = geo.sectors;
  }
  ::close(fd);
  return g;
}

}  // namespace

bool IsListedDiskName(const std::string& name) {
  auto digitsAfter = [&](size_t at) {
    return at < name.size() && std::all_of(name.begin() + static_cast<long>(at), name.end(),
                                           [](char c) { return c >= '0' && c <= '9'; });
  };
  if (StartsWith(name, "sd") || StartsWith(name, "vd") || StartsWith(name, "hd") ||
      StartsWith(name, "xvd"))
    return true;
  if (StartsWith(name, "nvme"))
    return name.find('n', 4) != std::string::npos && name.find('p') == std::string::npos;
  if (StartsWith(name, "mmcblk")) return digitsAfter(6);  // not mmcblk0boot0 or mmcblk0rpmb
  return false;
}

bool KernelNameLess(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

namespace {

std::vector<std::string> ListedDiskNames(const SystemRoots& roots) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(roots.sysBlock, ec)) {
    std::string name = entry.path().filename().string();
    if (IsListedDiskName(name)) names.push_back(name);
  }
  std::sort(names.begin(), names.end(), KernelNameLess);
  return names;
}

}  // namespace

std::vector<std::string> DisksWithoutReadAccess(const SystemRoots& roots) {
  std::vector<std::string> denied;
  for (const std::string& name : ListedDiskNames(roots)) {
    const std::string path = roots.dev + "/" + name;
    if (::access(path.c_str(), R_OK) != 0 && (errno == EACCES || errno == EPERM))
      denied.push_back(path);
  }
  return denied;
}

int EnumerateDisks(DiskList& list, const PartitionWalker& walk, const SystemRoots& roots) {
  const std::vector<std::string> names = ListedDiskNames(roots);

  int added = 0;
  for (int number = 0; number < static_cast<int>(names.size()) && number < kMaxDisks; ++number) {
    const std::string& name = names[static_cast<size_t>(number)];
    std::string path = roots.dev + "/" + name;
    SourceHandle handle = SourceHandle::Open(path);
    if (!handle.IsOpen()) continue;

    std::string sysDir = roots.sysBlock + "/" + name;
    std::string deviceDir = sysDir + "/device";
    DiskInfo disk;
    disk.vendor = PlainDescriptorString(ReadSmallFile(deviceDir + "/vendor"));
    disk.product = PlainDescriptorString(ReadSmallFile(deviceDir + "/model"));
    std::string rev = ReadSmallFile(deviceDir + "/rev");
    if (rev.empty()) rev = ReadSmallFile(deviceDir + "/firmware_rev");
    disk.revision = PlainDescriptorString(rev);
    disk.serial = ReadSerial(deviceDir);
    disk.number = Format("%d", number);
    disk.path = path;
    disk.sizeBytes = handle.Size();
    disk.fixedMedia = Trim(ReadSmallFile(sysDir + "/removable")) == "0" ? 1 : 0;
    if (walk) walk(disk, handle, path);
    Geometry geo = QueryGeometry(path);
    disk.heads = geo.heads;
    disk.sectorsPerTrack = geo.sectorsPerTrack;
    disk.cylinders = static_cast<uint32_t>(disk.sizeBytes / 512 / geo.heads / geo.sectorsPerTrack);
    list.push_back(std::move(disk));
    ++added;
  }
  AttachDriveNames(list, roots);
  return added;
}

bool OpenImageFile(DiskList& list, const std::string& ansiPath, const PartitionWalker& walk,
                   const SourceOpener& opener) {
  SourceHandle handle = opener.Open(ansiPath);
  if (!handle.IsOpen()) return false;
  DiskInfo disk;
  disk.path = ansiPath;
  // The name is what follows the last separator that is not the first character.
  size_t cut = ansiPath.rfind('/');
  disk.vendor = (cut != std::string::npos && cut > 0) ? ansiPath.substr(cut + 1) : ansiPath;
  // The key finds the disk: a second image of the same name is keyed by its
  // full path, so that no command reaches the first one instead.
  for (const DiskInfo& other : list)
    if (other.Key() == disk.Key() && other.path != ansiPath) disk.vendor = ansiPath;
  disk.sizeBytes = handle.Size();
  if (walk) walk(disk, handle, ansiPath);
  disk.cylinders = static_cast<uint32_t>(disk.sizeBytes / 512 / 255 / 63);
  disk.heads = 255;
  disk.sectorsPerTrack = 63;
  list.push_back(std::move(disk));
  return true;
}

}  // namespace brevid
