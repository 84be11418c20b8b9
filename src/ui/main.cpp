// brevid-gui [--help] [--version] [--screenshot PATH [--screenshot-state NAME]]
//            [--images-only] [IMG...]
#include <QApplication>
#include <cstdlib>
#include <cstring>

#include "ui/brevid_app.h"

int main(int argc, char** argv) {
  // A screenshot, the help and the version need no display.
  for (int i = 1; i < argc; ++i)
    for (const char* quiet : {"--screenshot", "--help", "-h", "--version", "-v"})
      if (std::strcmp(argv[i], quiet) == 0) setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  QStringList arguments = QApplication::arguments();
  arguments.removeFirst();
  return brevid::ui::CBrevidApp().Run(arguments);
}
