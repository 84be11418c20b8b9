#include "ui/preview_pane.h"

#include <QBuffer>
#include <QFontDatabase>
#include <QImageReader>
#include <QStringDecoder>
#include <QVBoxLayout>

#include "ui/ui_text.h"

namespace brevid::ui {

QString TextOf(const QByteArray& bytes) {
  int control = 0;
  for (char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (u == 0) return {};
    if (u < 0x20 && u != '\t' && u != '\n' && u != '\r' && u != '\f') ++control;
  }
  if (control * 50 > bytes.size()) return {};
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8.decode(bytes);
  // A sequence cut at the end of what was read is not an error of the text.
  if (!utf8.hasError() || bytes.size() < 4) return text;
  return FromAnsi(bytes.toStdString());
}

QString HexDump(const QByteArray& bytes) {
  QString out;
  for (qsizetype line = 0; line < bytes.size(); line += 16) {
    QString hex, ascii;
    for (qsizetype i = line; i < line + 16; ++i) {
      if (i < bytes.size()) {
        const auto u = static_cast<unsigned char>(bytes[i]);
        hex += QString("%1 ").arg(u, 2, 16, QChar('0'));
        ascii += u >= 0x20 && u < 0x7F ? QChar(u) : QChar('.');
      } else {
        hex += "   ";
      }
    }
    out += QString("%1  %2 |%3|\n").arg(line, 8, 16, QChar('0')).arg(hex, ascii);
  }
  return out;
}

CPreviewPane::CPreviewPane(QWidget* parent) : QWidget(parent) {
  setObjectName("preview");
  stack_ = new QStackedWidget(this);
  picture_ = new QLabel(stack_);
  picture_->setAlignment(Qt::AlignCenter);
  text_ = new QPlainTextEdit(stack_);
  text_->setReadOnly(true);
  text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  message_ = new QLabel(stack_);
  message_->setAlignment(Qt::AlignCenter);
  stack_->addWidget(message_);
  stack_->addWidget(picture_);
  stack_->addWidget(text_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(stack_);
  Clear();
}

void CPreviewPane::Clear() { ShowMessage("选择一个文件, 在此预览其恢复后的内容"); }

void CPreviewPane::ShowMessage(const QString& text) {
  image_ = QImage();
  bytes_.clear();
  message_->setText(text);
  stack_->setCurrentWidget(message_);
  shown_ = text.isEmpty() ? Shown::kNothing : Shown::kMessage;
}

void CPreviewPane::ShowContent(const QByteArray& bytes, uint64_t size) {
  bytes_ = bytes;
  QBuffer buffer;
  buffer.setData(bytes);
  QImageReader reader(&buffer);
  reader.setDecideFormatFromContent(true);
  // Formats told by a signature only: text formats such as PBM or XPM would
  // take a plain text file for a picture.
  static const QList<QByteArray> pictures = {"jpeg", "png", "gif", "bmp", "webp", "tiff", "ico"};
  image_ = reader.canRead() && pictures.contains(reader.format()) ? reader.read() : QImage();
  if (!image_.isNull()) {
    shown_ = Shown::kImage;
    stack_->setCurrentWidget(picture_);
    picture_->setToolTip(
        QString("%1 x %2, %3 字节").arg(image_.width()).arg(image_.height()).arg(size));
    ScaleImage();
    return;
  }
  // Text and hex show the start; a large file says how much is left out.
  constexpr qsizetype kShownBytes = 64 * 1024;
  const QByteArray start = bytes.left(kShownBytes);
  QString text = TextOf(start);
  shown_ = text.isNull() ? Shown::kHex : Shown::kText;
  if (text.isNull()) text = HexDump(start.left(4096));
  if (size > static_cast<uint64_t>(
                 shown_ == Shown::kText ? start.size() : std::min<qsizetype>(start.size(), 4096)))
    text += QString("\n... (共 %1 字节)").arg(size);
  text_->setPlainText(text);
  stack_->setCurrentWidget(text_);
}

void CPreviewPane::resizeEvent(QResizeEvent*) {
  if (shown_ == Shown::kImage) ScaleImage();
}

void CPreviewPane::ScaleImage() {
  const QSize room = picture_->size().boundedTo(image_.size()).expandedTo(QSize(1, 1));
  picture_->setPixmap(
      QPixmap::fromImage(image_.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

}  // namespace brevid::ui
