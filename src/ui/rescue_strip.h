// A picture of the disk for the imaging window: a strip of cells, each a
// slice of the copy coloured by what the map says of it (finished, not yet
// tried, failed and still to trim or scrape, bad), redrawn as the map changes.
// User-interface thread only; SetMap copies what it needs.
#pragma once

#include <QWidget>
#include <vector>

#include "format/rescue_map.h"

namespace brevid::ui {

class RescueStrip : public QWidget {
 public:
  explicit RescueStrip(QWidget* parent);
  // Shows [begin, end) of `map`; an empty range clears the strip.
  void SetMap(const RescueMap& map, uint64_t begin, uint64_t end);
  // The status letter shown by each cell: the worst of its slice (bad over
  // failed over non-tried over finished).
  const std::vector<char>& Cells() const { return cells_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<char> cells_;
};

}  // namespace brevid::ui
