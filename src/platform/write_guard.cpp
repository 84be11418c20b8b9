#include "platform/write_guard.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>

#include "platform/codepage.h"
#include "platform/mount_table.h"

namespace brevid {
namespace {

// One piece of storage a path reaches: a file's inode, or a byte range of a
// whole block device.
struct StorageAtom {
  bool isFile = false;
  uint64_t device = 0;  // files: st_dev; ranges: the whole disk's device number
  uint64_t inode = 0;
  uint64_t begin = 0;
  uint64_t end = UINT64_MAX;
};

using Atoms = std::vector<StorageAtom>;

bool Meet(const StorageAtom& a, const StorageAtom& b) {
  if (a.isFile != b.isFile || a.device != b.device) return false;
  if (a.isFile) return a.inode == b.inode;
  return a.begin < b.end && b.begin < a.end;
}

bool Meet(const Atoms& a, const Atoms& b) {
  for (const StorageAtom& x : a)
    for (const StorageAtom& y : b)
      if (Meet(x, y)) return true;
  return false;
}

std::string SysNode(uint64_t device) {
  return "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

bool ReadNumber(const std::string& path, uint64_t* value) {
  std::ifstream in(path);
  return static_cast<bool>(in >> *value);
}

bool ReadDevice(const std::string& path, uint64_t* device) {
  std::ifstream in(path);
  unsigned maj = 0, min = 0;
  char colon = 0;
  if (!(in >> maj >> colon >> min) || colon != ':') return false;
  *device = makedev(maj, min);
  return true;
}

StorageAtom FileAtom(const struct stat& st) {
  StorageAtom atom;
  atom.isFile = true;
  atom.device = st.st_dev;
  atom.inode = st.st_ino;
  return atom;
}

// Stacked devices are a few levels deep; the cap only stops a cycle.
constexpr int kMaxStackDepth = 8;

void AddBlockAtoms(uint64_t device, int depth, Atoms* atoms);

// What lies under a whole disk: a loop device's backing file, the devices a
// mapper or RAID device is built from.
void AddUnderlying(const std::string& node, int depth, Atoms* atoms) {
  std::ifstream backing(node + "/loop/backing_file");
  std::string file;
  if (std::getline(backing, file)) {
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0) atoms->push_back(FileAtom(st));
  }
  std::error_code ec;
  for (const auto& slave : std::filesystem::directory_iterator(node + "/slaves", ec)) {
    uint64_t slaveDevice = 0;
    if (ReadDevice((slave.path() / "dev").string(), &slaveDevice))
      AddBlockAtoms(slaveDevice, depth + 1, atoms);
  }
}

void AddBlockAtoms(uint64_t device, int depth, Atoms* atoms) {
  if (depth > kMaxStackDepth) return;
  std::error_code ec;
  const std::string node = std::filesystem::canonical(SysNode(device), ec).string();
  StorageAtom atom;
  atom.device = device;
  if (ec) {
    atoms->push_back(atom);
    return;
  }
  uint64_t start = 0, sectors = 0, whole = 0;
  if (std::filesystem::exists(node + "/partition", ec) && ReadNumber(node + "/start", &start) &&
      ReadNumber(node + "/size", &sectors) && ReadDevice(node + "/../dev", &whole)) {
    atom.device = whole;
    atom.begin = start * 512;
    atom.end = (start + sectors) * 512;
    atoms->push_back(atom);
    AddUnderlying(node + "/..", depth, atoms);
  } else {
    atoms->push_back(atom);
  }
  AddUnderlying(node, depth, atoms);
}

Atoms PathAtoms(const std::string& utf8Path, int depth);

// Everything a file system with device number `device` is stored on: its
// block device (and what lies under it), and the source named in the mount
// table, which for FUSE and other device-less mounts is the only link.
Atoms FileSystemAtoms(uint64_t device, int depth) {
  Atoms atoms;
  if (depth > kMaxStackDepth) return atoms;
  AddBlockAtoms(device, depth, &atoms);
  const std::string wanted = std::to_string(major(device)) + ":" + std::to_string(minor(device));
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, majorMinor;
    if (!(fields >> id >> parent >> majorMinor) || majorMinor != wanted) continue;
    size_t dash = line.find(" - ");
    if (dash == std::string::npos) continue;
    std::istringstream tail(line.substr(dash + 3));
    std::string type, source;
    if (!(tail >> type >> source) || source.empty() || source[0] != '/') continue;
    Atoms below = PathAtoms(UnescapeMountField(source), depth + 1);
    atoms.insert(atoms.end(), below.begin(), below.end());
  }
  return atoms;
}

// What reading `utf8Path` reads: a file's inode, a device's ranges.
Atoms PathAtoms(const std::string& utf8Path, int depth) {
  Atoms atoms;
  struct stat st {};
  if (::stat(utf8Path.c_str(), &st) != 0) return atoms;
  if (S_ISBLK(st.st_mode)) {
    AddBlockAtoms(st.st_rdev, depth, &atoms);
    return atoms;
  }
  atoms.push_back(FileAtom(st));
  return atoms;
}

// FileSystemAtoms of a save's target folder is asked once for each file:
// the answer is kept for a second, well within how fast mounts change.
std::shared_ptr<const Atoms> CachedFileSystemAtoms(uint64_t device) {
  using Clock = std::chrono::steady_clock;
  struct Kept {
    Clock::time_point at;
    std::shared_ptr<const Atoms> atoms;
  };
  static std::mutex mutex;
  static std::map<uint64_t, Kept> kept;
  std::lock_guard lock(mutex);
  const Clock::time_point now = Clock::now();
  auto it = kept.find(device);
  if (it == kept.end() || now - it->second.at > std::chrono::seconds(1))
    it = kept.insert_or_assign(device,
                               Kept{now, std::make_shared<const Atoms>(FileSystemAtoms(device, 0))})
             .first;
  return it->second.atoms;
}

// What writing `utf8Path` writes: the storage of the file system it is made
// on, and the file itself (or the device). A path that does not exist yet
// is made in its nearest existing folder.
struct OutputStorage {
  std::shared_ptr<const Atoms> fileSystem;
  Atoms own;
};

OutputStorage OutputAtoms(const std::string& utf8Path) {
  std::filesystem::path path = utf8Path;
  if (utf8Path.empty() || utf8Path[0] != '/') {
    std::error_code ec;
    path = std::filesystem::absolute(utf8Path, ec);
    if (ec) path = utf8Path;
  }
  struct stat st {};
  while (::stat(path.c_str(), &st) != 0) {
    if (!path.has_relative_path()) return {};
    path = path.parent_path();
  }
  if (S_ISBLK(st.st_mode)) return {nullptr, PathAtoms(path.string(), 0)};
  OutputStorage storage{CachedFileSystemAtoms(st.st_dev), {}};
  if (!S_ISDIR(st.st_mode)) storage.own.push_back(FileAtom(st));
  return storage;
}

struct Registered {
  std::string ansiPath;
  Atoms atoms;
};

struct Registry {
  std::mutex mutex;
  uint64_t nextId = 1;
  std::map<uint64_t, Registered> sources;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

SourcesInPlay::SourcesInPlay(const std::vector<std::string>& ansiPaths) {
  for (const std::string& ansiPath : ansiPaths) {
    Atoms atoms = PathAtoms(AnsiToUtf8(ansiPath), 0);
    if (atoms.empty()) continue;
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    ids_.push_back(registry.nextId);
    registry.sources[registry.nextId++] = {ansiPath, std::move(atoms)};
  }
}

SourcesInPlay::~SourcesInPlay() {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  for (uint64_t id : ids_) registry.sources.erase(id);
}

uint64_t SourceRegistrations() {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  return registry.nextId;
}

std::string OverlapRefusalText(const std::string& ansiOutput, const std::string& ansiSource) {
  return Ansi("目标与源重叠: 不能写入 ") + ansiOutput + Ansi(", 它与正在读取的源 ") + ansiSource +
         Ansi(" 占用同一份存储, 写入会毁掉要恢复的数据");
}

namespace {

std::string Refusal(const std::string& ansiPath, const std::string& utf8Path,
                    const std::vector<std::string>& ansiSources) {
  std::vector<Registered> named;
  for (const std::string& source : ansiSources)
    named.push_back({source, PathAtoms(AnsiToUtf8(source), 0)});
  Registry& registry = TheRegistry();
  {
    std::lock_guard lock(registry.mutex);
    if (named.empty() && registry.sources.empty()) return "";
  }
  const OutputStorage output = OutputAtoms(utf8Path);
  auto meets = [&output](const Registered& source) {
    return Meet(output.own, source.atoms) ||
           (output.fileSystem && Meet(*output.fileSystem, source.atoms));
  };
  for (const Registered& source : named)
    if (meets(source)) return OverlapRefusalText(ansiPath, source.ansiPath);
  std::lock_guard lock(registry.mutex);
  for (const auto& [id, source] : registry.sources)
    if (meets(source)) return OverlapRefusalText(ansiPath, source.ansiPath);
  return "";
}

}  // namespace

std::string OutputRefusal(const std::string& ansiPath,
                          const std::vector<std::string>& ansiSources) {
  return Refusal(ansiPath, AnsiToUtf8(ansiPath), ansiSources);
}

std::string OutputRefusal(const std::string& ansiPath) { return OutputRefusal(ansiPath, {}); }

std::string OutputRefusalUtf8(const std::string& ansiPath, const std::string& utf8Path) {
  return Refusal(ansiPath, utf8Path, {});
}

}  // namespace brevid
