// Fields of /proc/self/mountinfo.
#pragma once

#include <string>

namespace brevid {

// mountinfo escapes space, tab, newline and backslash as \ooo; this undoes it.
std::string UnescapeMountField(const std::string& field);

}  // namespace brevid
