// RIFF: AVI, WAV and WebP. The RIFF size gives the end; the chunks inside
// must lead exactly to it. An AVI over 1 GiB goes on in "AVIX" RIFF lists.
#include "format/carvers/carver.h"

namespace brevid::carve {
namespace {

constexpr size_t kRiffSize = 0x04;  // LE u32, bytes after this field
constexpr size_t kForm = 0x08;
constexpr uint64_t kRiffHeader = 8;
constexpr uint64_t kChunkHeader = 8;  // id, LE u32 size; data padded to even
constexpr size_t kMaxChunks = 1 << 16;

const char* Extension(Bytes head) {
  if (BytesEqual(head, kForm, "AVI ")) return ".avi";
  if (BytesEqual(head, kForm, "WAVE")) return ".wav";
  if (BytesEqual(head, kForm, "WEBP")) return ".webp";
  return nullptr;
}

bool IsChunkId(Bytes id) {
  return id.size() == 4 && std::ranges::all_of(id, [](uint8_t b) { return b >= 0x20 && b < 0x7F; });
}

// The end of the RIFF list at `pos`, when its chunks fill it exactly.
std::optional<uint64_t> ListEnd(Context& c, uint64_t pos) {
  Bytes header = c.at.At(pos, 12);
  if (header.empty()) return std::nullopt;
  const uint64_t end = pos + kRiffHeader + LoadLe32(header, kRiffSize);
  uint64_t h = pos + 12;
  for (size_t n = 0; h + kChunkHeader <= end && n < kMaxChunks; ++n) {
    Bytes chunk = c.at.At(h, kChunkHeader);
    if (!IsChunkId(chunk.first(std::min<size_t>(4, chunk.size())))) return std::nullopt;
    uint64_t size = LoadLe32(chunk, 4);
    h += kChunkHeader + size + (size & 1);
  }
  // The last chunk's pad byte may be left out.
  if (h != end && h != end + 1) return std::nullopt;
  return end;
}

bool Starts(Bytes head) { return BytesEqual(head, 0, "RIFF") && Extension(head) != nullptr; }

CarveResult Carve(Context& c) {
  std::optional<uint64_t> end = ListEnd(c, 0);
  if (!end) return {};
  const char* extension = Extension(c.head);
  if (BytesEqual(c.head, kForm, "AVI ")) {
    for (size_t n = 0; n < kMaxChunks; ++n) {
      Bytes next = c.at.At(*end, 12);
      if (!BytesEqual(next, 0, "RIFF") || !BytesEqual(next, kForm, "AVIX")) break;
      std::optional<uint64_t> more = ListEnd(c, *end);
      if (!more) break;
      end = more;
    }
  }
  return RecordNumbered(c, *end, extension);
}

}  // namespace

const Carver kRiff{"riff", Starts, Carve, "R", "avi wav webp"};

}  // namespace brevid::carve
