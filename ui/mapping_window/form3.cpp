// The mapping window.
#include "ui/mapping_window/form3.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QShowEvent>

#include <algorithm>
#include <chrono>
#include <functional>
#include <iterator>
#include <vector>

#include "app/error_display.h"
#include "data/data_module.h"
#include "mapping/mapping_file.h"
#include "mapping/progress_line.h"
#include "migration/export_table.h"
#include "migration/migrate_table.h"
#include "ui/platform/anchors.h"
#include "ui/platform/splitter.h"
#include "ui/platform/dispatch.h"
#include "ui/platform/list_box.h"

namespace vov::ui {

TForm3* Form3 = nullptr;

namespace {

constexpr Qt::Edges kLeftTop = Qt::LeftEdge | Qt::TopEdge;
constexpr Qt::Edges kLeftBottom = Qt::LeftEdge | Qt::BottomEdge;
constexpr Qt::Edges kLeftTopBottom = kLeftTop | Qt::BottomEdge;
constexpr Qt::Edges kAllEdges = kLeftTopBottom | Qt::RightEdge;

constexpr char kListFilter[] = "列表文本文件*.TXT|*.TXT";
constexpr char kNoTable[] = "没有打开数据库或数据库为空";
constexpr char kByPositionPrompt[] =
    "注意，此操作将按顺序把字段对应起来，您确定这些字段是按顺序对应的吗？";
constexpr char kNothingMapped[] =
    "请先选择需新老对应的字段，并点击“>”按钮移动到最右边的列表框内";
constexpr char kProgressPrefix[] = "处理进度：";

QString qs(const std::string& s) { return QString::fromStdString(s); }

// Two small tables and the arrow between them.
QIcon drawWindowIcon() {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  auto table = [&p](int x, QColor header) {
    p.fillRect(x, 2, 7, 12, Qt::white);
    p.fillRect(x, 2, 7, 3, header);
    p.setPen(QColor(96, 96, 96));
    p.drawRect(x, 2, 6, 11);
    p.drawLine(x, 8, x + 6, 8);
    p.drawLine(x, 11, x + 6, 11);
  };
  table(0, QColor(0, 0, 128));
  table(9, QColor(128, 0, 0));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 144, 0));
  p.drawRect(3, 8, 7, 2);
  const QPoint head[] = {{9, 5}, {14, 9}, {9, 13}};
  p.drawPolygon(head, 3);
  return QIcon(pm);
}

QPushButton* makeButton(QWidget* parent, QRect geometry, const char* caption, const char* hint) {
  auto* b = new QPushButton(QString::fromUtf8(caption), parent);
  b->setGeometry(geometry);
  b->setToolTip(QString::fromUtf8(hint));
  return b;
}

ListBox* makeList(QWidget* parent, QRect geometry, const char* hint) {
  auto* l = new ListBox(parent);
  l->setGeometry(geometry);
  l->setToolTip(QString::fromUtf8(hint));
  return l;
}

QLabel* makeLabel(QWidget* parent, QPoint at, const char* caption) {
  auto* l = new QLabel(QString::fromUtf8(caption), parent);
  l->move(at);
  l->adjustSize();
  return l;
}

// Passes the engine's row counter on to the progress label. The engine
// reports every row; the label is repainted at most about twenty times a
// second, and flush() always leaves it showing the last count.
class ProgressLabel {
 public:
  ProgressLabel(QLabel* label, std::function<void()> fit) : label_(label), fit_(std::move(fit)) {}

  void report(int32_t count) {
    last_ = count;
    const auto now = std::chrono::steady_clock::now();
    if (!painted_ || now - paintedAt_ >= std::chrono::milliseconds(50)) {
      paint();
      paintedAt_ = now;
    }
  }

  void flush() {
    if (painted_ && shown_ != last_) paint();
  }

  // After a migration that selected no rows the label says 0, not the
  // count of the migration before.
  void finish() {
    if (!painted_) paint();
    flush();
  }

