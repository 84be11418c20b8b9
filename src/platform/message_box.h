// Message boxes, routed to whatever the running front end installed: a Qt
// dialog, the terminal, or a recorder in tests. Texts are in CP936.
#pragma once

#include <functional>
#include <string>

namespace brevid {

// Styles and answers, with the values the design's message boxes use.
enum MessageBoxStyle : unsigned {
  kMbOk = 0x0,
  kMbOkCancel = 0x1,
  kMbYesNo = 0x4,
  kMbIconError = 0x10,
  kMbIconQuestion = 0x20,
  kMbIconWarning = 0x30,
  kMbIconInformation = 0x40,
};
enum MessageBoxAnswer : int { kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7 };

using MessageBoxHandler =
    std::function<int(const std::string& text, const std::string& caption, unsigned style)>;

// Installs `handler` for the whole process and returns the one it replaces.
// Without a handler, boxes go to standard error and are answered OK/Yes.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// Shows a box through the installed handler and returns its answer. May be
// called from any thread; calls are serialised.
int ShowMessageBox(const std::string& text, const std::string& caption, unsigned style);

}  // namespace brevid
