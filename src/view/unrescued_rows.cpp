#include "view/unrescued_rows.h"

#include "common/sector_range.h"
#include "fs/content_extents.h"

namespace brevid {

UnrescuedRows::UnrescuedRows(const DiskInfo& disk, const VolumeInfo& volume)
    : disk_(disk), volume_(volume) {}

UnrescuedRows::~UnrescuedRows() = default;

bool UnrescuedRows::Meets(const ListingRow& l) {
  const FileRow& r = l.row;
  if (disk_.unrescued.empty() || r.folder || !IsFileKind(r.kind) ||
      volume_.layout != VolumeLayout::Simple)
    return false;
  ByteExtents extents;
  if (l.carved) {
    extents.emplace_back(SectorToByte(r.number), SectorToByte(r.number) + r.size);
  } else if (IsFat16Type(volume_.fsType) || IsFat32Type(volume_.fsType)) {
    extents = FatContentExtents(volume_, r.kind, static_cast<uint32_t>(r.number), r.size);
  } else if (IsNtfsType(volume_.fsType)) {
    auto known = known_.find(r.number);
    if (known != known_.end()) return known->second;
    if (!reader_) {
      reader_ = std::make_unique<VolumeReader>(disk_, volume_);
      if (!reader_->Open()) return false;
    }
    const bool meets =
        ExtentsMeet(NtfsContentExtents(*reader_, static_cast<uint32_t>(r.number)), disk_.unrescued);
    known_.emplace(r.number, meets);
    return meets;
  }
  return ExtentsMeet(extents, disk_.unrescued);
}

}  // namespace brevid
