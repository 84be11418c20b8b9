// The recovery chance of the entries a pane or command lists, with its
// texts. One object per volume and thread: NTFS answers read the file's MFT
// record (through a reader of its own, opened on first use) and are kept;
// FAT answers come from the table in memory. The volume's trees must outlive
// the object.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "device/disk_info.h"
#include "device/volume_reader.h"
#include "fs/ntfs_recovery_chance.h"
#include "view/node_handle.h"

namespace brevid {

class RecoveryChances {
 public:
  RecoveryChances(const DiskInfo& disk, const VolumeInfo& volume);
  ~RecoveryChances();
  RecoveryChances(const RecoveryChances&) = delete;
  RecoveryChances& operator=(const RecoveryChances&) = delete;

  // kUnknown for a null handle and for anything but a deleted file.
  RecoveryChance Of(NodeHandle node);

 private:
  const DiskInfo& disk_;
  const VolumeInfo& volume_;
  std::unique_ptr<VolumeReader> reader_;  // NTFS, once asked
  NtfsClusterBitmap bitmap_;
  std::unordered_map<const NtfsEntry*, RecoveryChance> known_;
};

// The column's word: "好", "部分", "已覆盖" (CP936); empty for kUnknown.
const std::string& RecoveryText(RecoveryChance chance);

// The JSON and option word: "good", "partial", "overwritten"; empty for kUnknown.
const char* RecoveryWord(RecoveryChance chance);

// The chance a word of RecoveryWord names; none for any other text.
std::optional<RecoveryChance> RecoveryFromWord(const std::string& word);

}  // namespace brevid
