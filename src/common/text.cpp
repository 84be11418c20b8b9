#include "common/text.h"

#include <cstdio>
#include <vector>

#include "common/endian.h"

namespace brevid {

std::string Format(const char* format, ...) {
  // Most texts are short: one pass into a stack buffer, a second only when
  // it was too small.
  char small[256];
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int needed = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  std::string out;
  if (needed > 0 && static_cast<size_t>(needed) < sizeof small) {
    out.assign(small, static_cast<size_t>(needed));
  } else if (needed > 0) {
    out.resize(static_cast<size_t>(needed) + 1);
    std::vsnprintf(out.data(), out.size(), format, args);
    out.resize(static_cast<size_t>(needed));
  }
  va_end(args);
  return out;
}

static bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string FormatPaneSize(uint64_t bytes) {
  double b = static_cast<double>(bytes);
  double g = b / (1024.0 * 1024.0 * 1024.0);
  if (g > 0.0001 && g < 0.1) return Format("%.1f", b / (1024.0 * 1024.0)) + " MB";
  if (g < 0.0001) return Format("%.1f", b / 1024.0) + " KB";
  return Format("%.1f", g) + " GB";
}

std::string Trim(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && IsSpace(text[b])) ++b;
  while (e > b && IsSpace(text[e - 1])) --e;
  return std::string(text.substr(b, e - b));
}

std::string_view UpToNul(std::string_view text) {
  size_t nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}

}  // namespace brevid
