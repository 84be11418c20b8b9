// The file pane on a large volume, offscreen: expands VOLUME of IMAGE as the
// expand tile does, waits until both lists are filled, and prints the time
// taken and the longest stall of the event loop (a 10 ms heartbeat's largest
// gap). Usage: bench_file_pane IMAGE VOLUME
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

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
  return 0;
}