 private:
  void paint() {
    label_->setText(QString::fromUtf8(kProgressPrefix) + QString::number(last_));
    fit_();
    label_->repaint();
    painted_ = true;
    shown_ = last_;
  }

  QLabel* label_;
  std::function<void()> fit_;
  int32_t last_ = 0;
  int32_t shown_ = 0;
  bool painted_ = false;
  std::chrono::steady_clock::time_point paintedAt_;
};

}  // namespace

TForm3::TForm3(QWidget* parent) : QWidget(parent) {
  setWindowTitle(QStringLiteral("对应并迁移"));
  setWindowIcon(drawWindowIcon());
  move(192, 107);
  resize(733, 487);  // the client area inside the 741 x 514 frame
  QFont f;
  f.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun")});
  f.setPixelSize(13);
  setFont(f);

  GroupBox1 = new QGroupBox(QStringLiteral("表"), this);
  Splitter1 = new TSplitter(this, GroupBox1);
  Splitter1->color = QColor(171, 171, 171);  // the desktop's application workspace grey
  GroupBox2 = new QGroupBox(QStringLiteral("字段对应和过滤器"), this);
  layoutBands();

  // The table band.
  Label1 = makeLabel(GroupBox1, {24, 16}, "老数据库");
  Label2 = makeLabel(GroupBox1, {232, 16}, "新数据库");
  ListBox1 = makeList(GroupBox1, {16, 32, 185, 137}, "老数据库表");
  ListBox2 = makeList(GroupBox1, {232, 32, 185, 137}, "新数据库表");
  Button12 = makeButton(GroupBox1, {424, 56, 75, 25}, "跳过所选", "将选中的表列入已完成列表");
  Button13 = makeButton(GroupBox1, {424, 96, 75, 25}, "重做",
                        "将选中的已完成表重新添加到未迁移列表");
  ListBox6 = makeList(GroupBox1, {504, 32, 209, 137}, "已迁移的表");
  auto* tableAnchors = new Anchors(GroupBox1);
  for (QWidget* w : {static_cast<QWidget*>(Label1), static_cast<QWidget*>(Label2),
                     static_cast<QWidget*>(Button12), static_cast<QWidget*>(Button13)})
    tableAnchors->add(w, kLeftTop);
  for (QWidget* w : {ListBox1, ListBox2, ListBox6}) tableAnchors->add(w, kLeftTopBottom);

  // The field band.
  ListBox3 = makeList(GroupBox2, {16, 24, 185, 185}, "老数据库字段");
  ListBox4 = makeList(GroupBox2, {232, 24, 193, 185}, "新数据库字段");
  Button1 = makeButton(GroupBox2, {440, 32, 75, 25}, ">", "迁移选中字段");
  Button2 = makeButton(GroupBox2, {440, 56, 75, 25}, ">>", "迁移全部同名字段");
  Button6 = makeButton(GroupBox2, {440, 88, 75, 25}, "=>>", "按顺序迁移全部字段");
  Button3 = makeButton(GroupBox2, {440, 136, 75, 25}, "<", "删除迁移字段");
  Button4 = makeButton(GroupBox2, {440, 160, 75, 25}, "<<", "删除全部迁移字段");
  ListBox5 = makeList(GroupBox2, {528, 24, 185, 185}, "已经对应好的字段");
  CheckBox1 = new QCheckBox(QStringLiteral("不显示自增字段"), GroupBox2);
  CheckBox1->setGeometry(16, 216, 177, 17);
  CheckBox1->setToolTip(QStringLiteral("由于自增字段的内容由数据库服务器自动维护,不需迁移."));
  CheckBox1->setChecked(true);
  Button7 = makeButton(GroupBox2, {232, 212, 75, 25}, "字符默认值",
                       "给新数据库字段设置的字符型默认值");
  Button8 = makeButton(GroupBox2, {336, 212, 75, 25}, "数字默认值",
                       "给新数据库字段设置的数字型默认值");
  Button9 = makeButton(GroupBox2, {528, 212, 75, 25}, "保存列表",
                       "把对于列表保存起来供下次重复使用");
  Button10 = makeButton(GroupBox2, {640, 212, 75, 25}, "载入列表", "载入上次保存的对应列表");
  Label3 = makeLabel(GroupBox2, {24, 248}, "过虑条件:");
  Edit1 = new QLineEdit(QString::fromUtf8(kDefaultFilterText), GroupBox2);
  Edit1->setGeometry(96, 240, 417, 21);
  Edit1->setToolTip(QStringLiteral(
      "过虑数据,注意,等于号后面的值,如果是字符类型的,需用双引号或者单引号包括,数字类型的不用。"));
  Button5 = makeButton(GroupBox2, {560, 240, 153, 25}, "迁移当前表数据", "迁移当前表数据");
  Label4 = new QLabel(QStringLiteral("处理进度:"), GroupBox2);
  Label4->setGeometry(224, 264, 289, 16);
  Label4->setToolTip(QStringLiteral("显示当前迁移到第几条数据了。"));
  QFont labelFont;
  labelFont.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun")});
  labelFont.setPixelSize(16);
  Label4->setFont(labelFont);
  QPalette maroon = Label4->palette();
  maroon.setColor(QPalette::WindowText, QColor(128, 0, 0));
  Label4->setPalette(maroon);
  Button11 = makeButton(GroupBox2, {560, 264, 153, 25}, "导出当前旧表到文本文件",
                        "导出老的数据库的当前表内容到一个文本文件");
  auto* fieldAnchors = new Anchors(GroupBox2);
  for (QWidget* w : {ListBox3, ListBox4}) fieldAnchors->add(w, kLeftTopBottom);
  for (QWidget* w : {Button1, Button2, Button6, Button3, Button4})
    fieldAnchors->add(w, kLeftTop);
  fieldAnchors->add(ListBox5, kAllEdges);
  for (QWidget* w : {static_cast<QWidget*>(CheckBox1), static_cast<QWidget*>(Button7),
                     static_cast<QWidget*>(Button8), static_cast<QWidget*>(Button9),
                     static_cast<QWidget*>(Button10), static_cast<QWidget*>(Label3),
                     static_cast<QWidget*>(Edit1), static_cast<QWidget*>(Button5),
                     static_cast<QWidget*>(Button11)})
    fieldAnchors->add(w, kLeftBottom);
  fieldAnchors->add(Label4, kLeftTop);
  fieldAnchors->placed = [this] { fitProgressLabel(); };

  for (FileDialog* d : {&OpenDialog1, &SaveDialog1}) {
    d->filter = kListFilter;
    d->defaultExt = "TXT";
  }
  SaveDialog1.overwritePrompt = true;

  QWidget* order[] = {ListBox1, ListBox2, ListBox6, Button12, Button13,
                      ListBox3, ListBox4, Button1,  Button2,  Button3,
                      Button4,  ListBox5, Edit1,    Button5,  Button6,
                      CheckBox1, Button7, Button8,  Button9,  Button10, Button11};
  for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

  connect(Splitter1, &TSplitter::moved, this, [this](int h) {
    tableBandHeight_ = h;
    layoutBands();
  });
  connect(ListBox1, &ListBox::picked, this, guarded([this] { ListBox1Click(); }));
  connect(ListBox2, &ListBox::picked, this, guarded([this] { ListBox2Click(); }));
  connect(CheckBox1, &QCheckBox::toggled, this, guarded([this] { CheckBox1Click(); }));
  const std::pair<QPushButton*, void (TForm3::*)()> buttons[] = {
      {Button1, &TForm3::Button1Click},   {Button2, &TForm3::Button2Click},
      {Button3, &TForm3::Button3Click},   {Button4, &TForm3::Button4Click},
      {Button5, &TForm3::Button5Click},   {Button6, &TForm3::Button6Click},
      {Button7, &TForm3::Button7Click},   {Button8, &TForm3::Button8Click},
      {Button9, &TForm3::Button9Click},   {Button10, &TForm3::Button10Click},
      {Button11, &TForm3::Button11Click}, {Button12, &TForm3::Button12Click},
      {Button13, &TForm3::Button13Click}};
  for (const auto& [button, handler] : buttons)
    connect(button, &QPushButton::clicked, this,
            guarded([this, handler = handler] { (this->*handler)(); }));

  // ApplicationEvents1: from here on every window's errors come here.
  setApplicationExceptionHandler(
      [this](const std::exception& e) { ApplicationEvents1Exception(nullptr, e); });
}

