// Texts and colours the window's panes share, and the one place where the
// front end converts between the engine's CP936 and Qt's strings.
#pragma once

#include <QColor>
#include <QString>
#include <string>

#include "platform/codepage.h"

namespace brevid::ui {

inline QString FromAnsi(const std::string& ansi) {
  return QString::fromStdString(AnsiToUtf8(ansi));
}
// Escapes what CP936 lacks rather than losing it: texts the window hands
// back (item texts, chosen paths) must find what FromAnsi showed.
inline std::string ToAnsi(const QString& text) { return PathToAnsi(text.toStdString()); }

// 255 and 0x32C832 as the design's colour values.
inline const QColor kRed(255, 0, 0);
inline const QColor kGreen(50, 200, 50);

inline bool IsWarning(const QString& text) {
  return text.startsWith("警告") || text.startsWith("错误");
}
inline QString StatusStyle(bool red) {
  return QString("color: %1;").arg((red ? kRed : kGreen).name());
}

struct TileText {
  QString title;
  QString action;
  QString hint;
  QString description;
};
// Tiles 0 to 5.
const TileText& TileTexts(int tile);
constexpr int kTileCount = 6;

}  // namespace brevid::ui
