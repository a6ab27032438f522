// The main window.
#include "ui/main_window/form1.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>

#include <vector>

#include "data/connection_string.h"
#include "data/data_module.h"
#include "mapping/mapping_line.h"
#include "ui/data_grid/db_grid_eh.h"
#include "ui/mapping_window/form3.h"
#include "ui/platform/anchors.h"
#include "ui/platform/dispatch.h"
#include "ui/platform/list_box.h"
#include "ui/platform/splitter.h"
#include "ui/platform/text_viewer.h"

namespace vov::ui {

TForm1* Form1 = nullptr;

namespace {

constexpr Qt::Edges kLeftTop = Qt::LeftEdge | Qt::TopEdge;
constexpr Qt::Edges kLeftTopBottom = kLeftTop | Qt::BottomEdge;
constexpr Qt::Edges kAllEdges = kLeftTopBottom | Qt::RightEdge;

constexpr char kUsageFile[] = "使用说明.txt";

constexpr char kServerPrompt[] =
    "请输入 PostgreSQL 或 MySQL/MariaDB 数据库地址，例如：\n"
    "postgresql://用户名:密码@主机:5432/数据库名\n"
    "mysql://用户名:密码@主机:3306/数据库名";

QString qs(const std::string& s) { return QString::fromStdString(s); }

QPushButton* makeButton(QWidget* parent, QRect geometry, const char* caption,
                        const char* hint = nullptr) {
  auto* b = new QPushButton(QString::fromUtf8(caption), parent);
  b->setGeometry(geometry);
  if (hint) b->setToolTip(QString::fromUtf8(hint));
  return b;
}

template <class W>
W* place(W* w, QRect geometry, const char* hint) {
  w->setGeometry(geometry);
  w->setToolTip(QString::fromUtf8(hint));
  return w;
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
  setWindowTitle(QStringLiteral("Vovarize vovarize@example.org"));
  programFolder = QCoreApplication::applicationDirPath().toStdString();
  move(182, 99);
  resize(688, 524);
  QFont f;
  f.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun")});
  f.setPixelSize(13);
  setFont(f);

  GroupBox2 = new QGroupBox(QStringLiteral("老数据库"), this);
  Splitter1 = new TSplitter(this, GroupBox2);
  GroupBox1 = new QGroupBox(QStringLiteral("新数据库"), this);
  layoutBands();

  Button1 = makeButton(GroupBox2, {72, 16, 97, 25}, "打开老数据库", "打开要迁移的老的数据库");
  Button6 = makeButton(GroupBox2, {174, 16, 72, 25}, "连接服务器",
                       "连接 PostgreSQL 或 MySQL/MariaDB 服务器上的老数据库");
  ListBox1 = place(new ListBox(GroupBox2), {8, 48, 193, 137}, "全部的表");
  ListBox3 = place(new ListBox(GroupBox2), {208, 48, 145, 137}, "当前表内字段");
  DBGridEh1 = place(new TDBGridEh(GroupBox2), {360, 48, 320, 137}, "当前表内数据");
  auto* oldAnchors = new Anchors(GroupBox2);
  for (QWidget* w : {static_cast<QWidget*>(Button1), static_cast<QWidget*>(Button6)})
    oldAnchors->add(w, kLeftTop);
  oldAnchors->add(ListBox1, kLeftTopBottom);
  oldAnchors->add(ListBox3, kLeftTopBottom);
  oldAnchors->add(DBGridEh1, kAllEdges);

  Button2 = makeButton(GroupBox1, {80, 16, 89, 25}, "打开新数据库", "打开新的数据库");
  Button4 = makeButton(GroupBox1, {224, 16, 137, 25}, "设置对应关系和迁移",
                       "设置新老数据库字节对应关系并迁移数据,一次迁移一个表");
  Button7 = makeButton(GroupBox1, {365, 16, 72, 25}, "连接服务器",
                       "连接 PostgreSQL 或 MySQL/MariaDB 服务器上的新数据库");
  Button3 = makeButton(GroupBox1, {440, 16, 89, 25}, "使用说明");
  Button5 = makeButton(GroupBox1, {544, 16, 75, 25}, "版权", "版权申明");
  ListBox2 = place(new ListBox(GroupBox1), {8, 48, 193, 268}, "全部的表");
  ListBox4 = place(new ListBox(GroupBox1), {208, 48, 145, 268}, "当前表内字段");
  DBGridEh2 = place(new TDBGridEh(GroupBox1), {360, 48, 320, 268}, "显示表内数据");
  auto* newAnchors = new Anchors(GroupBox1);
  for (QWidget* w : {Button2, Button4, Button7, Button3, Button5}) newAnchors->add(w, kLeftTop);
  newAnchors->add(ListBox2, kLeftTopBottom);
  newAnchors->add(ListBox4, kLeftTopBottom);
  newAnchors->add(DBGridEh2, kAllEdges);

  Button4->setEnabled(false);
  // The Access entry comes first; the other kinds this program reads follow.
  OpenDialog1.filter =
      "access数据库 *.mdb|*.mdb|Access 2007 及以后 *.accdb|*.accdb|"
      "SQLite 数据库 *.db *.sqlite *.sqlite3|*.db;*.sqlite;*.sqlite3|所有文件 *|*";
  OpenDialog1.fileMustExist = false;

  // The new band comes first, so the new table list has the focus at start.
  QWidget* order[] = {ListBox2, Button2, Button7, ListBox4, DBGridEh2, Button4, Button5,
                      Button3,  ListBox1, Button1, Button6, ListBox3, DBGridEh1};
  for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
  ListBox2->setFocus();

  connect(Splitter1, &TSplitter::moved, this, [this](int h) {
    oldBandHeight_ = h;
    layoutBands();
  });
  connect(Button1, &QPushButton::clicked, this, guarded([this] { Button1Click(); }));
  connect(Button2, &QPushButton::clicked, this, guarded([this] { Button2Click(); }));
  connect(Button6, &QPushButton::clicked, this, guarded([this] { Button6Click(); }));
  connect(Button7, &QPushButton::clicked, this, guarded([this] { Button7Click(); }));
  connect(Button3, &QPushButton::clicked, this, guarded([this] { Button3Click(); }));
  connect(Button4, &QPushButton::clicked, this, guarded([this] { Button4Click(); }));
  connect(Button5, &QPushButton::clicked, this, guarded([this] { Button5Click(); }));
  connect(ListBox1, &ListBox::picked, this, guarded([this] { ListBox1Click(); }));
  connect(ListBox2, &ListBox::picked, this, guarded([this] { ListBox2Click(); }));
  // A click into an empty table list tells the user why nothing is there.
  ListBox1->viewport()->installEventFilter(this);
  ListBox2->viewport()->installEventFilter(this);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    if (watched == ListBox1->viewport() && ListBox1->count() == 0)
      runGuarded([this] { ListBox1Click(); });
    else if (watched == ListBox2->viewport() && ListBox2->count() == 0)
      runGuarded([this] { ListBox2Click(); });
  }
  return QWidget::eventFilter(watched, event);
}

// The window is made before the data module, so the grids find their
// data sources when the window is first shown or used.
void TForm1::bindGrids() {
  if (!DataModule2 || DBGridEh1->dataSource()) return;
  DBGridEh1->setDataSource(&DataModule2->DataSource2old);
  DBGridEh2->setDataSource(&DataModule2->DataSource1new);
}

TForm1::Band TForm1::band(bool old) {
  bindGrids();
  TDataModule2& dm = *DataModule2;
  if (old)
    return {GroupBox2, "老数据库", ListBox1, ListBox3, DBGridEh1,
            &dm.ADOConnection2old, &dm.ADODataSet2old, &oldOpened};
  return {GroupBox1, "新数据库", ListBox2, ListBox4, DBGridEh2,
          &dm.ADOConnection1new, &dm.ADODataSet1new, &newOpened};
}

// ------------------------------------------------------------- the bands

// The old band keeps its height (0 when collapsed); the new band takes
// what is left.
void TForm1::layoutBands() { Splitter1->placeBands(oldBandHeight_, GroupBox1); }

void TForm1::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  layoutBands();
}

