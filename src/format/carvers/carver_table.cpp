#include "format/carvers/carver.h"

namespace brevid::carve {

std::span<const Carver> Carvers() {
  // Order matters only where start tests overlap: RIFF and ISO media before
  // the looser tests, JPEG before MP3 (both start with FF), TIFF before MP3.
  static const Carver* const kTable[] = {&kPdf, &kMpeg, &kRiff,     &kIsoMedia, &kZip,
                                         &kRar, &kOle,  &kJpeg,     &kPng,      &kGif,
                                         &kBmp, &kTiff, &kSevenZip, &kSqlite,   &kMp3};
  static const std::vector<Carver> kCarvers = [] {
    std::vector<Carver> v;
    for (const Carver* c : kTable) v.push_back(*c);
    return v;
  }();
  return kCarvers;
}

}  // namespace brevid::carve
