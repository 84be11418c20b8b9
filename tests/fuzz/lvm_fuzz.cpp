// An LVM2 physical volume: the label, the metadata-area header and the
// volume group's text. The input is [sector 1][area header][text]; each part
// is placed where the one before points, on a disk of zeros.
#include <map>
#include <string>

#include "common/saturating.h"
#include "format/lvm_metadata.h"
#include "fuzz_common.h"
#include "partition/lvm2.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace brevid;
  constexpr size_t kSector = 512;
  Bytes input(data, size);
  Bytes sector1 = SubBytes(input, 0, kSector);
  Bytes header = SubBytes(input, kSector, kSector);
  Bytes text = size > 2 * kSector ? input.subspan(2 * kSector) : Bytes();
  ParseLvmMetadata(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));

  LvmLabel label;
  ParseLvmLabel(sector1, &label);
  LvmRawLocation raw = ParseLvmMdaHeader(header);
  // The disk ends behind the text, so the text's size field cannot make every
  // run read megabytes of zeros.
  uint64_t textAt = AddSat(label.mdaOffset, raw.offset);
  uint64_t diskBytes = std::max(
      {uint64_t{2} * kSector, AddSat(label.mdaOffset, header.size()), AddSat(textAt, text.size())});
  auto source = std::make_unique<fuzz::SparseSource>(diskBytes);
  source->Place(kSector, sector1.data(), sector1.size());
  source->Place(label.mdaOffset, header.data(), header.size());
  source->Place(textAt, text.data(), text.size());
  SourceHandle handle(std::move(source));

  DiskList list(2);
  for (DiskInfo& disk : list) {
    disk.path = fuzz::kPath;
    disk.sizeBytes = diskBytes;
    ReadLvmLabel(sector1, disk, handle);
  }
  // A second physical volume of the same group joins the first.
  list[1].pvUuid += "2";
  std::map<std::string, DiskInfo::LvmPvPlace> places;
  for (const auto& [uuid, place] : list[1].lvmPvs) places[uuid + "2"] = place;
  list[1].lvmPvs = places;
  list[1].path += "2";
  ResolveLvmMemberPaths(list, list[0]);
  return 0;
}
