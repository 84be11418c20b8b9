// `brevid-gui --screenshot PATH [--screenshot-state NAME]`: one state of the
// window rendered offscreen into a PNG, for the README. User-interface thread.
#pragma once

#include <QString>

#include "ui/app_state.h"

namespace brevid::ui {

class CBrevidDlg;

// States: "disks" (the disk pane as started), "files" (the first FAT or
// NTFS volume expanded, its root folder listed), "progress" (the file pane's
// progress window), "imaging" (the first disk copied into a scratch file,
// taken when the copy ends, with its bad-sector list). False when the state
// is unknown, cannot be reached, or the PNG cannot be written.
bool SaveScreenshot(CBrevidDlg& window, AppState& app, const QString& state, const QString& path);

}  // namespace brevid::ui
