#include <algorithm>

#include "format/carvers/carver.h"

namespace brevid::carve {

Bytes Cursor::At(uint64_t pos, size_t size) {
  if (Holds(0, head_.size(), pos, size)) return head_.subspan(pos, size);
  if (!Holds(base_, avail_, pos, size)) {
    base_ = pos / kSector * kSector;
    avail_ = std::min(read_(base_, buffer_), buffer_.size());
  }
  if (!Holds(base_, avail_, pos, size)) return {};
  return Bytes(buffer_).subspan(pos - base_, size);
}

ChainWalk::ChainWalk(Context& c, SearchSlot slot)
    : c_(c), memo_(c.memory ? &c.memory->chains[static_cast<size_t>(slot)] : nullptr) {}

bool ChainWalk::Step(uint64_t pos) {
  if (memo_ == nullptr) return true;
  const uint64_t absolute = c_.Origin() + pos;
  if (std::binary_search(memo_->steps.begin(), memo_->steps.end(), absolute)) return false;
  // Kept bounded: a walk of millions of steps is remembered by its first ones.
  constexpr size_t kMaxSteps = 1 << 20;
  if (steps_.size() < kMaxSteps) steps_.push_back(absolute);
  return true;
}

void ChainWalk::Failed() {
  if (memo_ == nullptr || steps_.empty()) return;
  // Only a walk that went further than the remembered one replaces it.
  if (!memo_->steps.empty() && memo_->steps.back() >= steps_.back()) return;
  std::sort(steps_.begin(), steps_.end());
  memo_->steps = std::move(steps_);
}

std::string SafeCarvedName(std::string_view text, size_t maxBytes) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    auto b = static_cast<uint8_t>(text[i]);
    // A CP936 lead byte takes its trail byte with it, or the pair is dropped.
    size_t width = b >= 0x81 && b <= 0xFE ? 2 : 1;
    if (width == 2 && (i + 1 >= text.size() || static_cast<uint8_t>(text[i + 1]) < 0x40)) {
      out += '_';
      ++i;
      continue;
    }
    if (out.size() + width > maxBytes) break;
    if (width == 2) {
      out.append(text.substr(i, 2));
    } else {
      bool bad =
          b < 0x20 || b == 0x7F || b >= 0x80 ||
          std::string_view("/\\:*?\"<>|").find(static_cast<char>(b)) != std::string_view::npos;
      out += bad ? '_' : static_cast<char>(b);
    }
    i += width;
  }
  // Trailing dots and spaces are dropped by some file systems.
  while (!out.empty() && (out.back() == '.' || out.back() == ' ')) out.pop_back();
  return out;
}

CarveResult Record(const Context& c, uint64_t size, std::string_view name) {
  if (size == 0 || size > c.limit || size > kLargestFile) return {};
  return {true, size, std::string(name)};
}

CarveResult RecordNumbered(const Context& c, uint64_t size, std::string_view extension) {
  return Record(c, size, std::to_string(c.sector) + std::string(extension));
}

}  // namespace brevid::carve
