#include "cli/sources.h"

#include <cerrno>
#include <cstring>

#include "device/disk_enumeration.h"
#include "partition/partition_walk.h"
#include "partition/volume_display.h"
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

VolumeInfo* FindVolume(DiskInfo& disk, const std::string& utf8Name, std::string* error) {
  std::string name = Utf8ToAnsi(utf8Name);
  std::vector<std::string> items = VolumeItemTexts(disk);
  for (size_t i = 0; i < items.size(); ++i)
    if (items[i] == name) return &disk.volumes[i];
  for (VolumeInfo& v : disk.volumes)
    if (v.name == name) return &v;
  error->assign("磁盘 ").append(AnsiToUtf8(disk.Key())).append(" 上没有分区 ").append(utf8Name).append("；可选:");
  for (const std::string& item : items) error->append(" ").append(AnsiToUtf8(item));
  return nullptr;
}

}  // namespace brevid::cli
