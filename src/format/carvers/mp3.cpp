// MP3 and other MPEG audio: an optional ID3v2 tag, then frames each as long
// as its header says, all of one version, layer and sample rate; an ID3v1
// "TAG" after the last frame belongs to the file.
#include "format/carvers/carver.h"

namespace brevid::carve {
namespace {

constexpr size_t kTagSize = 0x06;  // ID3v2: 28-bit synchsafe, 4 bytes
constexpr uint64_t kTagHeader = 10;
constexpr uint64_t kTrailer = 128;     // "TAG"
constexpr size_t kMinFrames = 16;      // fewer in a row are too often chance
constexpr uint8_t kStreamBits = 0xFE;  // byte 1: sync, version, layer
constexpr uint8_t kRateBits = 0x0C;    // byte 2: sample rate

// The length of the MPEG audio frame whose header is `f`; 0 when it is none.
uint32_t FrameLength(Bytes f) {
  // kbit/s: MPEG-1 layers I, II, III; MPEG-2 and 2.5 layer I; layers II and III.
  static constexpr uint16_t kBitrates[5][15] = {
      {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};
  // Hz by version bits: MPEG-2.5, reserved, MPEG-2, MPEG-1.
  static constexpr uint32_t kRates[4][3] = {
      {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
  if (Load8(f, 0) != 0xFF || Load8(f, 1) < 0xE0) return 0;
  unsigned version = (f[1] >> 3) & 3, layer = (f[1] >> 1) & 3;  // layer 3 is I, 1 is III
  unsigned bitrateIndex = Load8(f, 2) >> 4, rateIndex = (Load8(f, 2) >> 2) & 3;
  uint32_t padding = (Load8(f, 2) >> 1) & 1;
  if (version == 1 || layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
    return 0;
  bool mpeg1 = version == 3;
  size_t table = mpeg1 ? 3 - layer : layer == 3 ? 3 : 4;
  uint32_t bitrate = kBitrates[table][bitrateIndex] * 1000u, rate = kRates[version][rateIndex];
  if (layer == 3) return (12 * bitrate / rate + padding) * 4;
  if (layer == 2 || mpeg1) return 144 * bitrate / rate + padding;
  return 72 * bitrate / rate + padding;
}

bool Starts(Bytes head) {
  return (Load8(head, 0) == 0xFF && Load8(head, 1) >= 0xE0 && InBounds(head, 2, 1) &&
          head[2] < 0xF0) ||
         BytesEqual(head, 0, "ID3");
}

CarveResult Carve(Context& c) {
  uint64_t h = 0;
  if (BytesEqual(c.head, 0, "ID3")) {
    for (size_t i = 0; i < 4; ++i) h = (h << 7) | (Load8(c.head, kTagSize + i) & 0x7F);
    h += kTagHeader;
  }
  size_t frames = 0;
  uint8_t stream = 0, rate = 0;
  const uint64_t bound = std::min(c.limit, kLargestFile);
  while (h < bound) {
    Bytes f = c.at.At(h, 3);
    uint32_t length = FrameLength(f);
    if (length == 0) break;
    if (frames == 0) stream = f[1] & kStreamBits, rate = f[2] & kRateBits;
    if ((f[1] & kStreamBits) != stream || (f[2] & kRateBits) != rate) break;
    h += length;
    ++frames;
  }
  if (frames < kMinFrames) return {};
  h = std::min(h, c.limit);  // a last frame cut by the source's end
  if (BytesEqual(c.at.At(h, 3), 0, "TAG")) h += kTrailer;
  return RecordNumbered(c, std::min(h, c.limit), ".mp3");
}

}  // namespace

const Carver kMp3{"mp3", Starts, Carve, "\xFFI", "mp3"};

}  // namespace brevid::carve
