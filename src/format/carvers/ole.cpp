// OLE compound documents (.doc, .xls, .ppt). The file ends after the last
// sector its allocation table uses; the type comes from the directory's
// stream names or from the summary information's application name.
#include "format/carvers/carver.h"

namespace brevid::carve {
namespace {

constexpr uint8_t kMagic[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr size_t kSectorShift = 0x1E;       // u16: 9 or 12
constexpr size_t kFatSectors = 0x2C;        // u32
constexpr size_t kFirstDirSector = 0x30;    // u32
constexpr size_t kFirstDifatSector = 0x44;  // u32
constexpr size_t kDifatSectors = 0x48;      // u32
constexpr size_t kHeaderDifat = 0x4C;       // 109 u32 FAT sector numbers
constexpr uint32_t kHeaderDifatEntries = 109;
constexpr uint32_t kFreeSector = 0xFFFFFFFF;
constexpr uint32_t kMaxFatSectors = 1 << 17;  // tables of files up to the 4 GiB a record holds
constexpr size_t kDirEntry = 128;
constexpr size_t kDirEntries = 8;
constexpr size_t kEntryStart = 0x74;  // u32
constexpr uint32_t kLastUsableSector = 0xFFFFFF9F;
// Property set, offsets from its start; value offsets count from kSection.
constexpr size_t kSection = 0x30;
constexpr size_t kPropertyCount = 0x34;  // u32
constexpr size_t kPropertyIds = 0x38;    // u32 id, u32 offset, 8 bytes a property
constexpr uint32_t kMaxValueOffset = 976;
constexpr uint32_t kMaxTextLength = 2048;
constexpr uint32_t kStringType = 0x1E;  // a code-page string: u32 type, u32 length, bytes
constexpr uint32_t kTitle = 2;
constexpr uint32_t kAuthor = 4;
constexpr uint32_t kApplication = 18;

// The FAT's own sector numbers, in table order; empty when they cannot be read.
std::vector<uint32_t> FatSectorList(Context& c, unsigned shift) {
  const uint32_t count = LoadLe32(c.head, kFatSectors);
  if (count == 0 || count > kMaxFatSectors) return {};
  std::vector<uint32_t> list;
  for (uint32_t i = 0; i < std::min(count, kHeaderDifatEntries); ++i)
    list.push_back(LoadLe32(c.head, kHeaderDifat + 4 * i));
  const uint32_t perSector = (1u << shift) / 4 - 1;  // the last entry links on
  uint32_t difat = LoadLe32(c.head, kFirstDifatSector);
  for (uint32_t n = 0; list.size() < count && n < LoadLe32(c.head, kDifatSectors); ++n) {
    if (difat > kLastUsableSector) return {};
    const uint64_t base = (uint64_t{difat} + 1) << shift;
    for (uint32_t i = 0; i < perSector && list.size() < count; ++i) {
      Bytes e = c.at.At(base + 4 * i, 4);
      if (e.empty()) return {};
      list.push_back(LoadLe32(e, 0));
    }
    Bytes next = c.at.At(base + 4 * perSector, 4);
    if (next.empty()) return {};
    difat = LoadLe32(next, 0);
  }
  return list.size() == count ? list : std::vector<uint32_t>{};
}

// Bytes up to the end of the last sector the allocation table uses; 0 when unknown.
uint64_t UsedSize(Context& c, unsigned shift) {
  const std::vector<uint32_t> fat = FatSectorList(c, shift);
  const uint32_t perSector = (1u << shift) / 4;
  for (size_t i = fat.size(); i-- > 0;) {
    if (fat[i] > kLastUsableSector) return 0;
    const uint64_t base = (uint64_t{fat[i]} + 1) << shift;
    for (uint32_t j = perSector; j-- > 0;) {
      Bytes e = c.at.At(base + 4 * j, 4);
      if (e.empty()) return 0;
      if (LoadLe32(e, 0) != kFreeSector) return (uint64_t{i} * perSector + j + 2) << shift;
    }
  }
  return 0;
}

// True when the directory entry's UTF-16 name starts with `prefix`.
bool NameStarts(Bytes entry, std::u16string_view prefix) {
  for (size_t i = 0; i < prefix.size(); ++i)
    if (LoadLe16(entry, 2 * i) != prefix[i]) return false;
  return true;
}

// A property-set string: its bytes up to the first NUL.
std::string ReadText(const CarveReader& read, uint64_t pos, uint32_t length) {
  std::vector<uint8_t> bytes(length);  // length checked against kMaxTextLength
  bytes.resize(std::min(read(pos, bytes), bytes.size()));
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return std::string(text.substr(0, text.find('\0')));
}

bool Starts(Bytes head) {
  return InBounds(head, 0, sizeof kMagic) &&
         std::equal(std::begin(kMagic), std::end(kMagic), head.begin());
}

CarveResult Carve(Context& c) {
  const unsigned shift = LoadLe16(c.head, kSectorShift);
  if (shift != 9 && shift != 12) return {};
  const uint64_t size = UsedSize(c, shift);
  if (size == 0) return {};
  uint64_t directory = (uint64_t{LoadLe32(c.head, kFirstDirSector)} + 1) << shift;
  std::string extension;
  uint32_t summary = 0, root = 0;  // kept sectors: stream start + 1
  for (size_t i = 0; i < kDirEntries; ++i) {
    Bytes e = c.at.At(directory + i * kDirEntry, kDirEntry);
    if (e.empty()) break;
    uint32_t kept = LoadLe32(e, kEntryStart) + 1;
    if (NameStarts(e, u"Work")) extension = ".xls";
    if (NameStarts(e, u"Word")) extension = ".doc";
    if (NameStarts(e, u"Powe")) extension = ".ppt";
    if (NameStarts(e, u"\u0005Sum")) summary = kept;
    if (NameStarts(e, u"Root")) root = kept;
  }
  if (!extension.empty()) return RecordNumbered(c, size, extension);

  auto usable = [](uint32_t s) { return s != 0 && s <= kLastUsableSector; };
  uint32_t at = usable(summary) ? summary : usable(root) ? root : 0;
  if (at == 0) return {};
  uint64_t set = uint64_t{at} << shift;
  uint32_t count = LoadLe32(c.at.At(set + kPropertyCount, 4), 0);
  if (uint64_t{count} * 8 + 60 >= 2 * kSector) return {};
  std::string title, author, application;
  for (uint32_t i = 0; i < count; ++i) {
    Bytes p = c.at.At(set + kPropertyIds + 8 * i, 8);
    uint32_t id = LoadLe32(p, 0), offset = LoadLe32(p, 4);
    if (offset > kMaxValueOffset) continue;
    uint64_t value = set + kSection + offset;
    Bytes v = c.at.At(value, 8);
    uint32_t length = LoadLe32(v, 4);
    if (LoadLe32(v, 0) != kStringType || length > kMaxTextLength) continue;
    if (id == kTitle) title = ReadText(c.read, value + 8, length);
    if (id == kAuthor) author = ReadText(c.read, value + 8, length);
    if (id == kApplication) application = ReadText(c.read, value + 8, length);
  }
  if (application == "Microsoft Office Word") extension = ".doc";
  if (application == "Microsoft Excel") extension = ".xls";
  if (application == "Microsoft Office PowerPoint") extension = ".ppt";
  if (extension.empty()) return {};
  title = SafeCarvedName(title), author = SafeCarvedName(author);
  return Record(c, size,
                title.empty() ? author + std::to_string(c.sector) + extension : title + extension);
}

}  // namespace

const Carver kOle{"ole", Starts, Carve, "\xD0", "doc ppt xls"};

}  // namespace brevid::carve
