#include "ui/brevid_dlg.h"

#include <QButtonGroup>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <QWindow>

#include "ui/file_dlg.h"
#include "ui/hd_dlg.h"
#include "ui/ui_text.h"

namespace brevid::ui {

const TileText& TileTexts(int tile) {
  static const TileText texts[kTileCount] = {
      {"文件删除恢复", "展开", "双击分区或点击展开按钮",
       "恢复shift+del删除或者从回收站删除文件;恢复卸载软件而丢失的文件;恢复杀毒软件造成丢失的文件;"
       "恢复chkdsk磁盘检查后变成.chk的文件"},
      {"格式化恢复", "扫描", "双击分区或点击扫描按钮",
       "恢复重装系统丢失的文件;恢复误Ghost丢失的文件;恢复格式化而丢失的文件"},
      {"扫描丢失分区", "展开", "在磁盘上右击或者点击按钮",
       "适合删除分区的恢复;适合重新分区后的恢复;适合整个硬盘变成一个分区的恢复;"
       "适合分区打不开，提示格式化的恢复;适合Ghost后变成一个分区的恢复"},
      {"深度扫描", "展开", "在磁盘或分区上右击或者点击按钮",
       "适合目录破坏的恢复;可以按文件类型扫描"},
      {"镜像功能", "镜像", "在磁盘或分区上右击、双击或者点击按钮",
       "此功能适合于两类:磁盘设备与文件.他们可以作为源设备,也可以作为目标设备"},
      {"打开扫描信息", "打开", "在磁盘上右击或者点击打开按钮",
       "打开 扫描丢失分区、深度扫描 的结果"},
  };
  return texts[tile >= 0 && tile < kTileCount ? tile : 0];
}

namespace {

const char* const kTileStyle =
    "QPushButton { background: #2f6db0; color: white; border: 1px solid #1d4d80;"
    " padding: 10px; font-size: 15px; }"
    "QPushButton:checked { background: #f0a020; color: black; }";
const char* const kTitleStyle = "background: #1d4d80; color: white;";
const char* const kLeftStyle = "background: #e8eef6;";

}  // namespace

CBrevidDlg::CBrevidDlg(AppState& app) : app_(app) {
  setObjectName("CBrevidDlg");
  setWindowTitle("Brevid");
  setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
  setMouseTracking(true);
  resize(1100, 700);

  auto* titleBar = new QWidget(this);
  titleBar->setStyleSheet(kTitleStyle);
  auto* title = new QLabel("Brevid", titleBar);
  title->setStyleSheet("font-weight: bold; font-size: 16px;");
  auto* titleLayout = new QHBoxLayout(titleBar);
  titleLayout->setContentsMargins(10, 4, 4, 4);
  titleLayout->addWidget(title);
  titleLayout->addStretch();
  for (const char* text : {"-", "+", "x"}) {
    auto* b = new QPushButton(text, titleBar);
    b->setObjectName(QString("window") + text);
    b->setFixedSize(28, 24);
    titleLayout->addWidget(b);
    if (text[0] == '-') connect(b, &QPushButton::clicked, this, &QWidget::showMinimized);
    if (text[0] == '+')
      connect(b, &QPushButton::clicked, this,
              [this] { isMaximized() ? showNormal() : showMaximized(); });
    // Ends the program even while a progress window is still shown.
    if (text[0] == 'x')
      connect(b, &QPushButton::clicked, this, [this] {
        close();
        QCoreApplication::quit();
      });
  }

  auto* tileRow = new QHBoxLayout();
  auto* group = new QButtonGroup(this);
  for (int t = 0; t < kTileCount; ++t) {
    tiles_[t] = new QPushButton(TileTexts(t).title, this);
    tiles_[t]->setObjectName(QString("tile%1").arg(1000 + t));
    tiles_[t]->setCheckable(true);
    tiles_[t]->setStyleSheet(kTileStyle);
    group->addButton(tiles_[t], t);
    tileRow->addWidget(tiles_[t]);
  }
  connect(group, &QButtonGroup::idClicked, this, &CBrevidDlg::SelectTile);

  auto* left = new QWidget(this);
  left->setObjectName("leftColumn");
  left->setFixedWidth(230);
  left->setAutoFillBackground(true);
  left->setStyleSheet(kLeftStyle);
  leftTitle_ = new QLabel(left);
  leftTitle_->setStyleSheet("font-weight: bold; font-size: 15px;");
  leftDescription_ = new QLabel(left);
  leftDescription_->setWordWrap(true);
  auto* howTo = new QLabel("操作方法", left);
  howTo->setStyleSheet("font-weight: bold;");
  leftHint_ = new QLabel(left);
  leftHint_->setWordWrap(true);
  auto* leftLayout = new QVBoxLayout(left);
  leftLayout->addWidget(leftTitle_);
  leftLayout->addWidget(leftDescription_);
  leftLayout->addSpacing(12);
  leftLayout->addWidget(howTo);
  leftLayout->addWidget(leftHint_);
  leftLayout->addStretch();

  work_ = new QStackedWidget(this);
  hd_ = new CHdDlg(app_, this);
  file_ = new CFileDlg(app_, this);
  work_->addWidget(hd_);
  work_->addWidget(file_);

  auto* body = new QHBoxLayout();
  body->addWidget(left);
  body->addWidget(work_, 1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(titleBar);
  layout->addLayout(tileRow);
  layout->addLayout(body, 1);

  hd_->FillDiskTree();
  tiles_[0]->setChecked(true);
  SelectTile(0);
}

void CBrevidDlg::SelectTile(int tile) {
  if (tile < 0 || tile >= kTileCount) return;
  tile_ = tile;
  tiles_[tile]->setChecked(true);
  const TileText& t = TileTexts(tile);
  leftTitle_->setText(t.title);
  leftDescription_->setText(t.description);
  leftHint_->setText(t.hint);
  ShowDiskPane();
  hd_->ApplyTile(tile);
  file_->ReleaseTrees();
}

void CBrevidDlg::Remember(const std::string& diskKey, const std::string& volumeName) {
  diskKey_ = diskKey;
  volumeName_ = volumeName;
}

void CBrevidDlg::ShowFilePane() { work_->setCurrentWidget(file_); }

void CBrevidDlg::ShowDiskPane() {
  work_->setCurrentWidget(hd_);
  hd_->FillDiskTree();
}

Qt::Edges CBrevidDlg::EdgesAt(const QPoint& at) const {
  // The window has no frame: its outer few pixels serve as one.
  constexpr int kGrip = 6;
  Qt::Edges edges;
  if (at.x() < kGrip) edges |= Qt::LeftEdge;
  if (at.x() >= width() - kGrip) edges |= Qt::RightEdge;
  if (at.y() < kGrip) edges |= Qt::TopEdge;
  if (at.y() >= height() - kGrip) edges |= Qt::BottomEdge;
  return edges;
}

void CBrevidDlg::mousePressEvent(QMouseEvent* event) {
  const Qt::Edges edges = EdgesAt(event->position().toPoint());
  if (edges && event->button() == Qt::LeftButton && !isMaximized() && windowHandle() &&
      windowHandle()->startSystemResize(edges))
    return;
  dragFrom_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void CBrevidDlg::mouseMoveEvent(QMouseEvent* event) {
  if (event->buttons() & Qt::LeftButton && !isMaximized()) {
    move(event->globalPosition().toPoint() - dragFrom_);
    return;
  }
  // The pointer tells where an edge can be pulled.
  const Qt::Edges edges = EdgesAt(event->position().toPoint());
  const bool diagonal =
      (edges & (Qt::LeftEdge | Qt::RightEdge)) && (edges & (Qt::TopEdge | Qt::BottomEdge));
  const bool falling =
      edges == (Qt::LeftEdge | Qt::TopEdge) || edges == (Qt::RightEdge | Qt::BottomEdge);
  if (!edges || isMaximized())
    unsetCursor();
  else if (diagonal)
    setCursor(falling ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor);
  else
    setCursor(edges & (Qt::LeftEdge | Qt::RightEdge) ? Qt::SizeHorCursor : Qt::SizeVerCursor);
}

}  // namespace brevid::ui
