#include "ui/brevid_app.h"

#include <QApplication>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QSplashScreen>
#include <QThread>

#include "platform/byte_source.h"
#include "platform/message_box.h"
#include "tasks/disk_list.h"
#include "ui/brevid_dlg.h"
#include "ui/screenshot.h"
#include "ui/ui_text.h"

namespace brevid::ui {
namespace {

int QtMessageBox(const std::string& text, const std::string& caption, unsigned style) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (style & 0xF0) {
    case kMbIconError:
      icon = QMessageBox::Critical;
      break;
    case kMbIconQuestion:
      icon = QMessageBox::Question;
      break;
    case kMbIconWarning:
      icon = QMessageBox::Warning;
      break;
    case kMbIconInformation:
      icon = QMessageBox::Information;
      break;
  }
  QMessageBox box(icon, FromAnsi(caption), FromAnsi(text).replace("\r\n", "\n"),
                  QMessageBox::NoButton, QApplication::activeWindow());
  switch (style & 0x0F) {
    case kMbOkCancel:
      box.addButton("确定", QMessageBox::AcceptRole);
      box.addButton("取消", QMessageBox::RejectRole);
      return box.exec() == 0 ? kIdOk : kIdCancel;
    case kMbYesNo:
      box.addButton("是", QMessageBox::YesRole);
      box.addButton("否", QMessageBox::NoRole);
      return box.exec() == 0 ? kIdYes : kIdNo;
    default:
      box.addButton("确定", QMessageBox::AcceptRole);
      box.exec();
      return kIdOk;
  }
}

QPixmap SplashPicture() {
  QPixmap picture(420, 200);
  picture.fill(QColor(0x1d, 0x4d, 0x80));
  QPainter p(&picture);
  p.setPen(Qt::white);
  QFont font = p.font();
  font.setPointSize(32);
  font.setBold(true);
  p.setFont(font);
  p.drawText(picture.rect(), Qt::AlignCenter, "Brevid");
  return picture;
}

}  // namespace

void InstallQtMessageBoxes() {
  SetMessageBoxHandler([](const std::string& text, const std::string& caption, unsigned style) {
    QApplication* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app) return static_cast<int>(kIdOk);
    if (QThread::currentThread() == app->thread()) return QtMessageBox(text, caption, style);
    int answer = kIdOk;
    QMetaObject::invokeMethod(
        app, [&] { answer = QtMessageBox(text, caption, style); }, Qt::BlockingQueuedConnection);
    return answer;
  });
}

void StartUp(AppState& app, const QStringList& images, bool physical) {
  if (physical) AddPhysicalDisks(app.disks);
  for (const QString& image : images)
    if (!AddImageFile(app.disks, ToAnsi(image)))
      ShowMessageBox(LastErrorText(), "Error", kMbOk | kMbIconError);
}

int CBrevidApp::Run(const QStringList& arguments) {
  QString screenshot;
  QString state = "disks";
  bool physical = true;
  QStringList images;
  for (int i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == "--screenshot" && i + 1 < arguments.size())
      screenshot = arguments[++i];
    else if (arguments[i] == "--screenshot-state" && i + 1 < arguments.size())
      state = arguments[++i];
    else if (arguments[i] == "--images-only")
      physical = false;
    else
      images << arguments[i];
  }
  InstallQtMessageBoxes();
  AppState app;
  {
    QSplashScreen splash(SplashPicture());
    splash.setWindowTitle("Brevid");
    splash.show();
    QApplication::processEvents();
    StartUp(app, images, physical);
    splash.close();
  }
  CBrevidDlg window(app);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    window.move(screen->availableGeometry().center() - window.rect().center());
  window.show();
  if (!screenshot.isEmpty()) return SaveScreenshot(window, app, state, screenshot) ? 0 : 1;
  return QApplication::exec();
}

}  // namespace brevid::ui
