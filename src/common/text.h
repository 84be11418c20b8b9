// Small text helpers shared by every layer.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>

namespace brevid {

// printf into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A size as the panes show it: "%.1f" with " KB" below 0.0001 GiB, " MB"
// below 0.1 GiB, else " GB".
std::string FormatPaneSize(uint64_t bytes);

// Removes white space (space, tab, CR, LF, VT, FF) at both ends.
std::string Trim(std::string_view text);

// Cuts `text` at its first NUL.
std::string_view UpToNul(std::string_view text);

}  // namespace brevid
