// The 16 x 16 images the panes' lists use, by the index the lists give them,
// drawn by us and stored as resources. Call on the user-interface thread.
#pragma once

#include <QIcon>
#include <vector>

namespace brevid::ui {

constexpr int kImageFolder = 0;
constexpr int kImageVolume = 1;
constexpr int kImageDeletedFolder = 12;
constexpr int kImageDisk = 13;  // also the volume's root item in the file pane

// Indexes without a drawing hold a null icon. Lives for the whole run.
const std::vector<QIcon>& ImageList();

}  // namespace brevid::ui
