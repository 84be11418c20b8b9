// brevid-gui driven through its real widgets on the offscreen platform:
// start-up, expand and ticks on FAT32 and NTFS with a ticked-items save, the
// refusals, and a stop during an expand.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QScopeGuard>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <thread>

#include "common/text.h"
#include "platform/message_box.h"
#include "platform/source_opener.h"
#include "support/file_bytes.h"
#include "support/image_under_test.h"
#include "support/run_command.h"
#include "support/test_paths.h"
#include "support/tool_fat.h"
#include "ui/brevid_app.h"
#include "ui/brevid_dlg.h"
#include "ui/file_dlg.h"
#include "ui/hd_dlg.h"
#include "ui/image_list.h"
#include "ui/img_dlg.h"
#include "ui/progress_dlg.h"
#include "ui/rescue_strip.h"
#include "ui/save_file_dlg.h"
#include "ui/scan_file_dialog.h"
#include "ui/search_disk_part.h"
#include "ui/ui_text.h"

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
QT_END_NAMESPACE

namespace brevid::ui {
namespace {

const QColor kVolumeGreen(0, 0x80, 0);

// The lines the fixture generator writes into every file.
std::string Lines(const std::string& tag, int count) {
  std::string out;
  char line[512];
  for (int i = 1; i <= count; ++i) {
    std::snprintf(line, sizeof line, "%s line %04d of %04d\n", tag.c_str(), i, count);
    out += line;
  }
  return out;
}

// Answers the modal windows that appear while a command runs: each step is
// tried until it reports done. The next try is scheduled before a step acts,
// so a step may open a nested event loop.
class Autopilot {
 public:
  void Then(std::function<bool()> step) { steps_.push_back(std::move(step)); }
  void Start() { Tick(); }
  bool Done() const { return steps_.empty() && running_ == 0; }

  // Picks `text` in the popup menu.
  void Menu(const QString& text) {
    Then([text] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      if (!menu) return false;
      for (QAction* a : menu->actions())
        if (a->text() == text) {
          menu->close();
          a->trigger();
          return true;
        }
      return false;
    });
  }
  // Fills the save dialog's target folder (unless empty) and acts on it.
  void SaveDialog(const QString& path, std::function<void(CMySaveFileDlg*)> act) {
    Then([path, act] {
      auto* dlg = dynamic_cast<CMySaveFileDlg*>(QApplication::activeModalWidget());
      if (!dlg) return false;
      if (!path.isEmpty()) dlg->findChild<QLineEdit*>("path")->setText(path);
      act(dlg);
      return true;
    });
  }
  void SaveDialog(const QString& path) {
    SaveDialog(path, [](CMySaveFileDlg* dlg) {
      QTest::mouseClick(dlg->findChild<QPushButton*>("ok"), Qt::LeftButton);
    });
  }

 private:
  void Tick() {
    if (steps_.empty()) return;
    QTimer::singleShot(10, &context_, [this] { Tick(); });
    // Off the queue while it runs: it may not return before later steps do.
    auto step = std::move(steps_.front());
    steps_.pop_front();
    ++running_;
    const bool done = step();
    --running_;
    if (!done) steps_.push_front(std::move(step));
  }
  std::deque<std::function<bool()>> steps_;
  int running_ = 0;
  QObject context_;  // drops a pending try when the pilot goes
};

// Message boxes, recorded and answered in turn (then OK).
struct Boxes {
  std::vector<std::string> texts;
  std::vector<std::string> captions;
  std::deque<int> answers;
  Boxes() {
    SetMessageBoxHandler([this](const std::string& text, const std::string& caption, unsigned) {
      texts.push_back(AnsiToUtf8(text));
      captions.push_back(AnsiToUtf8(caption));
      if (answers.empty()) return static_cast<int>(kIdOk);
      int a = answers.front();
      answers.pop_front();
      return a;
    });
  }
  ~Boxes() { SetMessageBoxHandler(nullptr); }
};

class Gui : public ::testing::Test {
 protected:
  void Open(const QStringList& images) {
    StartUp(app_, images, false);
    window_ = std::make_unique<CBrevidDlg>(app_);
    window_->resize(1100, 700);
    window_->show();
    QApplication::processEvents();
  }
  void TearDown() override {
    WaitIdle();
    window_.reset();
  }

  CHdDlg* Hd() { return window_->HdDlg(); }
  CFileDlg* File() { return window_->FileDlg(); }

  void WaitPilot() {
    for (int i = 0; i < 2000 && !pilot_.Done(); ++i) QTest::qWait(5);
  }
  // Until no worker runs and the panes have shown what it found.
  void WaitIdle() {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while ((app_.Busy() || !pilot_.Done()) && std::chrono::steady_clock::now() < end)
      QTest::qWait(5);
    ASSERT_FALSE(app_.Busy());
  }

  // The first item of `tree` below `from` (null: everywhere) whose column 0 reads `text`.
  static CTreeListItem* Find(CTreeListCtrl* tree, const QString& text,
                             CTreeListItem* from = nullptr) {
    CTreeListItem* end = from ? tree->GetNextSiblingItem(from) : nullptr;
    for (CTreeListItem* i = from ? tree->GetChildItem(from) : tree->GetRootItem(); i && i != end;
         i = tree->GetNextItem(i))
      if (tree->GetItemText(i) == text) return i;
    return nullptr;
  }
  static QPoint Centre(CTreeListCtrl* tree, CTreeListItem* item) {
    tree->scrollToItem(item);
    return tree->visualItemRect(item).center();
  }
  static void Click(CTreeListCtrl* tree, CTreeListItem* item,
                    Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseClick(tree->viewport(), button, {}, Centre(tree, item));
  }
  static void DoubleClick(CTreeListCtrl* tree, CTreeListItem* item) {
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, Centre(tree, item));
  }
  // What a click on the item's tick box does.
  static void Tick(CTreeListItem* item, Qt::CheckState state) { item->setCheckState(0, state); }

