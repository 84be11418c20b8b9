#include "ui/img_dlg.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QHeaderView>
#include <QRegularExpressionValidator>
#include <QTimer>

#include "device/volume_names.h"
#include "platform/codepage.h"
#include "platform/file_system.h"
#include "platform/message_box.h"
#include "ui/ui_text.h"

namespace brevid::ui {
namespace {

constexpr int kMargin = 12;
constexpr int kLabelWidth = 80;
constexpr int kFieldX = kMargin + kLabelWidth;
constexpr int kFieldWidth = CImgDlg::kNarrowWidth - kFieldX - kMargin;
constexpr int kRowHeight = 24;
constexpr int kHeight = 406;
constexpr int kEndpointRole = Qt::UserRole;  // the item's endpoint text, CP936

}  // namespace

CImgDlg::Picker& CImgDlg::FilePicker() {
  static Picker picker = [](QWidget* owner) {
    // Qt asks before replacing an existing file.
    return QFileDialog::getSaveFileName(owner, "镜像", QString(),
                                        "Img files (*.img);;All files (*)");
  };
  return picker;
}

QLineEdit* CImgDlg::AddField(const QString& label, int y, int width, QLabel** labelOut) {
  auto* l = new QLabel(label, this);
  l->setGeometry(kMargin, y, kLabelWidth, kRowHeight);
  auto* field = new QLineEdit(this);
  field->setGeometry(kFieldX, y, width, kRowHeight);
  if (labelOut) *labelOut = l;
  return field;
}

CImgDlg::CImgDlg(AppState& app, const std::string& source, QWidget* parent,
                 const SourceOpener& opener)
    : QDialog(parent),
      app_(app),
      opener_(opener),
      sourceText_(source),
      queue_(std::make_unique<QueuedProgressTarget>(
          this, [this](uint32_t m, uint64_t w, uint64_t l) { Handle(m, w, l); })) {
  setObjectName("CImgDlg");
  setWindowTitle("镜像");
  setAttribute(Qt::WA_DeleteOnClose);
  record_.window = queue_.get();
  auto* digits = new QRegularExpressionValidator(QRegularExpression("[0-9]*"), this);

  source_ = AddField("源文件：", 12, kFieldWidth);
  source_->setObjectName("source");
  count_ = AddField("扇区数目：", 44, kFieldWidth);
  count_->setObjectName("count");
  sourceStart_ = AddField("起始扇区：", 76, kFieldWidth);
  sourceStart_->setObjectName("sourceStart");
  toDisk_ = new QRadioButton("到磁盘", this);
  toDisk_->setObjectName("toDisk");
  toDisk_->setGeometry(kMargin, 110, 100, kRowHeight);
  toFile_ = new QRadioButton("到文件", this);
  toFile_->setObjectName("toFile");
  toFile_->setGeometry(kMargin + 110, 110, 100, kRowHeight);
  target_ = AddField("目标磁盘：", 142, kFieldWidth, &targetLabel_);
  target_->setObjectName("target");
  targetStart_ = AddField("起始扇区：", 174, kFieldWidth, &targetStartLabel_);
  targetStart_->setObjectName("targetStart");
  path_ = AddField("文件路径：", 206, kFieldWidth - 40, &pathLabel_);
  path_->setObjectName("path");
  browse_ = new QPushButton("...", this);
  browse_->setObjectName("browse");
  browse_->setGeometry(kFieldX + kFieldWidth - 34, 206, 34, kRowHeight);

  useMap_ = new QCheckBox("映射文件：", this);
  useMap_->setObjectName("useMap");
  useMap_->setGeometry(kMargin - 4, 238, kLabelWidth + 4, kRowHeight);
  map_ = new QLineEdit(this);
  map_->setObjectName("map");
  map_->setGeometry(kFieldX, 238, kFieldWidth, kRowHeight);
  mapState_ = new QLabel(this);
  mapState_->setObjectName("mapState");
  mapState_->setGeometry(kFieldX, 264, kFieldWidth, 18);
  strip_ = new RescueStrip(this);
  strip_->setObjectName("strip");
  strip_->setGeometry(kMargin, 284, kNarrowWidth - 2 * kMargin, 14);

  bar_ = new CTextProgressCtrl(this);
  bar_->setObjectName("bar");
  bar_->setGeometry(kMargin, 308, kNarrowWidth - 2 * kMargin, 22);
  done_ = new QLabel(this);
  done_->setObjectName("done");
  done_->setGeometry(kMargin, 336, 150, kRowHeight);
  done_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  doneLabel_ = new QLabel("扇区完成镜像", this);
  doneLabel_->setObjectName("doneLabel");
  doneLabel_->setGeometry(kMargin + 156, 336, 120, kRowHeight);
  start_ = new QPushButton("开始", this);
  start_->setObjectName("start");
  start_->setGeometry(kNarrowWidth - 2 * 90 - kMargin, 368, 84, 28);
  stop_ = new QPushButton("停止", this);
  stop_->setObjectName("stop");
  stop_->setGeometry(kNarrowWidth - 90 - kMargin, 368, 84, 28);

  // Everything right of the line is shown only once a sector is unreadable.
  auto* separator = new QFrame(this);
  separator->setFrameShape(QFrame::VLine);
  separator->setGeometry(kNarrowWidth - 2, kMargin, 2, kHeight - 2 * kMargin);
  badList_ = new QTableWidget(0, 2, this);
  badList_->setObjectName("badList");
  badList_->setHorizontalHeaderLabels({"坏扇区数目", "坏扇区扇区号"});
  badList_->setColumnWidth(0, 96);
  badList_->setColumnWidth(1, 100);
  badList_->verticalHeader()->hide();
  badList_->setSelectionBehavior(QAbstractItemView::SelectRows);
  badList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  badList_->setShowGrid(true);
  badList_->setGeometry(kNarrowWidth + 6, kMargin, kFullWidth - kNarrowWidth - 6 - kMargin,
                        kHeight - 2 * kMargin);

  chooser_ = new CTreeListCtrl(this);
  chooser_->setObjectName("chooser");
  chooser_->InsertColumn(0, QString(), kFieldWidth);
  chooser_->setHeaderHidden(true);
  chooser_->hide();

  for (QLineEdit* field : {source_, count_, target_, path_}) field->setReadOnly(true);
  for (QLineEdit* field : {sourceStart_, targetStart_}) {
    field->setValidator(digits);
    field->setText("0");
  }
  source_->setText(FromAnsi(sourceText_));
  count_->setText(QString::number(CountEndpointSectors(app_.disks, sourceText_)));
  source_->installEventFilter(this);
  target_->installEventFilter(this);
  doneLabel_->hide();
  toDisk_->setChecked(true);
  ModeChanged();
  setFixedSize(kNarrowWidth, kHeight);

  connect(toDisk_, &QRadioButton::toggled, this, &CImgDlg::ModeChanged);
  connect(browse_, &QPushButton::clicked, this, &CImgDlg::Browse);
  connect(start_, &QPushButton::clicked, this, &CImgDlg::Start);
  connect(stop_, &QPushButton::clicked, this, &CImgDlg::Stop);
  connect(useMap_, &QCheckBox::toggled, this, &CImgDlg::UseMapChanged);
  connect(map_, &QLineEdit::textChanged, this, &CImgDlg::MapChanged);
  UseMapChanged();
  counters_.onMap = [this](const RescueMap& map) {
    {
      std::lock_guard lock(mapLock_);
      latestMap_ = map;
      if (mapPending_) return;
      mapPending_ = true;
    }
    QMetaObject::invokeMethod(
        this, [this] { ShowMap(); }, Qt::QueuedConnection);
  };
  chooser_->OnLButtonDblClk = [this](CTreeListItem* item) { Choose(item); };
  counters_.onBadSector = [this](const BadSector& bad) {
    QMetaObject::invokeMethod(
        this, [this, bad] { AddBadRow(bad); }, Qt::QueuedConnection);
  };
}

CImgDlg::~CImgDlg() {
  record_.stop.store(1);
  queue_->Abandon();
  worker_.Join();
}

bool CImgDlg::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonPress && (watched == source_ || watched == target_)) {
    auto* field = static_cast<QLineEdit*>(watched);
    if (field->isEnabled()) OpenChooser(field);
  }
  return QDialog::eventFilter(watched, event);
}