TForm3::~TForm3() { setApplicationExceptionHandler(nullptr); }

void TForm3::ApplicationEvents1Exception(QObject*, const std::exception& e) {
  showErrorBox(e);
}

// ------------------------------------------------------------ the layout

// The table band keeps its height (0 when collapsed); the field band takes
// what is left.
void TForm3::layoutBands() { Splitter1->placeBands(tableBandHeight_, GroupBox2); }

void TForm3::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  layoutBands();
}

// The label keeps its designed place and at least its designed width, and
// grows to its whole text as far as the controls beside it allow.
void TForm3::fitProgressLabel() {
  constexpr int kDesignedWidth = 289, kGap = 8;
  const QRect at = Label4->geometry();
  int room = GroupBox2->width() - kGap - at.left();
  for (QWidget* w : GroupBox2->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
    const QRect g = w->geometry();
    if (w == Label4 || !w->isVisibleTo(GroupBox2) || g.left() <= at.left()) continue;
    if (g.bottom() < at.top() || g.top() > at.bottom()) continue;
    room = std::min(room, g.left() - kGap - at.left());
  }
  const int wanted = Label4->fontMetrics().horizontalAdvance(Label4->text()) + 2;
  Label4->resize(std::max(kDesignedWidth, std::min(wanted, room)), at.height());
}

