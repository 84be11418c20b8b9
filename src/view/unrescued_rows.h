// With a rescue map given (`--bad-map`): which listed files a save would read
// from areas the map left unrescued, judged from where their content lies,
// without reading it. One object per volume and thread; NTFS answers read
// the file's record through a reader opened on first use.
#pragma once

#include <memory>
#include <unordered_map>

#include "device/disk_info.h"
#include "device/volume_reader.h"
#include "view/file_rows.h"

namespace brevid {

class UnrescuedRows {
 public:
  UnrescuedRows(const DiskInfo& disk, const VolumeInfo& volume);
  ~UnrescuedRows();
  UnrescuedRows(const UnrescuedRows&) = delete;
  UnrescuedRows& operator=(const UnrescuedRows&) = delete;

  // True for a file whose content meets an unrescued area. Folders, and
  // volumes other than simple FAT and NTFS ones, are never marked.
  bool Meets(const ListingRow& row);

 private:
  const DiskInfo& disk_;
  const VolumeInfo& volume_;
  std::unique_ptr<VolumeReader> reader_;  // NTFS, once asked
  // NTFS answers by record number: a listing asks twice (size, then print).
  std::unordered_map<uint64_t, bool> known_;
};

}  // namespace brevid
