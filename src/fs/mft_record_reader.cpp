#include "fs/mft_record_reader.h"

#include <functional>
#include <vector>

#include "fs/volume_trees.h"
#include "platform/codepage.h"
#include "platform/message_box.h"

namespace brevid {
namespace {

constexpr uint64_t kSectorsPerRecord = 2;

// A volume whose size is not known yet takes any sector.
bool InsideVolume(const VolumeInfo& volume, uint64_t sector, uint64_t sectors) {
  return volume.sectorCount == 0 || volume.Extent().Covers({sector, sectors});
}

MftRecordFetcher MakeFetcher(VolumeReader& reader,
                             std::function<bool(uint32_t, uint64_t*)> locate) {
  const VolumeInfo& volume = reader.volume();
  const uint64_t sectorsPerCluster = uint64_t{volume.sectorsPerCluster};
  MftRecordFetcher fetcher;
  fetcher.clusterBytes = static_cast<uint32_t>(sectorsPerCluster * kSectorBytes);
  fetcher.readRecord = [&reader, locate](uint32_t number, std::span<uint8_t> record) {
    uint64_t sector = 0;
    if (!locate(number, &sector)) return false;
    reader.ReadSectors(sector, record);
    return true;
  };
  fetcher.readClusters = [&reader, &volume, sectorsPerCluster](uint32_t cluster, uint32_t count,
                                                               std::span<uint8_t> buffer) {
    uint64_t sector = volume.start + sectorsPerCluster * cluster;
    if (!InsideVolume(volume, sector, sectorsPerCluster * count)) return false;
    reader.ReadSectors(sector, buffer);
    return true;
  };
  return fetcher;
}

}  // namespace

bool LocateMftRecord(uint32_t number, const VolumeInfo& volume, const DataRunMap& runs,
                     uint64_t* sector) {
  const uint64_t sectorsPerCluster = uint64_t{volume.sectorsPerCluster};
  uint64_t remaining = number;
  for (const auto& [index, run] : runs) {
    uint64_t held = sectorsPerCluster * run.length / kSectorsPerRecord;
    if (remaining < held) {
      *sector = volume.start + sectorsPerCluster * run.startCluster + kSectorsPerRecord * remaining;
      return InsideVolume(volume, *sector, kSectorsPerRecord);
    }
    remaining -= held;
  }
  *sector = volume.mftStart + kSectorsPerRecord * remaining;
  return InsideVolume(volume, *sector, kSectorsPerRecord);
}

MftRecordFetcher MakeMftRunsFetcher(VolumeReader& reader, const DataRunMap& runs) {
  const VolumeInfo& volume = reader.volume();
  return MakeFetcher(reader, [&volume, &runs](uint32_t n, uint64_t* sector) {
    return LocateMftRecord(n, volume, runs, sector);
  });
}

bool ReadMftRecord(VolumeReader& reader, uint32_t number, MftRecordInfo& info,
                   const DataRunMap& runs, uint32_t nested) {
  uint64_t sector = 0;
  if (!LocateMftRecord(number, reader.volume(), runs, &sector)) return false;
  std::vector<uint8_t> record(kMftRecordSize, 0);
  reader.ReadSectors(sector, record);
  MftRecordFetcher fetcher = MakeMftRunsFetcher(reader, runs);
  return ParseMftRecord(record, number, info, nested, &fetcher);
}

bool ReadMftRecordForEntry(VolumeReader& reader, uint32_t number, MftRecordInfo& info,
                           const NtfsEntry& entry, uint32_t nested) {
  const VolumeInfo& volume = reader.volume();
  if (!volume.trees) return false;
  const VolumeTrees& trees = *volume.trees;
  auto first = trees.recordFirstSector.find(number);
  if (first == trees.recordFirstSector.end()) return false;
  std::vector<uint64_t> candidates{first->second};
  auto [from, to] = trees.recordSectors.equal_range(number);
  for (auto it = from; it != to; ++it) candidates.push_back(it->second);

  auto locate = [&trees](uint32_t n, uint64_t* sector) {
    auto it = trees.recordFirstSector.find(n);
    if (it == trees.recordFirstSector.end()) return false;
    *sector = it->second;
    return true;
  };
  MftRecordFetcher fetcher = MakeFetcher(reader, locate);
  std::vector<uint8_t> record(kMftRecordSize);
  for (uint64_t sector : candidates) {
    reader.ReadSectors(sector, record);
    if (ParseMftRecord(record, number, info, nested, &fetcher) && info.name == entry.name &&
        info.size == entry.size) {
      return true;
    }
    ClearFromFileName(info);
  }
  ShowMessageBox(Ansi("mft错误"), Ansi("警告"), kMbOk);
  return false;
}

}  // namespace brevid