// Only a showing from hidden refills the lists: restoring a minimised
// window arrives as a spontaneous show, and raising a visible one as none.
void TForm3::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  if (!e->spontaneous()) runGuarded([this] { FormShow(); });
}

void TForm3::warn(const std::string& text) {
  ui::messageBox(this, text, "错误", MB_OK | MB_ICONWARNING);
}

// ------------------------------------------------------ showing, picking

void TForm3::FormShow() {
  setScreenCursor(crHourGlass);
  std::vector<std::string> names;
  DataModule2->ADOConnection2old.tableNames(names);
  ListBox1->setItems(names);
  DataModule2->ADOConnection1new.tableNames(names);
  ListBox2->setItems(names);
  ListBox5->clearItems();
  ListBox6->clearItems();
  nameColumnWidth_.reset();
  setScreenCursor(crDefault);
}

void TForm3::ListBox1Click() {
  if (ListBox1->itemIndex() < 0) return warn(kNoTable);
  fillFieldList(Side::Old);
}

void TForm3::ListBox2Click() {
  if (ListBox2->itemIndex() < 0) return warn(kNoTable);
  fillFieldList(Side::New);
}

void TForm3::fillFieldList(Side side) {
  const bool old = side == Side::Old;
  Connection& db = old ? DataModule2->ADOConnection2old : DataModule2->ADOConnection1new;
  std::vector<std::string> names;
  db.fieldNames((old ? ListBox1 : ListBox2)->selectedItem(), names);
  (old ? ListBox3 : ListBox4)->setItems(names);
  // Auto-increment names count too: they are still listed at this point.
  if (old) nameColumnWidth_.raise(names);
  ListBox5->clearItems();
  HideAutoIncFields(side);
}

void TForm3::HideAutoIncFields(Side side) {
  if (!CheckBox1->isChecked()) return;
  const bool old = side == Side::Old;
  Connection& db = old ? DataModule2->ADOConnection2old : DataModule2->ADOConnection1new;
  ListBox* fields = old ? ListBox3 : ListBox4;
  DataSet& tmp = DataModule2->ADODataSetTmp;
  tmp.close();
  tmp.setConnection(&db);
  tmp.setCommandText("select * from " + db.quoteName((old ? ListBox1 : ListBox2)->selectedItem()));
  tmp.open();
  for (int i = 0; i < tmp.fieldCount(); ++i) {
    const Field& field = tmp.field(i);
    if (field.dataType() != ftAutoInc) continue;
    const int at = fields->indexOf(field.fieldName());
    if (at >= 0) fields->deleteItem(at);
  }
}