void CImgDlg::OpenChooser(QLineEdit* field) {
  chooserField_ = field;
  chooser_->DeleteAllItems();
  for (const DiskInfo& disk : app_.disks) {
    CTreeListItem* item = chooser_->InsertItem(FromAnsi(disk.Key()));
    item->setData(0, kEndpointRole, QByteArray::fromStdString(disk.Key()));
    for (const std::string& text : VolumeItemTexts(disk)) {
      CTreeListItem* child = chooser_->InsertItem(FromAnsi(text), item);
      child->setData(0, kEndpointRole, QByteArray::fromStdString(disk.Key() + "," + text));
    }
    chooser_->Expand(item);
  }
  const QRect at = field->geometry();
  chooser_->setGeometry(at.left(), at.bottom() + 1, at.width(), 4 * at.height());
  chooser_->show();
  chooser_->raise();
  chooser_->setFocus();
}

void CImgDlg::Choose(CTreeListItem* item) {
  if (!item || !chooserField_) return;
  const std::string text = item->data(0, kEndpointRole).toByteArray().toStdString();
  chooserField_->setText(FromAnsi(text));
  if (chooserField_ == source_) {
    SetSource(text);
  } else {
    targetText_ = text;
  }
  chooser_->hide();
  chooserField_ = nullptr;
}

