#include "ui/brevid_app.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QSplashScreen>
#include <QThread>
#include <QTranslator>
#include <cstdio>

#include "platform/byte_source.h"
#include "platform/codepage.h"
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

// False when an image could not be opened; each failure is named, in a box
// or (with nobody to close a box) on standard error.
bool StartUp(AppState& app, const QStringList& images, bool physical, bool boxes) {
  bool all = true;
  if (physical) {
    AddPhysicalDisks(app.disks);
    // Without the rights the disk list is merely empty; say what is missing.
    std::vector<std::string> denied = UnreadablePhysicalDisks();
    if (!denied.empty()) {
      std::string text = "没有读取磁盘的权限:";
      for (const std::string& path : denied) text += " " + path;
      text +=
          "\r\n读取物理磁盘需要 root 权限或对块设备的读权限, 请以 root 身份启动, "
          "例如: pkexec brevid-gui (或把用户加入 disk 组)";
      if (boxes)
        ShowMessageBox(Utf8ToAnsi(text), "Error", kMbOk | kMbIconWarning);
      else
        std::fprintf(stderr, "%s\n", text.c_str());
    }
  }
  for (const QString& image : images) {
    if (AddImageFile(app.disks, ToAnsi(image))) continue;
    const std::string text = ToAnsi("无法打开 " + image + ": ") + Utf8ToAnsi(LastErrorText());
    if (boxes)
      ShowMessageBox(text, "Error", kMbOk | kMbIconError);
    else
      std::fprintf(stderr, "%s\n", AnsiToUtf8(text).c_str());
    all = false;
  }
  return all;
}

bool InstallQtTranslations() {
  // Qt's own texts (file dialogs, standard buttons) from Debian's translations.
  static QTranslator qtbase;
  if (!qtbase.load(QLocale(QLocale::Chinese, QLocale::China), "qtbase", "_",
                   QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    return false;
  return QCoreApplication::installTranslator(&qtbase);
}

int CBrevidApp::Run(const QStringList& arguments) {
  InstallQtTranslations();
  QCommandLineParser parser;
  parser.setApplicationDescription("Brevid: 恢复磁盘和镜像文件中删除的文件、文件夹和分区");
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption shotOption("screenshot", "把窗口画到 PNG 文件 PATH 后退出 (无需显示器)",
                                      "PATH");
  const QCommandLineOption stateOption("screenshot-state",
                                       "截图的状态: disks, files, preview, progress 或 imaging",
                                       "NAME", "disks");
  const QCommandLineOption imagesOnlyOption("images-only", "只列出给定的镜像文件, 不列物理磁盘");
  parser.addOptions({shotOption, stateOption, imagesOnlyOption});
  parser.addPositionalArgument("IMG", "以磁盘方式打开的镜像文件", "[IMG...]");
  QStringList argv = arguments;
  argv.prepend(QCoreApplication::applicationFilePath());
  if (!parser.parse(argv)) {
    std::fprintf(stderr, "brevid-gui: %s\n%s", qUtf8Printable(parser.errorText()),
                 qUtf8Printable(parser.helpText()));
    return 2;
  }
  if (parser.isSet("help")) {
    std::printf("%s", qUtf8Printable(parser.helpText()));
    return 0;
  }
  if (parser.isSet("version")) {
    std::printf("brevid-gui %s\n", BREVID_VERSION);
    return 0;
  }
  const QString screenshot = parser.value(shotOption);
  const QString state = parser.value(stateOption);
  const bool physical = !parser.isSet(imagesOnlyOption);
  const QStringList images = parser.positionalArguments();
  InstallQtMessageBoxes();
  AppState app;
  {
    QSplashScreen splash(SplashPicture());
    splash.setWindowTitle("Brevid");
    splash.show();
    QApplication::processEvents();
    const bool opened = StartUp(app, images, physical, screenshot.isEmpty());
    splash.close();
    if (!opened && !screenshot.isEmpty()) return 1;
  }
  CBrevidDlg window(app);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    window.move(screen->availableGeometry().center() - window.rect().center());
  window.show();
  if (!screenshot.isEmpty()) return SaveScreenshot(window, app, state, screenshot) ? 0 : 1;
  return QApplication::exec();
}

}  // namespace brevid::ui