void TForm1::FormShow() { setWindowState(windowState() | Qt::WindowMaximized); }

// Restoring a minimised window is not a new showing.
void TForm1::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  bindGrids();
  if (!e->spontaneous()) runGuarded([this] { FormShow(); });
}

// Rows typed into a grid are written before the program ends.
void TForm1::closeEvent(QCloseEvent* e) {
  runGuarded([this] {
    DBGridEh1->post();
    DBGridEh2->post();
  });
  QWidget::closeEvent(e);
}

// ------------------------------------------------------ opening a database

void TForm1::Button1Click() { openFile(true); }
void TForm1::Button2Click() { openFile(false); }
void TForm1::Button6Click() { connectServer(true); }
void TForm1::Button7Click() { connectServer(false); }

void TForm1::openFile(bool old) {
  if (!OpenDialog1.execute(this)) return;
  const std::string path = OpenDialog1.fileName;
  openDatabase(band(old), path, path);
}

void TForm1::connectServer(bool old) {
  const std::string address = trimControl(inputBox(this, "连接服务器", kServerPrompt));
  if (address.empty()) return;
  // The address is not repeated: it may hold a password.
  const EngineKind kind = detectEngine(address);
  if (kind != EngineKind::Postgres && kind != EngineKind::MariaDb) {
    messageBox(this, "数据库地址应以 postgresql://、postgres://、mysql:// 或 mariadb:// 开头", "错误",
               MB_OK | MB_ICONWARNING);
    return;
  }
  openDatabase(band(old), address, withoutPassword(address));
}