void CImgDlg::SetSource(const std::string& source) {
  if (Copying()) return;
  sourceText_ = source;
  source_->setText(FromAnsi(source));
  count_->setText(QString::number(CountEndpointSectors(app_.disks, source)));
}

void CImgDlg::ModeChanged() {
  const bool disk = toDisk_->isChecked();
  for (QWidget* w :
       std::initializer_list<QWidget*>{target_, targetLabel_, targetStart_, targetStartLabel_})
    w->setEnabled(disk);
  for (QWidget* w : std::initializer_list<QWidget*>{path_, pathLabel_, browse_})
    w->setEnabled(!disk);
  if (chooserField_ == target_ && !disk) chooser_->hide();
}

void CImgDlg::Browse() {
  const QString path = FilePicker()(this);
  if (path.isEmpty()) return;
  path_->setText(path);
  if (useMap_->isChecked() && map_->text().isEmpty()) map_->setText(DefaultMapPath(path));
}

void CImgDlg::UseMapChanged() {
  const bool on = useMap_->isChecked();
  if (on && map_->text().isEmpty() && !path_->text().isEmpty() && toFile_->isChecked())
    map_->setText(DefaultMapPath(path_->text()));
  map_->setEnabled(on && useMap_->isEnabled());
  MapChanged();
}

// Says whether "开始" will go on from the map or begin one.
void CImgDlg::MapChanged() {
  const QString path = map_->text();
  if (!useMap_->isChecked() || path.isEmpty()) return mapState_->clear();
  mapState_->setText(PathExists(ToAnsi(QFileInfo(path).absoluteFilePath()))
                         ? "映射文件已存在：接续上次的镜像"
                         : "新的映射文件");
}

void CImgDlg::ShowMap() {
  RescueMap map;
  {
    std::lock_guard lock(mapLock_);
    map = latestMap_;
    mapPending_ = false;
  }
  const uint64_t total = counters_.totalBytes;
  strip_->SetMap(map, copyBegin_, total ? copyBegin_ + total : copyEnd_);
  done_->setText(QString::number(counters_.rescuedBytes / 512));
}

void CImgDlg::SetEditable(bool editable) {
  for (QWidget* w :
       std::initializer_list<QWidget*>{source_, sourceStart_, toDisk_, toFile_, start_, useMap_})
    w->setEnabled(editable);
  map_->setEnabled(editable && useMap_->isChecked());
  if (editable) {
    ModeChanged();
    return;
  }
  chooser_->hide();
  for (QWidget* w : std::initializer_list<QWidget*>{target_, targetStart_, path_, browse_})
    w->setEnabled(false);
}

void CImgDlg::Refuse(const std::string& ansiText) {
  ShowMessageBox(ansiText, "error", kMbOk | kMbIconError);
}

