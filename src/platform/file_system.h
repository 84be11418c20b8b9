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
bool IsFolder(const std::string& ansiPath);

// `folder` + "/" + `name`, without doubling a trailing separator.
std::string JoinPath(const std::string& folder, const std::string& name);

// The part of `path` after its last "/".
std::string FileNameOf(const std::string& path);

}  // namespace brevid
