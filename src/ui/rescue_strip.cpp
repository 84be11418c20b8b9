#include "ui/rescue_strip.h"

#include <QPainter>
#include <algorithm>

namespace brevid::ui {
namespace {

constexpr int kCells = 96;

int Severity(char status) {
  switch (status) {
    case rescue::kBadSector:
      return 4;
    case rescue::kNonTrimmed:
    case rescue::kNonScraped:
      return 3;
    case rescue::kNonTried:
      return 2;
    case rescue::kFinished:
      return 1;
    default:
      return 0;
  }
}

QColor Colour(char status) {
  switch (status) {
    case rescue::kFinished:
      return QColor(0x32, 0xC8, 0x32);
    case rescue::kBadSector:
      return QColor(0xFF, 0, 0);
    case rescue::kNonTrimmed:
    case rescue::kNonScraped:
      return QColor(0xF0, 0xC0, 0x20);
    default:
      return QColor(0xC8, 0xC8, 0xC8);
  }
}

}  // namespace

RescueStrip::RescueStrip(QWidget* parent) : QWidget(parent) {}

void RescueStrip::SetMap(const RescueMap& map, uint64_t begin, uint64_t end) {
  cells_.assign(end > begin ? kCells : 0, 0);
  if (cells_.empty()) return update();
  const uint64_t span = end - begin;
  auto cellOf = [&](uint64_t pos) {
    return static_cast<size_t>(static_cast<long double>(pos - begin) * kCells / span);
  };
  for (const RescueBlock& b : map.blocks) {
    const uint64_t lo = std::max(b.pos, begin), hi = std::min(b.End(), end);
    if (lo >= hi) continue;
    for (size_t c = cellOf(lo); c <= std::min<size_t>(cellOf(hi - 1), kCells - 1); ++c)
      if (Severity(b.status) > Severity(cells_[c])) cells_[c] = b.status;
  }
  update();
}

void RescueStrip::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().window());
  if (cells_.empty()) return;
  const double w = static_cast<double>(width()) / static_cast<double>(cells_.size());
  for (size_t c = 0; c < cells_.size(); ++c)
    painter.fillRect(QRectF(static_cast<double>(c) * w, 0, w - 1, height()), Colour(cells_[c]));
}

}  // namespace brevid::ui