void CImgDlg::Start() {
  if (Copying()) return;
  ImagingRequest request;
  request.sourceText = sourceText_;
  if (sourceText_.empty()) return Refuse(Ansi("请选择源磁盘信息"));
  if (count_->text().isEmpty()) return Refuse(Ansi("请填写源磁盘镜像大小"));
  // An empty field and a number past 64 bits get the same answer.
  bool ok = false;
  request.sourceStartSector = sourceStart_->text().toULongLong(&ok);
  if (!ok) return Refuse(Ansi("请填写源磁盘镜像起始扇区"));
  request.toDisk = toDisk_->isChecked();
  if (request.toDisk) {
    if (targetText_.empty()) return Refuse(Ansi("请选择目标磁盘信息"));
    request.targetText = targetText_;
    request.targetStartSector = targetStart_->text().toULongLong(&ok);
    if (!ok) return Refuse(Ansi("请填写目标磁盘镜像起始扇区"));
  } else {
    if (path_->text().isEmpty()) return Refuse(Ansi("请选择目标文件路径"));
    request.targetFile = ToAnsi(QFileInfo(path_->text()).absoluteFilePath());
  }
  if (useMap_->isChecked()) {
    if (map_->text().isEmpty()) return Refuse(Ansi("请选择映射文件路径"));
    request.mapFile = ToAnsi(QFileInfo(map_->text()).absoluteFilePath());
  }
  const ImagingEndpoint from = ResolveImagingEndpoint(app_.disks, sourceText_);
  copyBegin_ = from.byteOffset + request.sourceStartSector * 512;
  copyEnd_ = from.byteOffset + from.Length();
  // Another pane may have started a long operation since this window opened.
  if (app_.Busy()) return Refuse(Ansi("请等待当前操作完成"));

  SetEditable(false);
  badList_->setRowCount(0);
  setFixedSize(kNarrowWidth, kHeight);
  record_.stop.store(0);
  bar_->SetRange(0, 1);
  done_->setText("0");
  doneLabel_->show();
  worker_.Start(app_, [this, request] {
    outcome_ = RunImaging(app_.disks, request, record_, app_.busy, &counters_, opener_);
  });
}

void CImgDlg::Stop() { record_.stop.store(1); }

void CImgDlg::Handle(uint32_t message, uint64_t wParam, uint64_t lParam) {
  bar_->Apply(message, wParam, lParam);
  if (message == kProgressStep) done_->setText(QString::number(counters_.sectorsDone.load()));
  // The worker is still inside its last Send: take it back afterwards.
  if (message == kProgressClose) QTimer::singleShot(0, this, [this] { Finished(); });
}

void CImgDlg::AddBadRow(const BadSector& bad) {
  const int row = badList_->rowCount();
  if (row == 0) setFixedSize(kFullWidth, kHeight);
  badList_->insertRow(row);
  badList_->setItem(row, 0, new QTableWidgetItem(FromAnsi(BadSectorRowText(bad.row))));
  badList_->setItem(row, 1, new QTableWidgetItem(QString::number(bad.sector)));
}

void CImgDlg::Finished() {
  if (!worker_.Running()) return;
  worker_.Join();
  switch (outcome_.result) {
    case ImagingResult::kDone:
      ShowMessageBox(outcome_.text, Ansi("镜像"), kMbOk | kMbIconInformation);
      break;
    case ImagingResult::kStopped:
      break;
    case ImagingResult::kRefused:
      // Nothing was written: the operator may choose again.
      Refuse(outcome_.text);
      bar_->SetRange(0, 1);
      doneLabel_->hide();
      done_->clear();
      SetEditable(true);
      return;
    case ImagingResult::kFailed:
      Refuse(outcome_.text);
      break;
  }
  // The list of bad sectors is what the operator needs next; it stays.
  if (badList_->rowCount() == 0) return (void)close();
  SetEditable(true);
}

void CImgDlg::closeEvent(QCloseEvent* event) {
  if (Copying()) {
    Stop();
    event->ignore();
    return;
  }
  event->accept();
}

}  // namespace brevid::ui
