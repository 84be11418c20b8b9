#include "format/file_signatures.h"

#include <algorithm>
#include <cstdlib>
#include <initializer_list>

namespace brevid {
namespace {

bool In(const std::string& ext, std::initializer_list<const char*> list) {
  for (const char* e : list)
    if (ext == e) return true;
  return false;
}

// The first stored name of a ZIP local header (at 30), its first 19 characters.
bool ZipNamesContentTypes(Bytes c) { return BytesEqual(c, 30, "[Content_Types].xml"); }

}  // namespace

bool MatchesSignature(Bytes c, const std::string& ext, uint32_t size, bool multiVariant) {
  static constexpr uint8_t kOle[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  if (Load8(c, 0) == 0xFF && Load8(c, 1) == 0xD8 && Load8(c, 2) == 0xFF &&
      (BytesEqual(c, 6, "JFIF") || BytesEqual(c, 6, "Exif")))
    return In(ext, {"jpg", "jpeg"});
  if (InBounds(c, 0, 8) && std::equal(kOle, kOle + 8, c.begin())) {
    uint64_t n = LoadLe32(c, 44);
    return In(ext, {"doc", "ppt", "xls"}) && n >= 1 && (n - 1) * 65536 < size && size <= n * 65536;
  }
  if (multiVariant) return false;
  if (BytesEqual(c, 0, "%PDF-1")) return ext == "pdf";
  if (Load8(c, 0) == 0 && Load8(c, 1) == 0 && Load8(c, 2) == 1 && Load8(c, 3) == 0xBA) {
    size_t at = Load8(c, 4) == 0x21 ? 12 : Load8(c, 4) == 0x44 ? 14 : 0;
    return at != 0 && LoadBe32(c, at) == 0x000001BB && ext == "mpeg";
  }
  if (BytesEqual(c, 0, "RIFF") && BytesEqual(c, 8, "AVI ") && BytesEqual(c, 12, "LIST")) {
    int64_t r = LoadLe32(c, 4);
    return ext == "avi" && std::llabs(r - static_cast<int64_t>(size) + 12) < 512;
  }
  if (BytesEqual(c, 4, "ftyp")) return ext == "mp4";
  if (LoadLe32(c, 0) == 0x04034B50) {
    // An Office document is a ZIP whose first member is usually, not always,
    // "[Content_Types].xml" (some writers put "_rels/.rels" first): any ZIP
    // can start one, while a ZIP file must not look like a document.
    if (In(ext, {"docx", "pptx", "xlsx"})) return true;
    return ext == "zip" && !ZipNamesContentTypes(c);
  }
  static constexpr uint8_t kRar[] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
  return ext == "rar" && InBounds(c, 0, 7) && std::equal(kRar, kRar + 7, c.begin());
}

}  // namespace brevid
