// The file pane on a large volume, offscreen: expands VOLUME of IMAGE as the
// expand tile does, waits until both lists are filled, and prints the time
// taken and the longest stall of the event loop (a 10 ms heartbeat's largest
// gap); then a name filter, its clearing and sorting the largest folder by
// every column, and the preview of one entry, each with its time and stall. Usage: bench_file_pane
// IMAGE VOLUME
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "device/volume_names.h"
#include "platform/codepage.h"
#include "ui/brevid_app.h"
#include "ui/brevid_dlg.h"
#include "ui/file_dlg.h"
#include "ui/ui_text.h"

using namespace brevid;
using namespace brevid::ui;

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_file_pane IMAGE VOLUME\n");
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication qapp(argc, argv);
  AppState app;
  StartUp(app, {QString::fromLocal8Bit(argv[1])}, false);
  if (app.disks.empty()) return 1;
  DiskInfo& disk = app.disks.front();
  const std::string volumeName = ToAnsi(QString::fromLocal8Bit(argv[2]));
  if (!FindVolume(disk, volumeName)) {
    std::fprintf(stderr, "no volume %s\n", argv[2]);
    return 1;
  }
  CBrevidDlg window(app);
  window.resize(1100, 700);
  window.show();
  QApplication::processEvents();

  QElapsedTimer clock, beat;
  qint64 longest = 0;
  QTimer heartbeat;
  heartbeat.setInterval(10);
  QObject::connect(&heartbeat, &QTimer::timeout,
                   [&] { longest = std::max(longest, beat.restart()); });
  CFileDlg* pane = window.FileDlg();
  window.ShowFilePane();
  clock.start();
  beat.start();
  heartbeat.start();
  pane->Expand(disk.Key(), volumeName, ExpandMode::kExpand);
  while (app.Busy()) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  const qint64 total = clock.elapsed();
  heartbeat.stop();
  int folders = 0;
  for (QModelIndex i = pane->Left()->GetRootItem(); i.isValid(); i = pane->Left()->GetNextItem(i))
    ++folders;
  std::printf("expand+fill %.3f s, longest stall %lld ms, left items %d, right rows %d\n",
              total / 1000.0, static_cast<long long>(longest), folders,
              pane->Right()->topLevelItemCount());

  // A name typed into the filter bar: the whole tree is walked for matches.
  auto timed = [&](const char* what, const std::function<void()>& act) {
    longest = 0;
    beat.restart();
    heartbeat.start();
    clock.restart();
    act();
    const qint64 took = clock.elapsed();
    QApplication::processEvents();
    heartbeat.stop();
    std::printf("%s %lld ms, longest stall %lld ms\n", what, static_cast<long long>(took),
                static_cast<long long>(std::max(longest, took)));
  };
  auto* name = pane->Filters()->findChild<QLineEdit*>("nameFilter");
  timed("name filter", [&] {
    name->setText("*7*.txt");
    pane->Filters()->OnChanged();
  });
  int shown = 0;
  for (QModelIndex i = pane->Left()->GetRootItem(); i.isValid(); i = pane->Left()->GetNextItem(i))
    ++shown;
  std::printf("  left items under the filter %d\n", shown);
  timed("filter cleared", [&] {
    name->clear();
    pane->Filters()->OnChanged();
  });
  // The largest folder listed, then sorted by each column in turn.
  QModelIndex largest;
  int most = -1;
  for (QModelIndex i = pane->Left()->GetRootItem(); i.isValid(); i = pane->Left()->GetNextItem(i)) {
    pane->SelectFolder(i);
    if (pane->Right()->topLevelItemCount() > most) {
      most = pane->Right()->topLevelItemCount();
      largest = i;
    }
  }
  pane->Left()->SelectItem(largest);
  std::printf("largest folder %d rows\n", most);
  timed("sort by 9 columns", [&] {
    for (int c = 0; c < FileListModel::kColumnCount; ++c)
      pane->Right()->sortByColumn(c, Qt::DescendingOrder);
  });
  // A file chosen: its content read as a save writes it, on this thread.
  timed("preview of one entry",
        [&] { pane->Right()->SelectItem(pane->Right()->topLevelItem(most - 1)); });
  return 0;
}