  // The same over the file pane's lists, whose items are model indexes.
  static QModelIndex Find(CPaneList* list, const QString& text, const QModelIndex& from = {}) {
    QAbstractItemModel* model = list->model();
    std::vector<QModelIndex> pending;
    if (from.isValid())
      for (int r = model->rowCount(from); r-- > 0;) pending.push_back(model->index(r, 0, from));
    else
      for (int r = model->rowCount(); r-- > 0;) pending.push_back(model->index(r, 0));
    while (!pending.empty()) {
      QModelIndex i = pending.back();
      pending.pop_back();
      if (list->GetItemText(i) == text) return i;
      for (int r = model->rowCount(i); r-- > 0;) pending.push_back(model->index(r, 0, i));
    }
    return {};
  }
  static QPoint Centre(CPaneList* list, const QModelIndex& item) {
    list->scrollTo(item);
    return list->visualRect(item).center();
  }
  static void Click(CPaneList* list, const QModelIndex& item,
                    Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseClick(list->viewport(), button, {}, Centre(list, item));
  }
  static void Tick(const QModelIndex& item, Qt::CheckState state) {
    const_cast<QAbstractItemModel*>(item.model())->setData(item, state, Qt::CheckStateRole);
  }

  // Expands the volume item `volume` of the disk `disk` with tile `tile`.
  void ExpandVolume(const QString& disk, const QString& volume, int tile = 0) {
    QTest::mouseClick(window_->TileButton(tile), Qt::LeftButton);
    CTreeListItem* item = Find(Hd()->Tree(), volume, Find(Hd()->Tree(), disk));
    ASSERT_NE(item, nullptr) << volume.toStdString();
    Click(Hd()->Tree(), item);
    DoubleClick(Hd()->Tree(), item);
    WaitIdle();
  }

  // Chooses `path` in a scan-result file dialog, once one is open.
  static bool ScanFile(const QString& path, QString* offered = nullptr) {
    auto* dlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!dlg) return false;
    EXPECT_EQ(dlg->nameFilters().join(";;"),
              "qel_scn Files(*.qel_scn);;Text Files(*.txt);;All Files(*)");
    EXPECT_EQ(dlg->defaultSuffix(), "qel_scn");
    if (offered) *offered = QFileInfo(dlg->selectedFiles().value(0)).fileName();
    dlg->selectFile(path);
    static_cast<QDialog*>(dlg)->accept();  // QFileDialog hides it
    return true;
  }

  // "多选保存" from a list into `target`.
  void TickedSave(CPaneList* list, const QModelIndex& over, const QString& target) {
    pilot_.Menu("多选保存");
    pilot_.SaveDialog(target);
    pilot_.Start();
    Click(list, over, Qt::RightButton);
    WaitIdle();
  }

  AppState app_;
  std::unique_ptr<CBrevidDlg> window_;
  Autopilot pilot_;
};

QString Fixture(const char* name) { return QString::fromStdString(test::FixturePath(name)); }

TEST_F(Gui, StartUpListsTheImagesWithTheirTextsAndColours) {
  test::UnchangedImage demo(test::FixturePath("demo.img"));
  Open({Fixture("demo.img"), Fixture("fat32_files.img")});
  CHDTreeListCtrl* tree = Hd()->Tree();
  ASSERT_EQ(tree->topLevelItemCount(), 2);
  QStringList headings;
  for (int c = 0; c < tree->GetColumnCount(); ++c) headings << tree->headerItem()->text(c);
  EXPECT_EQ(headings, QStringList({"磁盘", "标签", "文件类型", "起始地址", "大小"}));
  CTreeListItem* disk = tree->GetRootItem();
  EXPECT_TRUE(disk->text(0).startsWith("demo.img"));
  EXPECT_EQ(disk->text(3), "0");
  EXPECT_EQ(disk->text(4), "64.0 MB");
  EXPECT_EQ(tree->GetItemImage(disk), kImageDisk);
  // Qt's own buttons speak Chinese; a tile switch keeps the chosen item.
  QDialogButtonBox buttons(QDialogButtonBox::Cancel);
  EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text(), "取消");
  Click(tree, disk->child(0));
  QTest::mouseClick(window_->TileButton(3), Qt::LeftButton);
  ASSERT_NE(tree->GetSelectedItem(), nullptr);
  EXPECT_EQ(tree->GetSelectedItem()->text(0), "Partition0");
  QTest::mouseClick(window_->TileButton(0), Qt::LeftButton);
  disk = tree->GetRootItem();
  EXPECT_TRUE(disk->isExpanded());
  ASSERT_EQ(disk->childCount(), 2);
  const QStringList p0 = {"Partition0", "DEMO_FAT32", "FAT32", "1048576", "36.0 MB"};
  const QStringList p1 = {"Partition1", "DemoNtfs", "NTFS", "38797312", "27.0 MB"};
  for (int c = 0; c < 5; ++c) {  // labels keep their on-disk padding
    EXPECT_EQ(disk->child(0)->text(c).trimmed(), p0[c]);
    EXPECT_EQ(disk->child(1)->text(c).trimmed(), p1[c]);
  }
  EXPECT_EQ(tree->GetItemTextColor(disk->child(0)), QColor(Qt::black));
  CTreeListItem* files = tree->GetNextSiblingItem(disk);
  EXPECT_TRUE(files->text(0).startsWith("fat32_files.img"));
  EXPECT_EQ(files->child(0)->text(1).trimmed(), "FILES32");

  // Volumes a scan found or rebuilt are drawn in their colours.
  app_.disks[1].volumes[0].origin = 2;
  app_.disks[0].volumes[1].origin = 1;
  Hd()->FillDiskTree();
  EXPECT_EQ(tree->GetItemTextColor(tree->GetRootItem()->child(1)), kRed);
  EXPECT_EQ(tree->GetItemTextColor(tree->topLevelItem(1)->child(0)), kVolumeGreen);

  // The tiles, the left column and the buttons of the first and of tile 2.
  EXPECT_EQ(window_->TileButton(0)->text(), "文件删除恢复");
  EXPECT_EQ(window_->TileButton(5)->text(), "打开扫描信息");
  EXPECT_EQ(window_->LeftTitle()->text(), "文件删除恢复");
  EXPECT_EQ(window_->LeftHint()->text(), "双击分区或点击展开按钮");
  EXPECT_EQ(Hd()->Status()->text(), "状态提示...");
  EXPECT_TRUE(Hd()->Status()->styleSheet().contains(kGreen.name()));
  EXPECT_EQ(Hd()->ActionButton()->text(), "展开");
  EXPECT_TRUE(Hd()->findChild<QPushButton*>("scan")->isHidden());
  EXPECT_TRUE(Hd()->findChild<QPushButton*>("openImage")->isVisible());
  QTest::mouseClick(window_->TileButton(2), Qt::LeftButton);
  EXPECT_EQ(window_->LeftDescription()->text(), TileTexts(2).description);
  EXPECT_FALSE(Hd()->findChild<QPushButton*>("scan")->isHidden());
  QTest::mouseClick(window_->TileButton(1), Qt::LeftButton);
  EXPECT_EQ(Hd()->ActionButton()->text(), "扫描");

  // Two images of one name: the second is keyed by its path, which every
  // item shows as its tooltip, and its volumes are its own.
  const std::string dir = test::ScratchDir("gui_same_name");
  std::filesystem::create_directories(dir + "/a");
  std::filesystem::create_directories(dir + "/b");
  std::filesystem::copy_file(test::FixturePath("demo.img"), dir + "/a/t.img");
  std::filesystem::copy_file(test::FixturePath("fat32_files.img"), dir + "/b/t.img");
  StartUp(app_,
          {QString::fromStdString(dir + "/a/t.img"), QString::fromStdString(dir + "/b/t.img")},
          false);
  Hd()->FillDiskTree();
  ASSERT_EQ(tree->topLevelItemCount(), 4);
  EXPECT_EQ(tree->topLevelItem(2)->text(0), "t.img");
  EXPECT_EQ(tree->topLevelItem(3)->text(0).toStdString(), dir + "/b/t.img");
  EXPECT_EQ(tree->topLevelItem(3)->toolTip(0).toStdString(), dir + "/b/t.img");
  EXPECT_EQ(tree->topLevelItem(3)->child(0)->text(1).trimmed(), "FILES32");
}

