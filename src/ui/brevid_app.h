// Start-up of brevid-gui: message boxes through Qt, the splash while the
// disks are enumerated, the main window. User-interface thread only.
#pragma once

#include <QStringList>

#include "ui/app_state.h"

namespace brevid::ui {

// Routes the engine's message boxes to Qt dialogs, from any thread.
void InstallQtMessageBoxes();

// Loads Qt's Simplified Chinese translations (qtbase_zh_CN, from the
// translations package) so Qt's own dialogs and buttons speak Chinese too.
// False when they are not installed; the window then works in Qt's English.
bool InstallQtTranslations();

// Fills the disk list: the physical disks (unless `physical` is false), then
// each image (UTF-8 paths); an image that cannot be opened is reported, by
// name, in a message box captioned "Error" (on standard error without
// `boxes`). False when any image could not be opened.
bool StartUp(AppState& app, const QStringList& images, bool physical, bool boxes = true);

class CBrevidApp {
 public:
  // `arguments` without the program name: [--screenshot PATH
  // [--screenshot-state NAME]] [--images-only] [IMG...]. Returns the exit
  // status.
  int Run(const QStringList& arguments);
};

}  // namespace brevid::ui
