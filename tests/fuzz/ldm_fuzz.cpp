// A dynamic disk's private header and database. The input is [private
// header][VMDB header and records]: the header goes to sector 6 and to its
// two copies near the configuration area's end, the database to where the
// header puts it, on a disk of zeros as large as the header says.
#include "common/saturating.h"
#include "common/sector_range.h"
#include "format/ldm.h"
#include "fuzz_common.h"
#include "partition/dynamic_disk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace brevid;
  constexpr size_t kSector = 512;
  Bytes input(data, size);
  Bytes header = SubBytes(input, 0, kSector);
  Bytes database = size > kSector ? input.subspan(kSector) : Bytes();

  LdmDatabase records;
  for (size_t at = 0; at < database.size(); at += 128)
    ParseLdmRecord(SubBytes(database, at, 128), &records);

  LdmPrivateHeader h;
  uint64_t diskBytes = SectorToByte(ldm::kPrivateHeaderSector + 1);
  bool parsed = ParseLdmPrivateHeader(header, &h);
  if (parsed) diskBytes = std::max(diskBytes, SectorToByte(h.configStart + h.configSize));
  auto source = std::make_unique<fuzz::SparseSource>(diskBytes);
  source->Place(SectorToByte(ldm::kPrivateHeaderSector), header.data(), header.size());
  if (parsed) {
    uint64_t configEnd = h.configStart + h.configSize;
    for (uint64_t back : {ldm::kPrivCopyFromEnd1, ldm::kPrivCopyFromEnd2})
      if (configEnd >= back)
        source->Place(SectorToByte(configEnd - back), header.data(), header.size());
    source->Place(SectorToByte(AddSat(h.configStart, ldm::kVmdbSector)), database.data(),
                  database.size());
  }
  SourceHandle handle(std::move(source));

  // The second disk finds the group the first one added.
  DiskList list;
  for (int i = 0; i < 2; ++i) {
    DiskInfo disk;
    if (ReadDynamicDisk(list, fuzz::kPath, disk, handle)) list.push_back(std::move(disk));
  }
  return 0;
}