// The caption shows the new database before it is opened, so it names it
// even when the open fails.
void TForm1::openDatabase(const Band& b, const std::string& source, const std::string& shown) {
  b.grid->post();
  setScreenCursor(crHourGlass);
  b.preview->close();
  b.connection->close();
  b.box->setTitle(qs(std::string(b.title) + " " + shown));
  TDataModule2::openSide(*b.connection, *b.preview, source);
  std::vector<std::string> names;
  b.connection->tableNames(names);
  b.tables->setItems(names);
  *b.opened = true;
  Button4->setEnabled(oldOpened && newOpened);
  setScreenCursor(crDefault);
}

// ------------------------------------------------------- showing a table

void TForm1::ListBox1Click() { showTable(band(true)); }
void TForm1::ListBox2Click() { showTable(band(false)); }

void TForm1::showTable(const Band& b) {
  if (b.tables->itemIndex() < 0) {
    messageBox(this, "没有打开数据库或数据库为空", "错误", MB_OK | MB_ICONWARNING);
    return;
  }
  if (!*b.opened) {
    messageBox(this, "请先打开数据库", "错误", MB_OK | MB_ICONWARNING);
    return;
  }
  b.grid->post();
  const std::string table = b.tables->selectedItem();
  std::vector<std::string> fields;
  b.connection->fieldNames(table, fields);
  b.fields->setItems(fields);
  setScreenCursor(crHourGlass);
  TDataModule2::preview(*b.preview, table);
  setScreenCursor(crDefault);
}

// ------------------------------------------------------------ the others

void TForm1::Button4Click() {
  Form3->show();
  Form3->raise();
  Form3->activateWindow();
}

std::vector<std::string> TForm1::usageFileCandidates() const {
  return {programFolder + "/" + kUsageFile, programFolder + "/../share/vovarize/" + kUsageFile};
}

// Nothing happening is no answer: a missing file is named, and a file no
// desktop program takes is shown in a window of the program's own.
void TForm1::Button3Click() {
  const std::vector<std::string> candidates = usageFileCandidates();
  for (const std::string& path : candidates) {
    if (!QFileInfo(qs(path)).isFile()) continue;
    QPointer<TForm1> self(this);
    shellOpen(this, path, [self, path] {
      if (self) showTextFile(self, path, "使用说明");
    });
    return;
  }
  messageBox(this,
             std::string("找不到使用说明文件“") + kUsageFile + "”：“" + programFolder +
                 "”和“" + QDir::cleanPath(qs(programFolder + "/../share/vovarize")).toStdString() +
                 "”里都没有",
             "错误", MB_OK | MB_ICONWARNING);
}

void TForm1::Button5Click() {
  messageBox(this,
             "Vovarize " VOVARIZE_VERSION "\n"
             "按手工建立的字段对应关系，把老数据库一张表的数据迁移到新数据库的另一张表。\n"
             "读写 Access、SQLite 文件和 PostgreSQL、MySQL/MariaDB 服务器。\n"
             "联系：vovarize@example.org",
             "版权申明", MB_OK | MB_ICONINFORMATION);
}

}  // namespace vov::ui
