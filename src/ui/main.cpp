// brevid-gui [--screenshot PATH [--screenshot-state NAME]] [--images-only] [IMG...]
#include <QApplication>
#include <cstdlib>
#include <cstring>

#include "ui/brevid_app.h"

int main(int argc, char** argv) {
  // A screenshot needs no display.
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--screenshot") == 0) setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  QStringList arguments = QApplication::arguments();
  arguments.removeFirst();
  return brevid::ui::CBrevidApp().Run(arguments);
}
