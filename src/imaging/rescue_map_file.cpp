#include "imaging/rescue_map_file.h"

#include "platform/file_system.h"
#include "platform/target_handle.h"

namespace brevid {
namespace {

// A map of a badly damaged disk may list many areas; a file far beyond any
// real one is refused rather than held in memory.
constexpr uint64_t kLargestMapFile = 256ull << 20;

}  // namespace

MapLoad LoadRescueMapFile(const std::string& ansiPath, RescueMap* map, std::string* error) {
  if (!PathExists(ansiPath)) return MapLoad::kMissing;
  std::optional<std::string> text = ReadSmallFile(ansiPath, kLargestMapFile);
  if (!text) {
    *error = "cannot read the map file, or it is too large";
    return MapLoad::kDamaged;
  }
  std::optional<RescueMap> parsed = ParseRescueMap(*text, error);
  if (!parsed) return MapLoad::kDamaged;
  *map = std::move(*parsed);
  return MapLoad::kLoaded;
}

bool SaveRescueMapFile(const std::string& ansiPath, const RescueMap& map) {
  const std::string temporary = ansiPath + ".tmp";
  const std::string text = FormatRescueMap(map);
  TargetHandle out = TargetHandle::Open(temporary, TargetHandle::Mode::kCreateAlways);
  size_t written = 0;
  const bool complete =
      out.IsOpen() &&
      out.Write(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), &written) &&
      out.Flush();
  out.Close();
  if (complete && RenameFile(temporary, ansiPath)) return true;
  RemoveFile(temporary);
  return false;
}

}  // namespace brevid
