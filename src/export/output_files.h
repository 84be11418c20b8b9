// Output files and folders on the target: free names, folder chains made on
// demand, and names from the disk made safe to use as path components.
#pragma once

#include <string>

#include "export/save_request.h"
#include "platform/target_handle.h"

namespace brevid {

// The free name after `path` exists: `path` + counter + "." + the text after
// the last "." of `path` (without any ".", `path` + counter), the counter
// going up from *counter; *counter is left one past the name returned.
std::string NextFreeName(const std::string& path, int* counter);

// Opens `path` (CP936) for writing, created when missing and never
// truncated. When it exists already a free name is chosen (see NextFreeName)
// and `path` becomes it; *counter, when given, gets the counter a later free
// name goes on from (0 when none was needed). When the open fails, the folder chain
// is made and the open tried once more. False: nothing could be opened.
bool OpenOutputFile(TargetHandle* file, std::string* path, int* counter = nullptr);

// Why a folder of the tree was not saved: a symbolic link of that name was
// in the target already, and the save never writes through one.
inline constexpr const char* kLinkInTarget = "目标文件夹中已有同名符号链接, 不跟随";

// Makes every missing folder of `folder`; true when it exists afterwards.
bool CreateDirectoryChain(const std::string& folder);

// Makes a FAT name usable: a CP936 round trip (bytes that are no character
// become "?"), then each of ? / : * \ " < > | replaced by the repair text.
// True to go on with the (possibly changed) name.
bool RepairFileName(std::string* name, const NameRepair& repair);

// A name from the disk as one safe path component: no separator, no NUL, not
// "." or ".." and not empty. A hostile name cannot leave the target folder.
std::string SafeComponent(const std::string& name);

// The text after the last "." (a name without "." is its own extension; a
// name whose only "." is its first character has none), lower-cased.
std::string FileExtension(const std::string& name);

// The typed extensions the start-cluster search serves: all 14 for single
// saves, "jpg", "jpeg", "doc", "ppt", "xls" for the ticked-items variant.
bool IsTypedExtension(const std::string& extension, bool multiVariant);

}  // namespace brevid
