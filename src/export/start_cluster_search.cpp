#include <cstdlib>

#include "common/sector_range.h"
#include "export/fat_saver.h"
#include "export/output_files.h"
#include "format/file_signatures.h"

namespace brevid {
int SearchStartCluster(const SaveRequest& request, const FileEntry& entry,
                       const std::string& extension, const std::string& givenPath, std::string path,
                       TargetHandle& output, int counter) {
  const VolumeInfo& v = *request.volume;
  uint32_t ss = v.sectorSize ? v.sectorSize : 512;
  uint64_t clusterBytes = uint64_t{v.sectorsPerCluster} * ss;
  int shift = IsFat16Type(v.fsType) ? 17 : IsFat32Type(v.fsType) ? 18 : -1;
  if (clusterBytes == 0 || shift < 0) return 0;
  uint64_t highHalves = std::min<uint64_t>((uint64_t{v.fatSectors} * ss) >> shift, 0xFFFF);
  uint32_t low = entry.firstCluster & 0xFFFF;
  int matches = 0;

  for (uint64_t t = 0; t <= highHalves && !request.Stopped(); ++t) {
    uint32_t c = static_cast<uint32_t>(t << 16) | low;
    if (request.used->count(c)) continue;
    uint64_t position = SectorToByte(uint64_t{c} * v.sectorsPerCluster + v.clusterBase, ss);
    std::vector<uint8_t> first = request.reader->Read(position, clusterBytes);
    if (!MatchesSignature(first, extension, entry.size, request.multi)) continue;

    // The whole clusters the size covers, read and written in 10 MiB pieces
    // so that a hostile size cannot ask for one huge buffer.
    constexpr uint64_t kPiece = 0xA00000;
    if (!output.IsOpen()) output = TargetHandle::Open(path, TargetHandle::Mode::kOpenAlways);
    // A candidate may lie past the volume (a 16-bit FAT's high halves), but
    // never takes more than the source holds.
    uint64_t size = std::min<uint64_t>(entry.size, BytesToSourceEnd(request, position));
    OutputSeal seal(request, output, path, size);
    if (size < entry.size) request.CutAtEnd();
    std::vector<uint8_t> piece;
    for (uint64_t done = 0; done < size;) {
      uint64_t n = std::min<uint64_t>(kPiece, size - done);
      piece.assign(n, 0);
      request.reader->ReadInto(position + done, piece);
      size_t written = 0;
      output.Write(piece, &written);
      request.Wrote(written);
      done += n;
      if (written < n || request.Stopped()) break;
    }
    output.Close();
    if (request.stats) request.stats->files++;
    request.FilePosition(100);
    request.used->insert(c);
    path = NextFreeName(givenPath, &counter);
    ++matches;
  }
  if (matches > 0) request.FilePosition(100);
  return matches;
}

}  // namespace brevid
