#include "cli/filter_options.h"

#include <map>
#include <string>

#include "view/recovery_chances.h"

namespace brevid::cli {

void AddFilterOptions(CLI::App* sub, RowFilter* filter) {
  auto day = [](const std::string& text) {
    return IsDayText(text) ? std::string() : "not a day as YYYY-MM-DD: " + text;
  };
  sub->add_option("--name", filter->nameGlob,
                  "Only files whose name matches this pattern (* and ?, case-insensitive)");
  sub->add_option("--min-size", filter->minSize, "Only files of at least this many bytes");
  sub->add_option("--max-size", filter->maxSize, "Only files of at most this many bytes");
  sub->add_option("--modified-after", filter->modifiedAfter,
                  "Only files modified on or after this day (YYYY-MM-DD)")
      ->check(day);
  sub->add_option("--modified-before", filter->modifiedBefore,
                  "Only files modified on or before this day (YYYY-MM-DD)")
      ->check(day);
  sub->add_option_function<std::string>(
         "--recovery",
         [filter](const std::string& word) { filter->recovery = RecoveryFromWord(word); },
         "Only deleted files whose clusters are this free of live files: good, partial or "
         "overwritten")
      ->check(CLI::IsMember({"good", "partial", "overwritten"}));
  // The file pane's type groups, by extension.
  static const std::map<std::string, TypeGroup> groups = {
      {"picture", TypeGroup::kPicture}, {"document", TypeGroup::kDocument},
      {"video", TypeGroup::kVideo},     {"audio", TypeGroup::kAudio},
      {"archive", TypeGroup::kArchive}, {"other", TypeGroup::kOther}};
  sub->add_option_function<std::string>(
         "--type", [filter](const std::string& word) { filter->type = groups.at(word); },
         "Only files of this kind, told by extension: picture, document, video, audio, archive "
         "or other")
      ->check(CLI::IsMember({"picture", "document", "video", "audio", "archive", "other"}));
}

}  // namespace brevid::cli
