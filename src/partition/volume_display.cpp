#include "partition/volume_display.h"

#include <algorithm>

#include "common/text.h"

namespace brevid {

std::string FsTypeText(const VolumeInfo& v) {
  if (IsFat16Type(v.fsType)) return "FAT16";
  if (v.fsType == kFsExfat) return "exFAT";
  if (IsNtfsType(v.fsType)) return "NTFS";
  if (IsFat32Type(v.fsType)) return "FAT32";
  if (v.fsType == kFsHfs) return v.hfsText;
  if (v.fsType == kFsExt) return v.extText;
  return {};
}

std::string FormatPaneSize(uint64_t bytes) {
  double b = static_cast<double>(bytes);
  double g = b / (1024.0 * 1024.0 * 1024.0);
  if (g > 0.0001 && g < 0.1) return Format("%.1f", b / (1024.0 * 1024.0)) + " MB";
  if (g < 0.0001) return Format("%.1f", b / 1024.0) + " KB";
  return Format("%.1f", g) + " GB";
}

std::vector<std::string> VolumeItemTexts(const DiskInfo& disk) {
  std::vector<std::string> texts;
  for (const VolumeInfo& v : disk.volumes) {
    bool taken = std::find(texts.begin(), texts.end(), v.driveLetter) != texts.end();
    texts.push_back(!v.driveLetter.empty() && !taken ? v.driveLetter : v.name);
  }
  return texts;
}

}  // namespace brevid
