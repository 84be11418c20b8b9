#include "platform/file_system.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cerrno>

#include "platform/codepage.h"

namespace brevid {

std::optional<uint64_t> FreeSpace(const std::string& ansiPath) {
  struct statvfs st {};
  if (::statvfs(AnsiToUtf8(ansiPath).c_str(), &st) != 0) return std::nullopt;
  return static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
}

bool CreateFolder(const std::string& ansiPath) {
  std::string path = AnsiToUtf8(ansiPath);
  if (::mkdir(path.c_str(), 0755) == 0) return true;
  return errno == EEXIST && IsFolder(ansiPath);
}

bool PathExists(const std::string& ansiPath) {
  struct stat st {};
  return ::stat(AnsiToUtf8(ansiPath).c_str(), &st) == 0;
}

bool IsFolder(const std::string& ansiPath) {
  struct stat st {};
  return ::stat(AnsiToUtf8(ansiPath).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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

}  // namespace brevid
