// The pane below the file lists that shows the chosen file's recovered
// content: pictures Qt can decode, scaled to fit; text in UTF-8 or the ANSI
// code page; anything else as a hex dump of its start. It only shows bytes
// it is given (the file pane reads them as a save writes them).
// User-interface thread only.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QWidget>

namespace brevid::ui {

class CPreviewPane : public QWidget {
 public:
  enum class Shown { kNothing, kImage, kText, kHex, kMessage };

  explicit CPreviewPane(QWidget* parent = nullptr);

  // `bytes`: the content's first bytes; `size`: the whole content's length.
  void ShowContent(const QByteArray& bytes, uint64_t size);
  void ShowMessage(const QString& text);
  void Clear();

  Shown What() const { return shown_; }
  const QImage& Image() const { return image_; }
  // The content shown last, as it was read.
  const QByteArray& Bytes() const { return bytes_; }
  QString Text() const { return text_->toPlainText(); }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void ScaleImage();

  QStackedWidget* stack_;
  QLabel* picture_;
  QPlainTextEdit* text_;
  QLabel* message_;
  QImage image_;
  QByteArray bytes_;
  Shown shown_ = Shown::kNothing;
};

// The text `bytes` hold, when they read as text: UTF-8 first (a BOM or
// valid sequences), else CP936. Null when control bytes show it is not text.
QString TextOf(const QByteArray& bytes);

// "00000000  4a 46 49 46 ...  |JFIF...|", 16 bytes a line.
QString HexDump(const QByteArray& bytes);

}  // namespace brevid::ui
