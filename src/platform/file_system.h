// Folders, free space and paths on the target side. Paths are ANSI (CP936)
// and converted to UTF-8 here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace brevid {

// Bytes available to the caller on the file system holding `ansiPath`;
// nullopt when it cannot be asked.
std::optional<uint64_t> FreeSpace(const std::string& ansiPath);

// Creates one folder; true when it exists afterwards.
bool CreateFolder(const std::string& ansiPath);

bool PathExists(const std::string& ansiPath);
// The whole of a small file; nullopt when it cannot be read or holds more
// than `maxBytes`.
std::optional<std::string> ReadSmallFile(const std::string& ansiPath, uint64_t maxBytes);
// Renames a file (in one folder); false when it could not.
bool RenameFile(const std::string& ansiFrom, const std::string& ansiTo);
// Removes a file; false when it could not.
bool RemoveFile(const std::string& ansiPath);
bool IsFolder(const std::string& ansiPath);
// True for a symbolic link itself, whether or not its target exists.
bool IsSymbolicLink(const std::string& ansiPath);
// PathExists or IsSymbolicLink, in one look.
bool PathOrLinkExists(const std::string& ansiPath);

// `folder` + "/" + `name`, without doubling a trailing separator.
std::string JoinPath(const std::string& folder, const std::string& name);

// The part of `path` after its last "/".
std::string FileNameOf(const std::string& path);

// Where the bytes of a file or block device live, so that two paths can be
// told to share bytes: a file is its (device, inode); a block device is its
// whole disk's device number, a partition adding its start on that disk.
struct StoragePlace {
  bool known = false;  // false when the path cannot be examined
  bool blockDevice = false;
  uint64_t device = 0;      // files: st_dev; block devices: the whole disk's st_rdev
  uint64_t inode = 0;       // files only
  uint64_t baseOffset = 0;  // byte offset of the path's first byte within `device`
};
StoragePlace LocateStorage(const std::string& ansiPath);

}  // namespace brevid
