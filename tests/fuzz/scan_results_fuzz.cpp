// The scan-result reader over any file.
#include "device/disk_info.h"
#include "platform/byte_source.h"
#include "results/scan_result_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<brevid::ByteSource> file =
      brevid::MakeMemorySource(std::vector<uint8_t>(data, data + size));
  brevid::DiskInfo disk;
  std::string key;
  brevid::ReadScanResults(*file, disk, nullptr, &key);
  return 0;
}
