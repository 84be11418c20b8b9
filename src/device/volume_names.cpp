#include "device/volume_names.h"

#include <algorithm>

#include "format/file_system_kind.h"

namespace brevid {

std::string FsTypeText(const VolumeInfo& v) {
  if (const FileSystemKind* kind = KindOfType(v.fsType)) return kind->typeText;
  if (v.fsType == kFsHfs) return v.hfsText;
  if (v.fsType == kFsExt) return v.extText;
  return {};
}

std::vector<std::string> VolumeItemTexts(const DiskInfo& disk) {
  std::vector<std::string> texts;
  for (const VolumeInfo& v : disk.volumes) {
    bool taken = std::find(texts.begin(), texts.end(), v.driveLetter) != texts.end();
    texts.push_back(!v.driveLetter.empty() && !taken ? v.driveLetter : v.name);
  }
  return texts;
}

VolumeInfo* FindVolume(DiskInfo& disk, const std::string& name) {
  std::vector<std::string> items = VolumeItemTexts(disk);
  for (size_t i = 0; i < items.size(); ++i)
    if (items[i] == name) return &disk.volumes[i];
  for (VolumeInfo& v : disk.volumes)
    if (v.name == name) return &v;
  return nullptr;
}

}  // namespace brevid