void TForm3::CheckBox1Click() {
  ListBox1Click();
  ListBox2Click();
}

// ------------------------------------------------------- pairing fields

void TForm3::Button1Click() {
  if (ListBox3->itemIndex() < 0)
    return warn(ListBox3->count() == 0 ? "请先在老数据库的表和视图列表框内选择一个表"
                                       : "请先选择老数据库的字段");
  if (ListBox4->itemIndex() < 0)
    return warn(ListBox4->count() == 0 ? "请先在新数据库的表和视图列表框内选择一个表"
                                       : "请先选择新数据库的字段");
  ListBox5->add(composeFieldMappingLine(ListBox1->selectedItem(), ListBox3->selectedItem(),
                                        nameColumnWidth_.value(), ListBox2->selectedItem(),
                                        ListBox4->selectedItem()));
  ListBox3->deleteItem(ListBox3->itemIndex());
  ListBox4->deleteItem(ListBox4->itemIndex());
  UpdateMappedExtent();
}

// Downwards, deleting only the entry it stands on, so every old name is
// visited once; the lines come out in reverse list order.
void TForm3::Button2Click() {
  for (int i = ListBox3->count() - 1; i >= 0; --i) {
    const int j = ListBox4->indexOf(ListBox3->item(i));
    if (j < 0) continue;
    ListBox5->add(composeFieldMappingLine(ListBox1->selectedItem(), ListBox3->item(i),
                                          nameColumnWidth_.value(), ListBox2->selectedItem(),
                                          ListBox4->item(j)));
    ListBox3->deleteItem(i);
    ListBox4->deleteItem(j);
  }
  UpdateMappedExtent();
}

void TForm3::Button6Click() {
  if (ui::messageBox(this, kByPositionPrompt, "注意", MB_OKCANCEL | MB_ICONWARNING) == IDCANCEL)
    return;
  for (int i = ListBox3->count() - 1; i >= 0; --i) {
    if (i >= ListBox4->count()) continue;
    ListBox5->add(composeFieldMappingLine(ListBox1->selectedItem(), ListBox3->item(i),
                                          nameColumnWidth_.value(), ListBox2->selectedItem(),
                                          ListBox4->item(i)));
    ListBox3->deleteItem(i);
    ListBox4->deleteItem(i);
  }
}

// A line with an old table gives back both names; any other line (a
// default value, or a loaded line that is neither) only its new field.
void TForm3::undoLine(const std::string& line) {
  if (!parseMappingLine(line, kOldTable).empty())
    ListBox3->add(parseMappingLine(line, kOldField));
  ListBox4->add(parseMappingLine(line, kNewField));
}

void TForm3::Button3Click() {
  if (ListBox5->itemIndex() < 0) return warn("请先选择要撤销对应的字段");
  undoLine(ListBox5->selectedItem());
  ListBox5->deleteItem(ListBox5->itemIndex());
}

void TForm3::Button4Click() {
  for (int i = ListBox5->count() - 1; i >= 0; --i) {
    undoLine(ListBox5->item(i));
    ListBox5->deleteItem(i);
  }
}

void TForm3::UpdateMappedExtent() {
  const QFontMetrics metrics(ListBox5->font());
  int widest = 0;
  for (int i = 0; i < ListBox5->count(); ++i)
    widest = std::max(widest, metrics.horizontalAdvance(qs(ListBox5->item(i))));
  ListBox5->setHorizontalExtent(widest + 2);
}

// ------------------------------------------------------- default values

void TForm3::Button7Click() { enterDefaultValue(*this, false); }
void TForm3::Button8Click() { enterDefaultValue(*this, true); }

