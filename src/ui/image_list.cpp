#include "ui/image_list.h"

#include <QPixmap>

// The resources live in a static library: nothing would pull them in.
static void LoadImageResources() { Q_INIT_RESOURCE(images); }

namespace brevid::ui {

const std::vector<QIcon>& ImageList() {
  static const std::vector<QIcon> images = [] {
    LoadImageResources();
    std::vector<QIcon> list(kImageDisk + 1);
    list[kImageFolder] = QIcon(QPixmap(":/brevid/folder.xpm"));
    list[kImageVolume] = QIcon(QPixmap(":/brevid/volume.xpm"));
    list[kImageDeletedFolder] = QIcon(QPixmap(":/brevid/deleted_folder.xpm"));
    list[kImageDisk] = QIcon(QPixmap(":/brevid/disk.xpm"));
    return list;
  }();
  return images;
}

}  // namespace brevid::ui