// The program's own arguments: help, version, an unknown option, and an
// image that is not there, named (a screenshot run once waited for ever).
TEST(GuiArguments, HelpVersionAndErrorsThatNameTheirCause) {
  const std::string gui = std::string("'") + BREVID_GUI + "' ";
  test::CommandResult help = test::RunCommand(gui + "--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--images-only"), std::string::npos) << help.out;
  EXPECT_EQ(test::RunCommand(gui + "--version").out.rfind("brevid-gui ", 0), 0u);
  test::CommandResult bogus = test::RunCommand("QT_QPA_PLATFORM=offscreen " + gui + "--bogus");
  EXPECT_EQ(bogus.status, 2);
  EXPECT_NE(bogus.err.find("bogus"), std::string::npos) << bogus.err;
  test::CommandResult missing = test::RunCommand(
      "timeout 60 " + gui + "--images-only --screenshot /dev/null /nonexistent/missing.img");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("/nonexistent/missing.img"), std::string::npos) << missing.err;
}

TEST_F(Gui, ExpandsFatAndNtfsTicksSpreadAndTickedItemsAreSavedExactly) {
  test::UnchangedImage demo(test::FixturePath("demo.img"));
  Open({Fixture("demo.img")});
  const QString disk = Hd()->Tree()->GetRootItem()->text(0);

  // FAT32: the deleted folder red with its image, deleted files red with their status.
  ExpandVolume(disk, "Partition0");
  CMyLeftTreelistCtrl* left = File()->Left();
  CMyRightTreelistCtrl* right = File()->Right();
  ASSERT_TRUE(File()->isVisible());
  QModelIndex root = Find(left, "根目录");
  ASSERT_TRUE(root.isValid());
  QModelIndex archive = Find(left, "Archive", root);
  ASSERT_TRUE(archive.isValid());
  EXPECT_EQ(left->GetItemImage(archive), kImageDeletedFolder);
  EXPECT_EQ(left->GetItemTextColor(archive), kRed);
  EXPECT_EQ(left->GetItemImage(Find(left, "Projects", root)), kImageFolder);
  Click(left, root);
  QModelIndex readme = Find(right, "README.TXT");
  ASSERT_TRUE(readme.isValid());
  EXPECT_EQ(right->GetItemText(readme, 1), "正常文件");
  // Sizes read as sizes, the exact bytes kept for the tool tip.
  const QString readmeBytes = QString::number(Lines("fat:/README.TXT", 20).size());
  EXPECT_EQ(readme.siblingAtColumn(2).data(FileListModel::kExactRole).toString(), readmeBytes);
  EXPECT_TRUE(right->GetItemText(readme, 2).endsWith(" B") ||
              right->GetItemText(readme, 2).endsWith(" KB"));
  QModelIndex report = Find(right, "已删除的报告.txt");
  ASSERT_TRUE(report.isValid());
  EXPECT_EQ(right->GetItemText(report, 1), "已删除文件");
  EXPECT_EQ(right->GetItemText(report, FileListModel::kRecovery), "好");
  EXPECT_EQ(right->GetItemTextColor(report), kRed);
  EXPECT_EQ(right->GetItemText(Find(right, "Archive"), 1), "已删除文件夹");

  // Ticking a folder ticks its children; a child cleared makes it partly
  // ticked, and each child keeps its own state.
  QModelIndex alpha = Find(left, "Alpha", root);
  ASSERT_TRUE(alpha.isValid());
  Tick(alpha, Qt::Checked);
  Click(left, alpha);
  ASSERT_EQ(right->topLevelItemCount(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(right->GetCheck(right->topLevelItem(i)), 1);
  Tick(Find(right, "PLAN.TXT"), Qt::Unchecked);
  EXPECT_EQ(left->GetCheck(alpha), 2);
  EXPECT_EQ(left->GetCheck(root), 2);
  Click(left, root);
  Tick(Find(right, "已删除的报告.txt"), Qt::Checked);
  Click(left, alpha);
  EXPECT_EQ(right->GetCheck(Find(right, "PLAN.TXT")), 0);
  EXPECT_EQ(right->GetCheck(Find(right, "old plan.txt")), 1);
  EXPECT_EQ(right->GetCheck(Find(right, "Notes")), 1);
  EXPECT_EQ(left->GetCheck(Find(left, "Notes", alpha)), 1);

  const std::string fatOut = test::ScratchDir("gui_fat_save");
  Boxes boxes;
  TickedSave(left, root, QString::fromStdString(fatOut));
  // Every save ends in its summary, green in the status line when whole.
  ASSERT_EQ(boxes.texts.size(), 1u);
  EXPECT_EQ(boxes.texts[0].rfind("已写入 3 个文件", 0), 0u) << boxes.texts[0];
  EXPECT_TRUE(File()->Status()->styleSheet().contains(kGreen.name()));
  std::map<std::string, std::string> fatExpected = {
      {"Notes/Meeting notes 2020.txt",
       Lines("fat:/Projects/Alpha/Notes/Meeting notes 2020.txt", 30)},
      {"old plan.txt", Lines("fat:/Projects/Alpha/old plan.txt", 45)},
      {"已删除的报告.txt", Lines("fat:/已删除的报告.txt", 50)},
  };
  EXPECT_EQ(test::FilesUnder(fatOut), fatExpected);

  // A filter narrows both lists; a tick under it reaches only the files shown,
  // and "多选保存" (here from the menu key) saves exactly those.
  Tick(left->GetRootItem(), Qt::Unchecked);
  File()->Filters()->findChild<QLineEdit*>("nameFilter")->setText("*PLAN*");
  QTest::qWait(300);
  root = Find(left, "根目录");
  alpha = Find(left, "Alpha", root);
  ASSERT_TRUE(alpha.isValid());
  EXPECT_FALSE(Find(left, "Archive", root).isValid());
  EXPECT_FALSE(Find(left, "Notes", root).isValid());
  Click(left, alpha);
  ASSERT_EQ(right->topLevelItemCount(), 2);
  Tick(root, Qt::Checked);
  EXPECT_EQ(left->GetCheck(alpha), 2);
  const std::string filteredOut = test::ScratchDir("gui_filtered_save");
  pilot_.Menu("多选保存");
  pilot_.SaveDialog(QString::fromStdString(filteredOut));
  pilot_.Start();
  left->setFocus();
  QTest::keyClick(left, Qt::Key_F10, Qt::ShiftModifier);
  WaitIdle();
  std::map<std::string, std::string> filtered = test::FilesUnder(filteredOut);
  ASSERT_EQ(filtered.size(), 2u);
  EXPECT_EQ(filtered["old plan.txt"], fatExpected["old plan.txt"]);
  EXPECT_EQ(filtered["PLAN.TXT"].size(), 1880u);
  // Sorted by size as numbers, largest first.
  right->sortByColumn(FileListModel::kSize, Qt::DescendingOrder);
  EXPECT_EQ(right->GetItemText(right->topLevelItem(0)), "old plan.txt");

  // Keyboard: Up and Down walk the folder list and the entries follow; Enter
  // folds a volume; a double-click on a folder entry opens it.
  File()->Filters()->Clear();
  File()->Filters()->OnChanged();
  left->SelectItem(Find(left, "Projects", root));
  QTest::keyClick(left, Qt::Key_Down);
  EXPECT_EQ(left->GetItemText(left->GetSelectedItem()), "Alpha");
  EXPECT_EQ(right->topLevelItemCount(), 3);
  QTest::keyClick(left, Qt::Key_Up);
  EXPECT_EQ(right->GetItemText(right->topLevelItem(0)), "Alpha");
  QTest::mouseDClick(right->viewport(), Qt::LeftButton, {},
                     right->visualRect(right->topLevelItem(0)).center());
  EXPECT_EQ(left->GetItemText(left->GetSelectedItem()), "Alpha");
  left->SelectItem(left->GetRootItem());
  QTest::keyClick(left, Qt::Key_Return);
  EXPECT_FALSE(left->isExpanded(left->GetRootItem()));
  QTest::keyClick(left, Qt::Key_Return);
  EXPECT_TRUE(left->isExpanded(left->GetRootItem()));

  // NTFS: the same from the right list, a folder ticked there with its subtree.
  QTest::mouseClick(File()->BackButton(), Qt::LeftButton);
  EXPECT_TRUE(Hd()->isVisible());
  ExpandVolume(disk, "Partition1");
  root = Find(left, "根目录");
  ASSERT_TRUE(root.isValid());
  QModelIndex temp = Find(left, "Temp", root);
  ASSERT_TRUE(temp.isValid());
  EXPECT_EQ(left->GetItemImage(temp), kImageDeletedFolder);
  EXPECT_EQ(left->GetItemTextColor(temp), kRed);
  Click(left, root);
  QModelIndex old = Find(right, "Old notes.txt");
  ASSERT_TRUE(old.isValid());
  EXPECT_EQ(right->GetItemText(old, 1), "已删除文件");
  EXPECT_EQ(right->GetItemText(old, FileListModel::kRecovery), "好");
  EXPECT_EQ(right->GetItemTextColor(old), kRed);
  Tick(old, Qt::Checked);
  Tick(Find(right, "Temp"), Qt::Checked);
  EXPECT_EQ(left->GetCheck(temp), 1);
  EXPECT_EQ(left->GetCheck(Find(left, "Sub", temp)), 1);
  const std::string ntfsOut = test::ScratchDir("gui_ntfs_save");
  TickedSave(right, old, QString::fromStdString(ntfsOut));
  std::map<std::string, std::string> ntfsExpected = {
      {"Old notes.txt", Lines("ntfs:/Old notes.txt", 150)},
      {"Temp/cache one.txt", Lines("ntfs:/Temp/cache one.txt", 40)},
      {"Temp/Sub/cache two.txt", Lines("ntfs:/Temp/Sub/cache two.txt", 35)},
  };
  EXPECT_EQ(test::FilesUnder(ntfsOut), ntfsExpected);
}

// A deleted JPEG, previewed and then saved: the preview shows what the save wrote.
TEST_F(Gui, PreviewShowsADeletedPictureAsASaveWritesIt) {
  test::ToolFat img(test::ScratchDir("gui_preview") + "/pictures.img", 16, 8192);
  ASSERT_TRUE(img.ok());
  QImage picture(120, 80, QImage::Format_RGB32);
  picture.fill(QColor(30, 120, 200));
  QByteArray jpeg;
  QBuffer buffer(&jpeg);
  buffer.open(QIODevice::WriteOnly);
  ASSERT_TRUE(picture.save(&buffer, "JPG"));
  img.Put("NOTES.TXT", "\xD6\xD0\xCE\xC4 notes\r\n");  // CP936
  img.Put("PHOTO.JPG", jpeg.toStdString());
  img.Delete("PHOTO.JPG");
  Open({QString::fromStdString(img.path())});
  ExpandVolume(Hd()->Tree()->GetRootItem()->text(0), "Partition0");
  CMyRightTreelistCtrl* right = File()->Right();
  Click(File()->Left(), Find(File()->Left(), "根目录"));
  QModelIndex photo = Find(right, "_HOTO.JPG");
  ASSERT_TRUE(photo.isValid());
  Click(right, photo);
  CPreviewPane* preview = File()->Preview();
  ASSERT_EQ(preview->What(), CPreviewPane::Shown::kImage);
  EXPECT_EQ(preview->Image().size(), QSize(120, 80));
  Boxes boxes;
  const std::string out = test::ScratchDir("gui_preview_out");
  pilot_.Menu("单选保存");
  pilot_.SaveDialog(QString::fromStdString(out));
  pilot_.Start();
  Click(right, photo, Qt::RightButton);
  WaitIdle();
  const std::map<std::string, std::string> saved = test::FilesUnder(out);
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(saved.begin()->second, preview->Bytes().toStdString());
  EXPECT_EQ(saved.begin()->second, jpeg.toStdString());
  Click(right, Find(right, "NOTES.TXT"));
  EXPECT_EQ(preview->What(), CPreviewPane::Shown::kText);
  EXPECT_TRUE(preview->Text().startsWith("中文 notes"));
}

TEST_F(Gui, RefusalsOfTheDiskPaneAndOfTheSaveCommands) {
  Open({Fixture("fat32_files.img")});
  CHDTreeListCtrl* tree = Hd()->Tree();
  tree->setCurrentItem(nullptr);
  QTest::mouseClick(Hd()->ActionButton(), Qt::LeftButton);
  EXPECT_EQ(Hd()->Status()->text(), "警告: 没有选择的项目");
  EXPECT_TRUE(Hd()->Status()->styleSheet().contains(kRed.name()));
  Click(tree, tree->GetRootItem());
  DoubleClick(tree, tree->GetRootItem());
  EXPECT_EQ(Hd()->Status()->text(), "警告: 请正确选择分区");
  Hd()->Status()->clear();
  QTest::keyClick(tree, Qt::Key_Return);  // Enter acts as a double-click
  EXPECT_EQ(Hd()->Status()->text(), "警告: 请正确选择分区");
  app_.busy = 1;
  DoubleClick(tree, tree->GetRootItem()->child(0));
  EXPECT_EQ(Hd()->Status()->text(), "警告: 请等待当前操作完成");
  app_.busy = 0;
  EXPECT_TRUE(Hd()->isVisible());

  // The volume mounted at a folder of ours: a target inside it is questioned.
  const std::string mount = test::ScratchDir("gui_mounted");
  app_.disks[0].volumes[0].driveLetter = Utf8ToAnsi(mount);
  Hd()->FillDiskTree();
  ExpandVolume(tree->GetRootItem()->text(0), QString::fromStdString(mount));
  EXPECT_EQ(Hd()->Status()->text(), "状态提示...");
  CMyLeftTreelistCtrl* left = File()->Left();
  QModelIndex root = Find(left, "根目录");
  ASSERT_TRUE(root.isValid());
  Tick(Find(left, "Docs", root), Qt::Checked);
  Boxes boxes;
  boxes.answers = {kIdOk, kIdCancel};  // choose again once, then keep it
  int picked = 0;
  const QString inside = QString::fromStdString(mount + "/out");
  std::filesystem::create_directory(mount + "/out");
  CMySaveFileDlg::FolderPicker() = [&](QWidget*, const QString&) {
    ++picked;
    return inside + "/";
  };
  QString kept;
  pilot_.Menu("多选保存");
  pilot_.SaveDialog("", [&](CMySaveFileDlg* dlg) {
    QTest::mouseClick(dlg->findChild<QPushButton*>("browse"), Qt::LeftButton);
    kept = dlg->Target();
    QTest::mouseClick(dlg->findChild<QPushButton*>("cancel"), Qt::LeftButton);
  });
  pilot_.Start();
  Click(left, root, Qt::RightButton);
  WaitIdle();
  CMySaveFileDlg::FolderPicker() = nullptr;
  EXPECT_EQ(picked, 2);
  EXPECT_EQ(kept, inside);
  ASSERT_EQ(boxes.texts.size(), 2u);
  EXPECT_EQ(boxes.texts[0], "将文件放回原分区行为危险\r\n希望重新选择");

  // Busy, and an empty target.
  app_.busy = 1;
  pilot_.Menu("多选保存");
  pilot_.Start();
  Click(left, root, Qt::RightButton);
  WaitPilot();
  app_.busy = 0;
  EXPECT_EQ(File()->Status()->text(), "警告: 请等待当前操作完成!");
  TickedSave(left, root, "");
  EXPECT_EQ(File()->Status()->text(), "警告: 请选择保存路径!");

  // A target the code page cannot name is refused in the dialog; nothing is made.
  const std::string foreign = test::ScratchDir("gui_codepage") + "/out😀";
  boxes.texts.clear();
  pilot_.Menu("多选保存");
  pilot_.SaveDialog(QString::fromStdString(foreign), [](CMySaveFileDlg* dlg) {
    QTest::mouseClick(dlg->findChild<QPushButton*>("ok"), Qt::LeftButton);
    QTest::mouseClick(dlg->findChild<QPushButton*>("cancel"), Qt::LeftButton);
  });
  pilot_.Start();
  Click(left, root, Qt::RightButton);
  WaitIdle();
  ASSERT_EQ(boxes.texts.size(), 1u);
  EXPECT_EQ(boxes.texts[0], AnsiToUtf8(TargetNotInCodePageText()));
  EXPECT_FALSE(std::filesystem::exists(foreign));

  // A target without the space: the ticked items on the status line, the
  // single item in a message box with the size it would write.
  const int fuse = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
  if (fuse >= 0) ::close(fuse);
  if (fuse < 0 || !test::HaveTool("fusermount") ||
      test::RunCommand("/usr/bin/python3 -c 'import fusepy' 2>/dev/null").status != 0)
    GTEST_SKIP() << "no /dev/fuse, fusermount or python3-fusepy for the full target";
  const std::string full = test::ScratchDir("gui_full");
  test::RunCommand("/usr/bin/python3 '" BREVID_TEST_SOURCE_DIR "/ui/tiny_fuse.py' '" + full +
                   "' >/dev/null 2>&1 &");
  for (int i = 0; i < 100 && test::RunCommand("mountpoint -q '" + full + "'").status != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  TickedSave(left, root, QString::fromStdString(full));
  EXPECT_EQ(File()->Status()->text(), "目标盘空间不足，请重新选择盘!");
  boxes.texts.clear();
  pilot_.Menu("单选保存");
  pilot_.SaveDialog(QString::fromStdString(full));
  pilot_.Start();
  Click(left, root, Qt::RightButton);
  WaitIdle();
  test::RunCommand("fusermount -u '" + full + "'");
  ASSERT_EQ(boxes.texts.size(), 1u);
  EXPECT_NE(boxes.texts[0].find("即将保存 "), std::string::npos);
  EXPECT_NE(boxes.texts[0].find(" KB,磁盘空间不够！"), std::string::npos);
}

// The imaging window from tile 4: the chooser, the validation texts, a target
// that is the source refused, a disk and a volume copied into image files.
TEST_F(Gui, ImagingWindowCopiesDisksAndVolumesAndListsUnreadableSectors) {
  const std::string demo = test::FixturePath("demo.img");
  test::UnchangedImage unchanged(demo);
  Open({Fixture("demo.img")});
  CHDTreeListCtrl* tree = Hd()->Tree();
  const QString disk = tree->GetRootItem()->text(0);
  QTest::mouseClick(window_->TileButton(4), Qt::LeftButton);
  Click(tree, tree->GetRootItem());
  DoubleClick(tree, tree->GetRootItem());
  EXPECT_EQ(Hd()->Status()->text(), "镜像操作");
  QPointer<CImgDlg> dlg = Hd()->ImgDlg();
  ASSERT_TRUE(dlg);
  auto field = [&](const char* name) { return dlg->findChild<QLineEdit*>(name); };
  EXPECT_EQ(dlg->windowTitle(), "镜像");
  EXPECT_EQ(field("source")->text(), disk);
  EXPECT_EQ(field("count")->text(), QString::number(64 << 11));
  EXPECT_EQ(dlg->width(), CImgDlg::kNarrowWidth);
  EXPECT_TRUE(dlg->findChild<QLabel*>("doneLabel")->isHidden());
  EXPECT_FALSE(field("path")->isEnabled());
  // Idle, the open window takes the source chosen again; only a copy under
  // way keeps its own.
  Click(tree, tree->GetRootItem()->child(0));
  QTest::mouseClick(Hd()->ActionButton(), Qt::LeftButton);
  EXPECT_EQ(Hd()->Status()->text(), "镜像操作");
  EXPECT_EQ(field("source")->text(), disk + "," + tree->GetRootItem()->child(0)->text(0));
  Click(tree, tree->GetRootItem());
  QTest::mouseClick(Hd()->ActionButton(), Qt::LeftButton);
  EXPECT_EQ(field("source")->text(), disk);

  Boxes boxes;
  auto start = [&] {
    QTest::mouseClick(dlg->findChild<QPushButton*>("start"), Qt::LeftButton);
    for (int i = 0; i < 24000 && dlg && dlg->Copying(); ++i) QTest::qWait(5);
    QTest::qWait(20);  // a closed window is deleted by the event loop
  };
  // The chooser under the target field: the source disk itself is refused.
  start();
  QTest::mouseClick(field("target"), Qt::LeftButton);
  auto* chooser = dlg->findChild<CTreeListCtrl*>("chooser");
  ASSERT_TRUE(chooser->isVisible());
  CTreeListItem* chosen = chooser->topLevelItem(0);
  QTest::mouseDClick(chooser->viewport(), Qt::LeftButton, {},
                     chooser->visualItemRect(chosen).center());
  EXPECT_FALSE(chooser->isVisible());
  EXPECT_EQ(field("target")->text(), disk);
  start();
  // Into a file: none chosen yet, then the source image itself, then a new file.
  QTest::mouseClick(dlg->findChild<QRadioButton*>("toFile"), Qt::LeftButton);
  EXPECT_FALSE(field("target")->isEnabled());
  start();
  QString picked = QString::fromStdString(demo);
  const CImgDlg::Picker dialog =
      std::exchange(CImgDlg::FilePicker(), [&](QWidget*) { return picked; });
  QTest::mouseClick(dlg->findChild<QPushButton*>("browse"), Qt::LeftButton);
  start();
  ASSERT_TRUE(dlg);
  ASSERT_EQ(boxes.texts.size(), 4u);
  EXPECT_EQ(boxes.texts[0], "请选择目标磁盘信息");
  EXPECT_NE(boxes.texts[1].find("目标与源重叠"), std::string::npos);
  EXPECT_EQ(boxes.texts[2], "请选择目标文件路径");
  EXPECT_EQ(boxes.texts[3], boxes.texts[1]);
  EXPECT_TRUE(field("source")->isEnabled());
  const std::string out = test::ScratchDir("gui_imaging");
  picked = QString::fromStdString(out + "/disk.img");
  QTest::mouseClick(dlg->findChild<QPushButton*>("browse"), Qt::LeftButton);
  start();
  EXPECT_FALSE(dlg);  // it closes itself
  EXPECT_EQ(boxes.texts.back(), "镜像完毕");
  EXPECT_EQ(boxes.captions.back(), "镜像");
  const std::string bytes = test::ReadFile(demo);
  EXPECT_TRUE(test::ReadFile(out + "/disk.img") == bytes);

  // Closing the window while it copies only stops the copy; it closes once
  // the worker has ended, without "镜像完毕".
  Click(tree, tree->GetRootItem());
  QTest::mouseClick(Hd()->ActionButton(), Qt::LeftButton);
  dlg = Hd()->ImgDlg();
  ASSERT_TRUE(dlg);
  QTest::mouseClick(dlg->findChild<QRadioButton*>("toFile"), Qt::LeftButton);
  picked = QString::fromStdString(out + "/stopped.img");
  QTest::mouseClick(dlg->findChild<QPushButton*>("browse"), Qt::LeftButton);
  const size_t shown = boxes.texts.size();
  QTest::mouseClick(dlg->findChild<QPushButton*>("start"), Qt::LeftButton);
  dlg->close();
  EXPECT_TRUE(dlg && dlg->isVisible());
  for (int i = 0; i < 24000 && dlg; ++i) QTest::qWait(5);
  EXPECT_EQ(boxes.texts.size(), shown);
  EXPECT_LT(test::ReadFile(out + "/stopped.img").size(), bytes.size());

  // A volume, chosen in the source's chooser, with one sector unreadable in
  // its fourth piece: listed, the window widened, 0x20 in its place.
  const VolumeInfo& volume = app_.disks[0].volumes[0];
  const uint64_t bad = volume.start + 3 * 2048 + 5;
  MemorySourceOpener faulty;
  faulty.Add(app_.disks[0].path, std::vector<uint8_t>(bytes.begin(), bytes.end()), {bad});
  dlg = new CImgDlg(app_, app_.disks[0].Key(), Hd(), faulty);
  auto closeFirst = qScopeGuard([&] { delete dlg.data(); });  // before `faulty` goes
  dlg->show();
  QTest::mouseClick(field("source"), Qt::LeftButton);
  chooser = dlg->findChild<CTreeListCtrl*>("chooser");
  chosen = chooser->topLevelItem(0)->child(0);
  chooser->scrollToItem(chosen);
  QTest::mouseDClick(chooser->viewport(), Qt::LeftButton, {},
                     chooser->visualItemRect(chosen).center());
  EXPECT_EQ(field("source")->text(), disk + ",Partition0");
  EXPECT_EQ(field("count")->text(), QString::number(volume.sectorCount));
  QTest::mouseClick(dlg->findChild<QRadioButton*>("toFile"), Qt::LeftButton);
  picked = QString::fromStdString(out + "/volume.img");
  QTest::mouseClick(dlg->findChild<QPushButton*>("browse"), Qt::LeftButton);
  QTest::mouseClick(dlg->findChild<QPushButton*>("start"), Qt::LeftButton);
  auto* list = dlg->findChild<QTableWidget*>("badList");
  for (int i = 0; i < 24000 && list->rowCount() == 0; ++i) QTest::qWait(5);
  ASSERT_EQ(list->rowCount(), 1);
  EXPECT_EQ(list->item(0, 0)->text(), "第1个坏扇区");
  EXPECT_EQ(list->item(0, 1)->text(), QString::number(bad));
  EXPECT_EQ(dlg->width(), CImgDlg::kFullWidth);
  for (int i = 0; i < 24000 && dlg->Copying(); ++i) QTest::qWait(5);
  WaitIdle();
  // The window stays with its list until closed.
  ASSERT_TRUE(dlg);
  EXPECT_EQ(list->rowCount(), 1);
  dlg->close();
  QTest::qWait(5);
  std::string expected = bytes.substr(volume.start * 512, volume.sectorCount * 512);
  expected.replace((bad - volume.start) * 512, 512, std::string(512, '\x20'));
  EXPECT_TRUE(test::ReadFile(out + "/volume.img") == expected);
  EXPECT_EQ(boxes.texts.back(), "镜像完毕");

  // Over a map, named beside the image by default: the bad sector is left as
  // zeros and listed; a second start goes on from the finished map.
  for (const char* state : {"新的映射文件", "映射文件已存在：接续上次的镜像"}) {
    dlg = new CImgDlg(app_, app_.disks[0].Key(), Hd(), faulty);
    dlg->show();
    QTest::mouseClick(dlg->findChild<QRadioButton*>("toFile"), Qt::LeftButton);
    dlg->findChild<QCheckBox*>("useMap")->setChecked(true);
    picked = QString::fromStdString(out + "/rescued.img");
    QTest::mouseClick(dlg->findChild<QPushButton*>("browse"), Qt::LeftButton);
    EXPECT_EQ(field("map")->text(), picked + ".map");
    EXPECT_EQ(dlg->findChild<QLabel*>("mapState")->text(), state);
    QTest::mouseClick(dlg->findChild<QPushButton*>("start"), Qt::LeftButton);
    for (int i = 0; i < 24000 && dlg->Copying(); ++i) QTest::qWait(5);
    WaitIdle();
    dlg->close();
  }
  CImgDlg::FilePicker() = dialog;
  EXPECT_TRUE(test::ReadFile(out + "/rescued.img") ==
              std::string(bytes).replace(bad * 512, 512, 512, '\0'));
  EXPECT_NE(
      test::ReadFile(out + "/rescued.img.map")
          .find(Format("0x%08llX  0x00000200  -", static_cast<unsigned long long>(bad * 512))),
      std::string::npos);
  // The strip: one cell per slice, the worst status of the slice shown.
  RescueStrip strip(nullptr);
  RescueMap map;
  SetRescueStatus(map, 0, 960, '+');
  SetRescueStatus(map, 10, 1, '-');
  strip.SetMap(map, 0, 960);
  EXPECT_EQ(std::string(strip.Cells().begin(), strip.Cells().begin() + 3), "+-+");
}

// Steps and positions reach the window gathered; the bar still stands where
// the worker left it whenever another message arrives.
TEST(GuiProgress, GatheredStepsAndPositionsAllLandBeforeTheNextMessage) {
  CProgressDlg dlg;
  dlg.Open("t", "m");
  std::vector<uint64_t> atClose;
  dlg.OnWorkerClosed = [&] { atClose.push_back(dlg.Bar()->Pos()); };
  ProgressRecord& record = dlg.Record();
  std::thread worker([&record] {
    record.Send(kProgressSetRange, 3000000, 1);
    for (int i = 0; i < 1000000; ++i) record.Post(kProgressStep);
    for (int i = 0; i < 1000; ++i) record.Send(kProgressStep);
    record.Send(kProgressClose);
    record.Post(kProgressSetPos, 2000000);
    for (int i = 0; i < 5; ++i) record.Post(kProgressStep);
    record.Post(kProgressClose);
  });
  while (atClose.size() < 2) QApplication::processEvents(QEventLoop::AllEvents, 10);
  worker.join();
  EXPECT_EQ(atClose, (std::vector<uint64_t>{1001000, 2000005}));
}

TEST_F(Gui, StopDuringAnExpandLeavesTheWindowUsable) {
  Open({Fixture("ntfs_files.img")});
  CHDTreeListCtrl* tree = Hd()->Tree();
  CTreeListItem* volume = tree->GetRootItem()->child(0);
  Click(tree, volume);
  // The worker cannot pass its first progress message before this thread
  // handles it, so the stop lands while it runs.
  DoubleClick(tree, volume);
  ASSERT_TRUE(File()->WorkerRunning());
  // Escape means stop: the window stays until its worker closes it.
  QTest::keyClick(File()->Progress(), Qt::Key_Escape);
  EXPECT_TRUE(File()->Progress()->isVisible());
  EXPECT_TRUE(File()->Progress()->Record().StopRequested());
  WaitIdle();
  EXPECT_FALSE(File()->Progress()->isVisible());
  EXPECT_TRUE(File()->Left()->GetRootItem().isValid());

  // The window goes on: back, and a full expand of the same volume.
  QTest::mouseClick(File()->BackButton(), Qt::LeftButton);
  ExpandVolume(tree->GetRootItem()->text(0), "Partition0");
  QModelIndex root = Find(File()->Left(), "根目录");
  ASSERT_TRUE(root.isValid());
  EXPECT_TRUE(Find(File()->Left(), "Gone", root).isValid());
  EXPECT_TRUE(Find(File()->Left(), "Many", root).isValid());
}

// Tile 2 on a disk without its partition table: a precise search, the
// context menu on the disk and a find, the finds kept in a result file and
// read into a fresh disk list, where they expand.
TEST_F(Gui, LostPartitionsFoundInTheWindowTravelInAResultFile) {
  test::UnchangedImage lost(test::FixturePath("lost_cyl.img"));
  Open({Fixture("lost_cyl.img")});
  const QString key = Hd()->Tree()->GetRootItem()->text(0);
  auto run = [&](int tile, const char* button, std::function<bool()> dialog) {
    QTest::mouseClick(window_->TileButton(tile), Qt::LeftButton);
    Click(Hd()->Tree(), Hd()->Tree()->GetRootItem());
    pilot_.Then(std::move(dialog));
    pilot_.Start();
    QTest::mouseClick(Hd()->findChild<QPushButton*>(button), Qt::LeftButton);
    WaitIdle();
  };
  auto volumes = [&] {
    CTreeListItem* disk = Hd()->Tree()->GetRootItem();
    QString rows;
    for (int i = 0; i < disk->childCount(); ++i)
      rows += disk->child(i)->text(3) + Hd()->Tree()->GetItemTextColor(disk->child(i)).name();
    return rows;
  };
  run(2, "scan", [] {
    auto* dlg = dynamic_cast<CSearchDiskPart*>(QApplication::activeModalWidget());
    if (!dlg || !dlg->findChild<QRadioButton*>("quick")->isChecked()) return false;
    dlg->findChild<QRadioButton*>("precise")->setChecked(true);
    QTest::mouseClick(dlg->findChild<QPushButton*>("ok"), Qt::LeftButton);
    return true;
  });
  EXPECT_EQ(Hd()->Progress()->windowTitle(), "扫描丢失分区");
  EXPECT_EQ(Hd()->Progress()->MessageLine()->text(), "已经找到4个分区,继续扫描,稍等...");
  const QString found = volumes();
  EXPECT_EQ(found, "32256#00800049351680#00800065802240#00800082285056#008000");

  // Enabled entries in menu order on the disk and on a volume; none: no menu.
  auto enabled = [&](CTreeListItem* item) {
    QString out = "none";
    QTimer::singleShot(0, [&out] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      if (!menu) return;
      out.clear();
      for (QAction* a : menu->actions()) out += a->isEnabled() ? "1" : "0";
      menu->close();
    });
    Click(Hd()->Tree(), item, Qt::RightButton);
    QApplication::processEvents();
    return out;
  };
  const QStringList menus = {"101101 none", "011101 011100", "000011 000010", "001000 none"};
  for (int tile = 2; tile <= 5; ++tile) {
    QTest::mouseClick(window_->TileButton(tile), Qt::LeftButton);
    CTreeListItem* disk = Hd()->Tree()->GetRootItem();
    EXPECT_EQ(enabled(disk) + " " + enabled(disk->child(0)), menus[tile - 2]) << tile;
  }
  QTest::mouseClick(window_->TileButton(2), Qt::LeftButton);
  Click(Hd()->Tree(), Hd()->Tree()->GetRootItem()->child(0));
  QTest::mouseClick(Hd()->findChild<QPushButton*>("scan"), Qt::LeftButton);
  EXPECT_EQ(Hd()->Status()->text(), "警告: 请正确选择磁盘!");

  const QString file = QString::fromStdString(test::ScratchDir("gui_results") + "/lost.qel_scn");
  QString offered;
  run(2, "save", [&] { return ScanFile(file, &offered); });
  EXPECT_EQ(offered, DefaultScanResultName(key));
  EXPECT_EQ(Hd()->Status()->text(), "保存扫描信息结束");
  window_.reset();
  app_.disks.clear();
  Open({Fixture("lost_cyl.img")});
  run(5, "action", [&] { return ScanFile(file); });
  EXPECT_EQ(Hd()->Status()->text(), "打开扫描信息结束");
  EXPECT_EQ(volumes(), found);
  ExpandVolume(key, "Partition2");
  EXPECT_TRUE(Find(File()->Left(), "根目录").isValid());
}

// Tile 3 on a volume with files planted in its free space: they show under
// "Extra Found Files" and "多选保存" writes them out at their exact size.
TEST_F(Gui, DeepScanOfAVolumeListsAndSavesItsCarvedFiles) {
  BREVID_REQUIRE_CORPUS();
  const std::string image = test::ScratchDir("gui_deep") + "/demo.img";
  std::filesystem::copy_file(test::FixturePath("demo.img"), image);
  const std::string pdf = test::ReadFile(test::CorpusDir() + "/samples/pdf/fs_a-text.pdf");
  const std::string jpg = test::ReadFile(test::CorpusDir() + "/samples/jpeg/fs_d-debian.jpg");
  test::WriteAt(image, (2048 + 12 * 2048) * 512, pdf);  // inside Partition0
  test::WriteAt(image, (2048 + 20 * 2048) * 512, jpg);
  test::UnchangedImage unchanged(image);
  Open({QString::fromStdString(image)});
  QTest::mouseClick(window_->TileButton(3), Qt::LeftButton);
  Click(Hd()->Tree(), Hd()->Tree()->GetRootItem()->child(0));
  QTest::mouseClick(Hd()->findChild<QPushButton*>("scan"), Qt::LeftButton);
  EXPECT_EQ(Hd()->Progress()->windowTitle(), "深度扫描");
  WaitIdle();

  ExpandVolume(Hd()->Tree()->GetRootItem()->text(0), "Partition0");
  QModelIndex extra = Find(File()->Left(), "Extra Found Files");
  ASSERT_TRUE(extra.isValid());
  Tick(extra, Qt::Checked);
  const std::string out = test::ScratchDir("gui_deep_out");
  TickedSave(File()->Left(), extra, QString::fromStdString(out));
  std::map<std::string, std::string> saved = test::FilesUnder(out);
  for (const auto& [name, bytes] : {std::pair{"26624.pdf", pdf}, {"43008.jpg", jpg}}) {
    const std::string& f = saved[std::string("Extra Found Files/") + name];
    EXPECT_EQ(f, bytes) << name;
  }
  EXPECT_EQ(saved.size(), 2u);

  // A carved file ticked on its own is saved on its own, into the target.
  Tick(extra, Qt::Unchecked);
  Click(File()->Left(), extra);
  QModelIndex picture = Find(File()->Right(), "43008.jpg");
  ASSERT_TRUE(picture.isValid());
  Tick(picture, Qt::Checked);
  const std::string one = test::ScratchDir("gui_deep_one");
  TickedSave(File()->Right(), picture, QString::fromStdString(one));
  saved = test::FilesUnder(one);
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(saved["43008.jpg"].substr(0, jpg.size()), jpg);
}

}  // namespace
}  // namespace brevid::ui

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  brevid::ui::InstallQtTranslations();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
