// ZIP and the Office Open XML documents: local headers walked by their
// sizes; where a member's sizes follow it in a data descriptor, the end of
// central directory is searched for and believed only when the central
// directory it points at ends right before it.
#include "format/carvers/carver.h"

namespace brevid::carve {
namespace {

constexpr uint32_t kLocal = 0x04034B50;
constexpr uint32_t kCentral = 0x02014B50;
constexpr uint32_t kEnd = 0x06054B50;
constexpr uint32_t kDescriptor = 0x08074B50;
constexpr size_t kLocalHeader = 30;
constexpr size_t kLocalFlags = 0x06;           // u16
constexpr uint16_t kSizesFollow = 0x0008;      // sizes in a data descriptor
constexpr size_t kLocalCompressedSize = 0x12;  // u32
constexpr size_t kLocalNameLength = 0x1A;      // u16
constexpr size_t kLocalExtraLength = 0x1C;     // u16
constexpr size_t kCentralHeader = 46;
constexpr size_t kCentralNameLength = 0x1C;     // u16
constexpr size_t kCentralExtraLength = 0x1E;    // u16
constexpr size_t kCentralCommentLength = 0x20;  // u16
constexpr size_t kEndRecord = 22;
constexpr size_t kEndDirectorySize = 0x0C;    // u32
constexpr size_t kEndDirectoryOffset = 0x10;  // u32, from the archive's start
constexpr size_t kEndCommentLength = 0x14;    // u16
constexpr size_t kDescriptorSize = 16;
constexpr size_t kMaxCentralEntries = 1 << 20;
constexpr std::string_view kContentTypes = "[Content_Types].xml";

// A central-directory name's top folder, as far as it decides the document.
void ChooseOfficeExtension(Bytes name, std::string& extension) {
  auto slash = std::find(name.begin(), name.end(), '/');
  std::string_view top(reinterpret_cast<const char*>(name.data()), slash - name.begin());
  if (top == "xl") extension = ".xlsx";
  if (top == "ppt") extension = ".pptx";
  if (top == "word") extension = ".docx";
}

// Walks the central directory from `h` to the end record; its end, or none.
std::optional<uint64_t> CentralToEnd(Context& c, uint64_t h, std::string& extension) {
  for (size_t n = 0; n <= kMaxCentralEntries && h < c.limit; ++n) {
    Bytes r = c.at.At(h, kCentralHeader);
    if (r.empty()) return std::nullopt;
    if (LoadLe32(r, 0) == kEnd) return h + kEndRecord + LoadLe16(r, kEndCommentLength);
    if (LoadLe32(r, 0) != kCentral) return std::nullopt;
    uint16_t nameLength = LoadLe16(r, kCentralNameLength);
    // "word/" is the longest top folder that decides; five bytes tell.
    ChooseOfficeExtension(c.at.At(h + kCentralHeader, std::min<size_t>(nameLength, 5)), extension);
    h += kCentralHeader + nameLength + LoadLe16(r, kCentralExtraLength) +
         LoadLe16(r, kCentralCommentLength);
  }
  return std::nullopt;
}

// Finds an end record whose central directory ends right before it.
std::optional<uint64_t> SearchEnd(Context& c, uint64_t from, std::string& extension) {
  const uint64_t searchFrom = from;
  for (;;) {
    std::optional<uint64_t> at = Search(c, from, kLargestFile, 'P', 4, SearchSlot::kZipEnd,
                                        [](Bytes w, size_t i) { return LoadLe32(w, i) == kEnd; });
    if (!at) break;
    Bytes r = c.at.At(*at, kEndRecord);
    uint64_t directory = LoadLe32(r, kEndDirectoryOffset);
    if (!r.empty() && directory + LoadLe32(r, kEndDirectorySize) == *at)
      if (std::optional<uint64_t> end = CentralToEnd(c, directory, extension)) return end;
    from = *at + 1;
  }
  // End records that did not fit count as looked at too: a disk full of
  // them must not be searched again from every start.
  if (c.memory) {
    SearchMemo& memo = c.memory->searches[static_cast<size_t>(SearchSlot::kZipEnd)];
    memo.from = std::min(memo.from, c.Origin() + searchFrom);
  }
  return std::nullopt;
}

bool Starts(Bytes head) { return LoadLe32(head, 0) == kLocal; }

CarveResult Carve(Context& c) {
  std::string extension;
  ChainWalk walk(c, SearchSlot::kZip);
  std::optional<uint64_t> end;
  uint64_t h = 0;
  while (!end && h < std::min(c.limit, kLargestFile)) {
    if (!walk.Step(h)) return {};
    Bytes sig = c.at.At(h, 4);
    if (!BytesEqual(sig, 0, "PK")) break;
    const uint32_t kind = LoadLe32(sig, 0);
    if (kind == kLocal) {
      Bytes r = c.at.At(h, kLocalHeader);
      if (r.empty()) break;
      uint32_t compressed = LoadLe32(r, kLocalCompressedSize);
      if ((LoadLe16(r, kLocalFlags) & kSizesFollow) && compressed == 0) {
        end = SearchEnd(c, h + kLocalHeader, extension);
        break;
      }
      h += kLocalHeader + LoadLe16(r, kLocalNameLength) + LoadLe16(r, kLocalExtraLength) +
           compressed;
    } else if (kind == kCentral || kind == kEnd) {
      end = CentralToEnd(c, h, extension);
      break;
    } else if (kind == kDescriptor) {
      h += BytesEqual(c.at.At(h + 4, 2), 0, "PK") ? 4 : kDescriptorSize;
    } else {
      h += 4;
    }
  }
  if (!end) {
    walk.Failed();
    return {};
  }
  if (!BytesEqual(c.head, kLocalHeader, kContentTypes)) extension = ".zip";
  return RecordNumbered(c, *end, extension);
}

}  // namespace

const Carver kZip{"zip", Starts, Carve, "P", "zip docx xlsx pptx"};

}  // namespace brevid::carve
