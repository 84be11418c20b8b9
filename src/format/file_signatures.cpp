#include "format/file_signatures.h"

#include <cstdlib>

#include "format/carving.h"

namespace brevid {
namespace {

constexpr size_t kOleFatSectors = 0x2C;  // u32
constexpr uint64_t kOleBytesPerFatSector = 65536;
constexpr size_t kRiffSize = 0x04;  // u32
constexpr size_t kRiffForm = 0x08;
constexpr size_t kZipFirstName = 30;

// The first stored name of a ZIP local header, its first 19 characters.
bool ZipNamesContentTypes(Bytes c) { return BytesEqual(c, kZipFirstName, "[Content_Types].xml"); }

}  // namespace

bool MatchesSignature(Bytes c, const std::string& ext, uint32_t size, bool multiVariant) {
  if (multiVariant && ext != "jpg" && ext != "jpeg" && ext != "doc" && ext != "ppt" && ext != "xls")
    return false;
  if (!StartsFileOfExtension(c, ext)) return false;
  if (ext == "doc" || ext == "ppt" || ext == "xls") {
    uint64_t n = LoadLe32(c, kOleFatSectors);
    return n >= 1 && (n - 1) * kOleBytesPerFatSector < size && size <= n * kOleBytesPerFatSector;
  }
  if (ext == "avi") {
    if (!BytesEqual(c, kRiffForm, "AVI ")) return false;
    int64_t r = LoadLe32(c, kRiffSize);
    return std::llabs(r - static_cast<int64_t>(size) + 12) < 512;
  }
  // An Office document is a ZIP whose first member is usually, not always,
  // "[Content_Types].xml" (some writers put "_rels/.rels" first): any ZIP
  // can start one, while a ZIP file must not look like a document.
  if (ext == "zip") return !ZipNamesContentTypes(c);
  return true;
}

}  // namespace brevid
