// One MFT record, with attribute lists served from the rest of the input.
#include <cstring>
#include <vector>

#include "format/data_run.h"
#include "format/mft_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace brevid;
  std::vector<uint8_t> record(data, data + std::min(size, kMftRecordSize));
  record.resize(kMftRecordSize, 0);
  const std::vector<uint8_t> rest(data + std::min(size, kMftRecordSize), data + size);
  MftRecordFetcher fetcher;
  fetcher.clusterBytes = 512;
  fetcher.readRecord = [&](uint32_t number, std::span<uint8_t> out) {
    size_t at = (size_t{number} % 8) * kMftRecordSize;
    if (at >= rest.size()) return false;
    std::memcpy(out.data(), rest.data() + at, std::min(out.size(), rest.size() - at));
    return true;
  };
  fetcher.readClusters = [&](uint32_t cluster, uint32_t, std::span<uint8_t> out) {
    size_t at = size_t{cluster % 64} * 512;
    if (at >= rest.size()) return false;
    std::memcpy(out.data(), rest.data() + at, std::min(out.size(), rest.size() - at));
    return true;
  };
  MftRecordInfo info;
  std::vector<uint8_t> copy = record;
  ParseMftRecord(copy, 0, info, 0, &fetcher);
  copy = record;
  ParseMftRecord(copy, 7, info, kNestedRead, &fetcher);
  MftSummary summary;
  copy = record;
  if (CheckMftRecord(copy)) SummarizeMftRecord(copy, summary);
  copy = record;
  ParseVolumeName(copy);
  WalkMappingPairs(Bytes(data, size), [](uint32_t, uint32_t) { return true; });
  return 0;
}
