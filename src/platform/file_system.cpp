#include "platform/file_system.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>

#include "platform/codepage.h"
#include "platform/write_guard.h"

namespace brevid {

std::optional<uint64_t> FreeSpace(const std::string& ansiPath) {
  struct statvfs st {};
  if (::statvfs(AnsiToUtf8(ansiPath).c_str(), &st) != 0) return std::nullopt;
  return static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
}

bool CreateFolder(const std::string& ansiPath) {
  if (!OutputRefusal(ansiPath).empty()) {
    errno = EPERM;
    return false;
  }
  std::string path = AnsiToUtf8(ansiPath);
  if (::mkdir(path.c_str(), 0755) == 0) return true;
  return errno == EEXIST && IsFolder(ansiPath);
}

bool PathExists(const std::string& ansiPath) {
  struct stat st {};
  return ::stat(AnsiToUtf8(ansiPath).c_str(), &st) == 0;
}

std::optional<std::string> ReadSmallFile(const std::string& ansiPath, uint64_t maxBytes) {
  std::ifstream in(AnsiToUtf8(ansiPath), std::ios::binary);
  if (!in) return std::nullopt;
  std::string text;
  char chunk[65536];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    text.append(chunk, static_cast<size_t>(in.gcount()));
    if (text.size() > maxBytes) return std::nullopt;
  }
  if (in.bad()) return std::nullopt;
  return text;
}

bool RenameFile(const std::string& ansiFrom, const std::string& ansiTo) {
  if (!OutputRefusal(ansiTo).empty()) return false;
  return ::rename(AnsiToUtf8(ansiFrom).c_str(), AnsiToUtf8(ansiTo).c_str()) == 0;
}

bool RemoveFile(const std::string& ansiPath) {
  if (!OutputRefusal(ansiPath).empty()) return false;
  return ::unlink(AnsiToUtf8(ansiPath).c_str()) == 0;
}

bool IsFolder(const std::string& ansiPath) {
  struct stat st {};
  return ::stat(AnsiToUtf8(ansiPath).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsSymbolicLink(const std::string& ansiPath) {
  struct stat st {};
  return ::lstat(AnsiToUtf8(ansiPath).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool PathOrLinkExists(const std::string& ansiPath) {
  // A path that resolves names something itself, so lstat answers both.
  struct stat st {};
  return ::lstat(AnsiToUtf8(ansiPath).c_str(), &st) == 0;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string FileNameOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

StoragePlace LocateStorage(const std::string& ansiPath) {
  StoragePlace place;
  struct stat st {};
  if (::stat(AnsiToUtf8(ansiPath).c_str(), &st) != 0) return place;
  place.known = true;
  if (!S_ISBLK(st.st_mode)) {
    place.device = st.st_dev;
    place.inode = st.st_ino;
    return place;
  }
  place.blockDevice = true;
  place.device = st.st_rdev;
  // A partition names its disk in the parent folder of its sysfs node.
  const std::string node = "/sys/dev/block/" + std::to_string(major(st.st_rdev)) + ":" +
                           std::to_string(minor(st.st_rdev));
  std::ifstream start(node + "/start");
  std::ifstream parent(node + "/../dev");
  uint64_t startSector = 0;
  unsigned diskMajor = 0, diskMinor = 0;
  char colon = 0;
  if (start >> startSector && parent >> diskMajor >> colon >> diskMinor && colon == ':') {
    place.device = makedev(diskMajor, diskMinor);
    place.baseOffset = startSector * 512;
  }
  return place;
}

}  // namespace brevid
