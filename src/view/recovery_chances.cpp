#include "view/recovery_chances.h"

#include "platform/codepage.h"

namespace brevid {

RecoveryChances::RecoveryChances(const DiskInfo& disk, const VolumeInfo& volume)
    : disk_(disk), volume_(volume) {}

RecoveryChances::~RecoveryChances() = default;

RecoveryChance RecoveryChances::Of(NodeHandle node) {
  if (node.IsNull() || node.Kind() != kDeletedFile) return RecoveryChance::kUnknown;
  if (const FileEntry* f = node.Fat()) return FatRecoveryChance(volume_, *f);
  const NtfsEntry* e = node.Ntfs();
  auto known = known_.find(e);
  if (known != known_.end()) return known->second;
  if (!reader_) {
    reader_ = std::make_unique<VolumeReader>(disk_, volume_);
    if (reader_->Open()) bitmap_ = ReadNtfsClusterBitmap(*reader_);
  }
  const RecoveryChance chance = NtfsRecoveryChance(*reader_, bitmap_, *e);
  known_.emplace(e, chance);
  return chance;
}

const std::string& RecoveryText(RecoveryChance chance) {
  static const std::string texts[] = {"", Utf8ToAnsi("好"), Utf8ToAnsi("部分"),
                                      Utf8ToAnsi("已覆盖")};
  return texts[static_cast<int>(chance)];
}

const char* RecoveryWord(RecoveryChance chance) {
  static const char* const words[] = {"", "good", "partial", "overwritten"};
  return words[static_cast<int>(chance)];
}

std::optional<RecoveryChance> RecoveryFromWord(const std::string& word) {
  for (RecoveryChance c :
       {RecoveryChance::kGood, RecoveryChance::kPartial, RecoveryChance::kOverwritten})
    if (word == RecoveryWord(c)) return c;
  return std::nullopt;
}

}  // namespace brevid
