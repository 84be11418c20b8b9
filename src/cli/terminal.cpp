#include "cli/terminal.h"

#include <unistd.h>

#include <algorithm>

#include "platform/codepage.h"
#include "platform/message_box.h"

namespace brevid::cli {

size_t DisplayWidth(const std::string& s) {
  size_t width = 0;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    uint32_t cp = c;
    if (len > 1 && i + len <= s.size()) {
      cp = c & (0x7F >> len);
      for (size_t k = 1; k < len; ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    }
    width += (cp >= 0x1100 &&
              (cp <= 0x115F || (cp >= 0x2E80 && cp <= 0xA4CF) || (cp >= 0xAC00 && cp <= 0xD7A3) ||
               (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFE30 && cp <= 0xFE4F) ||
               (cp >= 0xFF00 && cp <= 0xFF60) || (cp >= 0xFFE0 && cp <= 0xFFE6) || cp >= 0x20000))
                 ? 2
                 : 1;
    i += len;
  }
  return width;
}

std::string PrintableText(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    // C0 controls, DEL, and the C1 controls U+0080..U+009F (C2 80..C2 9F).
    if (c < 0x20 || c == 0x7F) {
      out += '?';
    } else if (c == 0xC2 && i + 1 < utf8.size() &&
               static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(utf8[i + 1]) <= 0x9F) {
      out += '?';
      ++i;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

void TextTable::Print(std::FILE* out) const {
  StreamedTable table;
  for (const auto& row : rows_) table.Measure(row);
  for (const auto& row : rows_) table.PrintRow(out, row);
}

namespace {

// Whether `utf8` is its own printable text (no control character to
// replace), as almost every cell is.
bool IsPrintable(const std::string& utf8) {
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x20 || c == 0x7F) return false;
    if (c == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
        static_cast<unsigned char>(utf8[i + 1]) <= 0x9F)
      return false;
  }
  return true;
}

bool IsAscii(const std::string& s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// The display width of `cell`'s printable text; `*asIs` says whether that
// text is the cell itself, as almost every cell's is.
size_t PrintableWidth(const std::string& cell, bool* asIs) {
  // Printable ASCII, the common cell, is its own text, one column a byte.
  size_t plain = 0;
  while (plain < cell.size() && static_cast<unsigned char>(cell[plain]) - 0x20u < 0x5Fu) ++plain;
  *asIs = plain == cell.size() || IsPrintable(cell);
  if (plain == cell.size()) return plain;
  if (*asIs) return IsAscii(cell) ? cell.size() : DisplayWidth(cell);
  return DisplayWidth(PrintableText(cell));
}

// Appends the printable text of `cell` to `line`; returns its display width.
size_t AppendPrintable(std::string& line, const std::string& cell) {
  bool asIs = false;
  const size_t width = PrintableWidth(cell, &asIs);
  line += asIs ? cell : PrintableText(cell);
  return width;
}

}  // namespace

namespace {

std::vector<const std::string*> CellPointers(const std::vector<std::string>& cells) {
  std::vector<const std::string*> pointers;
  for (const std::string& cell : cells) pointers.push_back(&cell);
  return pointers;
}

}  // namespace

void StreamedTable::Measure(const std::vector<std::string>& cells) { Measure(CellPointers(cells)); }

void StreamedTable::PrintRow(std::FILE* out, const std::vector<std::string>& cells) const {
  PrintRow(out, CellPointers(cells));
}

void StreamedTable::Measure(std::span<const std::string* const> cells) {
  if (widths_.size() < cells.size()) widths_.resize(cells.size(), 0);
  bool asIs = false;
  for (size_t c = 0; c < cells.size(); ++c)
    widths_[c] = std::max(widths_[c], PrintableWidth(*cells[c], &asIs));
}

void StreamedTable::PrintRow(std::FILE* out, std::span<const std::string* const> cells) const {
  std::string& line = scratch_;
  line.clear();
  for (size_t c = 0; c < cells.size(); ++c) {
    const size_t width = AppendPrintable(line, *cells[c]);
    if (c + 1 < cells.size()) line.append(widths_[c] - width + 2, ' ');
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), out);
}

void InstallTerminalMessageBoxes() {
  SetMessageBoxHandler([](const std::string& text, const std::string& caption, unsigned style) {
    std::fprintf(stderr, "%s: %s\n", AnsiToUtf8(caption).c_str(), AnsiToUtf8(text).c_str());
    return (style & 0xF) == kMbYesNo ? kIdYes : kIdOk;
  });
}

TerminalProgress::TerminalProgress(std::string caption, Recaption recaption)
    : caption_(std::move(caption)),
      recaption_(std::move(recaption)),
      enabled_(::isatty(STDERR_FILENO) == 1) {}

TerminalProgress::~TerminalProgress() {
  if (enabled_ && lastPercent_ >= 0) std::fprintf(stderr, "\n");
}

void TerminalProgress::Send(uint32_t message, uint64_t wParam, uint64_t lParam) {
  if (recaption_) {
    std::string caption = recaption_(message, wParam);
    if (!caption.empty()) SetCaption(std::move(caption));
  }
  switch (message) {
    case kProgressSetRange:
      range_ = wParam;
      step_ = lParam == 0 ? 1 : lParam;
      position_ = 0;
      break;
    case kProgressStep:
      position_ = std::min(range_, position_ + step_);
      break;
    case kProgressSetPos:
      position_ = std::min(range_, wParam);
      break;
    case kProgressClose:
      if (enabled_ && lastPercent_ >= 0) std::fprintf(stderr, "\n");
      lastPercent_ = -1;
      return;
    default:
      return;
  }
  Draw();
}

void TerminalProgress::SetCaption(std::string caption) {
  if (caption == caption_) return;
  caption_ = std::move(caption);
  if (enabled_ && lastPercent_ >= 0) std::fprintf(stderr, "\r\033[K");
  lastPercent_ = -2;  // drawn again whatever the percentage
}

void TerminalProgress::Draw() {
  if (!enabled_ || range_ == 0) return;
  int percent = static_cast<int>(position_ * 100 / range_);
  if (percent == lastPercent_) return;
  lastPercent_ = percent;
  constexpr int kBarWidth = 40;
  int filled = percent * kBarWidth / 100;
  std::fprintf(stderr, "\r%s [%s%s] %3d%%", caption_.c_str(), std::string(filled, '#').c_str(),
               std::string(kBarWidth - filled, '.').c_str(), percent);
  std::fflush(stderr);
}

}  // namespace brevid::cli