bool TForm3::hasSelectedNewField() { return ListBox4->itemIndex() >= 0; }
std::string TForm3::selectedNewTable() { return ListBox2->selectedItem(); }
std::string TForm3::selectedNewField() { return ListBox4->selectedItem(); }
void TForm3::appendMappedLine(const std::string& line) { ListBox5->add(line); }
void TForm3::deleteSelectedNewField() { ListBox4->deleteItem(ListBox4->itemIndex()); }

std::string TForm3::inputBox(const std::string& caption, const std::string& prompt) {
  return ui::inputBox(this, caption, prompt);
}

void TForm3::messageBox(const std::string& text, const std::string& caption, unsigned flags) {
  ui::messageBox(this, text, caption, MB_OK | flags);
}

// ------------------------------------------------------ the list file

void TForm3::Button9Click() {
  if (SaveDialog1.execute(this)) saveMappingList(ListBox5->items(), SaveDialog1.fileName);
}

void TForm3::Button10Click() {
  if (OpenDialog1.execute(this)) ListBox5->setItems(loadMappingList(OpenDialog1.fileName));
}

// --------------------------------------------------- the table commands

void TForm3::Button5Click() {
  if (ListBox5->count() == 0) return warn(kNothingMapped);
  setScreenCursor(crHourGlass);
  const uint32_t start = tickCount();
  ProgressLabel progress(Label4, [this] { fitProgressLabel(); });
  MigrationRequest request;
  request.oldTable = [this] { return ListBox1->selectedItem(); };
  request.newTable = [this] { return ListBox2->selectedItem(); };
  request.lines = ListBox5->items();
  request.filter = Edit1->text().toStdString();
  request.progress = [&progress](int32_t count) { progress.report(count); };
  request.confirmCaveat = [this](const std::string& caveat) {
    return ui::messageBox(this, caveat + "。\n\n是否继续迁移？", "注意",
                          MB_OKCANCEL | MB_ICONWARNING) == IDOK;
  };
  try {
    migrateTable(*DataModule2, request);
  } catch (...) {
    progress.flush();
    throw;
  }
  // The pair's names are read before anything changes: with no old rows
  // the engine never read the new table's selection, and a missing one
  // must not cost the user the mapped list.
  const std::string line = composeProgressLine(ListBox1->selectedItem(),
                                                ListBox2->selectedItem(), PairOutcome::Done);
  ListBox5->clearItems();
  ListBox6->add(line);
  ListBox1->deleteItem(ListBox1->itemIndex());
  ListBox2->deleteItem(ListBox2->itemIndex());
  progress.finish();
  const uint32_t elapsed = tickCount() - start;
  Label4->setText(Label4->text() + QStringLiteral("完毕！用时") + QString::number(elapsed) +
                  QStringLiteral("毫秒"));
  fitProgressLabel();
  setScreenCursor(crDefault);
  ui::messageBox(this, "迁移完毕", "ok", MB_OK | MB_ICONINFORMATION | MB_SYSTEMMODAL);
}

void TForm3::Button12Click() {
  if (ListBox1->itemIndex() < 0 || ListBox2->itemIndex() < 0) return;
  ListBox6->add(composeProgressLine(ListBox1->selectedItem(), ListBox2->selectedItem(),
                                    PairOutcome::Skipped));
  ListBox1->deleteItem(ListBox1->itemIndex());
  ListBox2->deleteItem(ListBox2->itemIndex());
}

void TForm3::Button13Click() {
  if (ListBox6->itemIndex() < 0) return;
  std::string oldTable, newTable;
  parseProgressLine(ListBox6->selectedItem(), &oldTable, &newTable);
  ListBox1->add(oldTable);
  ListBox2->add(newTable);
  ListBox6->deleteItem(ListBox6->itemIndex());
}

void TForm3::Button11Click() {
  if (ListBox1->itemIndex() < 0) return;
  if (!SaveDialog1.execute(this)) return;
  setScreenCursor(crHourGlass);
  exportTable(DataModule2->ADOConnection2old, ListBox1->selectedItem(), SaveDialog1.fileName);
  setScreenCursor(crDefault);
  ui::messageBox(this, "导出完成", "完成", MB_OK | MB_ICONINFORMATION);
}

}  // namespace vov::ui
