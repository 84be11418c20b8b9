#include "cli/sources.h"

#include <cerrno>
#include <cstring>

#include "device/disk_enumeration.h"
#include "partition/partition_walk.h"
#include "platform/byte_source.h"
#include "platform/codepage.h"

namespace brevid::cli {

int AddPhysicalDisks(DiskList& list) { return EnumerateDisks(list, WalkPartitions); }

DiskInfo* AddSource(DiskList& list, const std::string& source, std::string* error) {
  bool isNumber = !source.empty() && source.find_first_not_of("0123456789") == std::string::npos;
  if (isNumber) {
    DiskList physical;
    AddPhysicalDisks(physical);
    for (DiskInfo& d : physical)
      if (d.number == source) {
        list.push_back(std::move(d));
        return &list.back();
      }
    *error = "没有编号为 " + source + " 的可打开的物理磁盘";
    return nullptr;
  }
  if (!OpenImageFile(list, Utf8ToAnsi(source), WalkPartitions)) {
    *error = "无法打开 " + source + ": " + LastErrorText();
    return nullptr;
  }
  return &list.back();
}

}  // namespace brevid::cli
