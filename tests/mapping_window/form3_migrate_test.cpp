// The whole workflow through both windows on real files: migrating Access
// and SQLite tables, the progress label, skip, redo, export, the messages,
// and what a failed migration leaves behind.
#include <QCheckBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <sys/stat.h>

#include <filesystem>
#include <sstream>

#include "tests/mapping_window/mapping_window_fixture.h"
#include "tests/support/gui_support.h"
#include "tests/support/test_support.h"

using namespace vov;
using ui::DialogSeam;
using ui::ShownDialog;
using Lines = std::vector<std::string>;
using Rows = std::vector<std::vector<std::string>>;

namespace {

constexpr unsigned kDone = ui::MB_OK | ui::MB_ICONINFORMATION | ui::MB_SYSTEMMODAL;

std::string label(const ui::TForm3* f) { return f->Label4->text().toStdString(); }

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string part;
  std::istringstream in(s);
  while (std::getline(in, part, sep)) out.push_back(part);
  if (!s.empty() && s.back() == sep) out.push_back("");
  return out;
}

// Answers the next migration's two readings of the tick counter.
void scriptTicks(uint32_t start, uint32_t end) {
  auto ticks = std::make_shared<std::vector<uint32_t>>(std::vector<uint32_t>{start, end});
  DialogSeam::setTickSource([ticks] {
    uint32_t t = ticks->front();
    if (ticks->size() > 1) ticks->erase(ticks->begin());
    return t;
  });
}

// Records, for each repaint of a label, the screen cursor at that moment.
class PaintWatch : public QObject {
 public:
  explicit PaintWatch(QWidget* w) { w->installEventFilter(this); }
  std::vector<int> cursors;

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) cursors.push_back(ui::screenCursor());
    return false;
  }
};

class MappingWindowMigrate : public test::MappingWindowTest {
 protected:
  void SetUp() override {
    MappingWindowTest::SetUp();
    // The cursor at the moment each message box is shown.
    DialogSeam::setObserver([this](const ShownDialog& d) {
      if (d.kind == ShownDialog::Kind::MessageBox) cursorAtBox.push_back(ui::screenCursor());
    });
  }

  void mapSelected(const std::string& oldField, const std::string& newField) {
    selectOldField(oldField);
    selectNewField(newField);
    f3->Button1->click();
  }

  void migrate() { f3->Button5->click(); }

  std::vector<int> cursorAtBox;
};

}  // namespace

// nwind.mdb's customers into a new SQLite table whose fields are named,
// ordered and sized differently, through every pairing command, both
// defaults and a filter; the rows are compared with mdb-export's.
TEST_F(MappingWindowMigrate, AccessCustomersIntoANewSqliteTable) {
  const std::string mdb = test::copyTestData(dir, "access/nwind.mdb");
  const std::string db = dir.file("new.db");
  test::makeSqlite(db,
                   "create table 客户(编号 integer primary key autoincrement,"
                   " 公司 varchar(10), 客户代码 varchar(5), city varchar(15),"
                   " COUNTRY varchar(15), Phone varchar(24), 联系人 varchar(30),"
                   " 职务 varchar(30), 地址 varchar(60), 地区 varchar(15), 邮编 varchar(10),"
                   " 传真 varchar(24), 来源 varchar(20), 等级 integer);");
  openAndShow(mdb, db);
  pickOld("Customers");
  pickNew("客户");
  EXPECT_EQ(f3->ListBox4->indexOf("编号"), -1);

  mapSelected("CompanyName", "公司");
  mapSelected("CustomerID", "客户代码");
  f3->Button2->click();  // City, Country, Phone
  EXPECT_EQ(items(f3->ListBox3),
            (Lines{"ContactName", "ContactTitle", "Address", "Region", "PostalCode", "Fax"}));
  f3->Button6->click();
  expectOneBox("注意，此操作将按顺序把字段对应起来，您确定这些字段是按顺序对应的吗？", "注意",
               ui::MB_OKCANCEL | ui::MB_ICONWARNING);
  EXPECT_EQ(items(f3->ListBox4), (Lines{"来源", "等级"}));
  selectNewField("来源");
  DialogSeam::answerInput("nwind 导入");
  f3->Button7->click();
  selectNewField("等级");
  DialogSeam::answerInput("3");
  f3->Button8->click();
  EXPECT_EQ(f3->ListBox5->count(), 13);
  f3->Edit1->setText("where Country=\"Germany\"");
  DialogSeam::clear();
  cursorAtBox.clear();

  migrate();
  expectOneBox("迁移完毕", "ok", kDone);
  EXPECT_EQ(cursorAtBox, std::vector<int>{ui::crDefault});

  Rows expected;
  for (const std::string& line :
       split(test::runCommand("mdb-export -H -Q -d '|' '" + mdb + "' Customers"), '\n')) {
    std::vector<std::string> c = split(line, '|');
    if (c.size() != 11 || c[8] != "Germany") continue;
    expected.push_back({QString::fromStdString(c[1]).left(10).toStdString(), c[0], c[5], c[8],
                        c[9], c[2], c[3], c[4], c[6], c[7], c[10], "nwind 导入", "3"});
  }
  ASSERT_EQ(expected.size(), 11u);
  Rows actual = test::sqliteRows(
      db, "select 公司, 客户代码, city, COUNTRY, Phone, 联系人, 职务, 地址, 地区, 邮编, 传真,"
          " 来源, 等级 from 客户 order by 编号");
  for (auto& row : actual)
    for (auto& v : row)
      if (v == "<null>") v = "";  // mdb-export writes null as nothing
  EXPECT_EQ(actual, expected);
  EXPECT_EQ(test::sqliteRows(db, "select typeof(等级) from 客户 limit 1")[0][0], "integer");

  EXPECT_EQ(f3->ListBox5->count(), 0);
  EXPECT_EQ(items(f3->ListBox6), Lines{"Customers => 客户=>完成"});
  EXPECT_EQ(f3->ListBox1->indexOf("Customers"), -1);
  EXPECT_EQ(f3->ListBox2->indexOf("客户"), -1);
  EXPECT_EQ(f3->ListBox1->itemIndex(), -1);
  EXPECT_EQ(f3->ListBox2->itemIndex(), -1);
  EXPECT_EQ(label(f3).rfind("处理进度：11完毕！用时", 0), 0u) << label(f3);
  EXPECT_EQ(ui::screenCursor(), ui::crDefault);
}

TEST_F(MappingWindowMigrate, AutoIncKeyHiddenThenShown) {
  test::makeSqlite(dir.file("old.db"),
                   "create table goods(id integer primary key autoincrement,"
                   " name varchar(20), price real);"
                   "insert into goods values(10, '茶', 1.5), (20, '米', 2.25), (30, '盐', 0.5);");
  test::makeSqlite(dir.file("new.db"),
                   "create table 商品(id integer primary key autoincrement,"
                   " name varchar(20), price real);");
  openAndShow(dir.file("old.db"), dir.file("new.db"));
  pickOld("goods");
  pickNew("商品");
  EXPECT_EQ(items(f3->ListBox3), (Lines{"name", "price"}));
  f3->Button2->click();
  migrate();
  expectOneBox("迁移完毕", "ok", kDone);
  EXPECT_EQ(test::sqliteRows(dir.file("new.db"), "select * from 商品 order by id"),
            (Rows{{"1", "茶", "1.5"}, {"2", "米", "2.25"}, {"3", "盐", "0.5"}}));

  // Put the pair back, show the key and copy it too.
  f3->ListBox6->setItemIndex(0);
  f3->Button13->click();
  pickOld("goods");
  pickNew("商品");
  f3->CheckBox1->click();
  expectNoBox();
  EXPECT_EQ(items(f3->ListBox3), (Lines{"id", "name", "price"}));
  EXPECT_EQ(items(f3->ListBox4), (Lines{"id", "name", "price"}));
  f3->Button2->click();
  migrate();
  expectOneBox("迁移完毕", "ok", kDone);
  EXPECT_EQ(test::sqliteRows(dir.file("new.db"), "select * from 商品 order by id"),
            (Rows{{"1", "茶", "1.5"},
                  {"2", "米", "2.25"},
                  {"3", "盐", "0.5"},
                  {"10", "茶", "1.5"},
                  {"20", "米", "2.25"},
                  {"30", "盐", "0.5"}}));
}

class MappingWindowOrders : public MappingWindowMigrate {
 protected:
  void SetUp() override {
    MappingWindowMigrate::SetUp();
    test::makeSqlite(dir.file("old.db"),
                     "create table orders(id integer primary key, item text, qty integer);"
                     "insert into orders values(1, '苹果', 3), (2, 'pear \"x\"', null),"
                     " (3, '橙', 7), (4, '', 0), (5, 'plum', 2);"
                     "create table a(x); create table b(x); create table c(x);");
    test::makeSqlite(dir.file("new.db"),
                     "create table 订单(no integer primary key autoincrement, 品名 text,"
                     " 数量 integer, 状态 text);"
                     "create table keyed(id integer primary key, item text);"
                     "insert into keyed values(3, 'existing');"
                     "create table x(x); create table y(x); create table z(x);");
    openAndShow(dir.file("old.db"), dir.file("new.db"));
  }

  void pickAndMap() {
    pickOld("orders");
    pickNew("订单");
    mapSelected("item", "品名");
    mapSelected("qty", "数量");
    selectNewField("状态");
    DialogSeam::answerInput("新");
    f3->Button7->click();
  }

  Rows newRows() {
    return test::sqliteRows(dir.file("new.db"), "select 品名, 数量, 状态 from 订单 order by no");
  }

  const Rows orderRows = {{"苹果", "3", "新"}, {"pear \"x\"", "<null>", "新"}, {"橙", "7", "新"},
                          {"", "0", "新"},     {"plum", "2", "新"}};
};

TEST_F(MappingWindowOrders, SavedListLoadedAgainMovesTheSameRows) {
  pickAndMap();
  const Lines lines = items(f3->ListBox5);
  DialogSeam::answerFile(dir.file("orders.TXT"));
  f3->Button9->click();
  migrate();
  expectOneBox("迁移完毕", "ok", kDone);
  ASSERT_EQ(newRows(), orderRows);

  f3->ListBox6->setItemIndex(0);
  f3->Button13->click();
  pickOld("orders");
  pickNew("订单");
  ASSERT_EQ(f3->ListBox5->count(), 0);
  DialogSeam::answerFile(dir.file("orders.TXT"));
  f3->Button10->click();
  EXPECT_EQ(items(f3->ListBox5), lines);
  migrate();
  expectOneBox("迁移完毕", "ok", kDone);
  Rows twice = orderRows;
  twice.insert(twice.end(), orderRows.begin(), orderRows.end());
  EXPECT_EQ(newRows(), twice);
}

TEST_F(MappingWindowOrders, SkipAndRedoMoveNamesToTheEnds) {
  pickOld("a");
  pickNew("x");
  f3->ListBox5->add("kept >> x->x");
  f3->Label4->setText("处理进度：9");
  f3->Button12->click();
  EXPECT_EQ(items(f3->ListBox6), Lines{"a => x=>跳过"});
  EXPECT_EQ(items(f3->ListBox1), (Lines{"orders", "b", "c"}));
  EXPECT_EQ(items(f3->ListBox2), (Lines{"订单", "keyed", "y", "z"}));
  EXPECT_EQ(f3->ListBox1->itemIndex(), -1);
  EXPECT_EQ(items(f3->ListBox3), Lines{"x"});  // skip leaves the rest alone
  EXPECT_EQ(f3->ListBox5->count(), 1);
  EXPECT_EQ(label(f3), "处理进度：9");

  // With lines left by the skipped pair, migrating fails on the old table
  // selection before any row is read.
  migrate();
  expectErrorBox("List index out of bounds (-1)");
  EXPECT_EQ(ui::screenCursor(), ui::crDefault);
  EXPECT_EQ(f3->ListBox5->count(), 1);

  pickOld("b");  // only one side selected: skip does nothing
  f3->Button12->click();
  EXPECT_EQ(f3->ListBox6->count(), 1);
  pickOld("orders");
  f3->Button12->click();
  EXPECT_EQ(f3->ListBox6->count(), 1);

  pickAndMap();
  migrate();
  expectOneBox("迁移完毕", "ok", kDone);
  EXPECT_EQ(items(f3->ListBox6), (Lines{"a => x=>跳过", "orders => 订单=>完成"}));

  f3->Button13->click();  // no selection: nothing
  EXPECT_EQ(f3->ListBox6->count(), 2);
  f3->ListBox6->setItemIndex(0);
  f3->Button13->click();
  EXPECT_EQ(items(f3->ListBox1), (Lines{"b", "c", "a"}));
  EXPECT_EQ(items(f3->ListBox2), (Lines{"keyed", "y", "z", "x"}));
  EXPECT_EQ(items(f3->ListBox6), Lines{"orders => 订单=>完成"});
  f3->ListBox6->setItemIndex(0);
  f3->Button13->click();
  EXPECT_EQ(items(f3->ListBox1), (Lines{"b", "c", "a", "orders"}));
  EXPECT_EQ(items(f3->ListBox2), (Lines{"keyed", "y", "z", "x", "订单"}));
  EXPECT_EQ(f3->ListBox6->count(), 0);
  expectNoBox();

  // Shown again, the table lists are back in the engine's order.
  f3->hide();
  f1->Button4->click();
  EXPECT_EQ(items(f3->ListBox1), (Lines{"orders", "a", "b", "c"}));
}

TEST_F(MappingWindowOrders, FailureAtRowKKeepsEarlierRowsAndTheLists) {
  pickOld("orders");
  pickNew("keyed");
  f3->CheckBox1->click();  // the keys too
  f3->Button2->click();
  ASSERT_EQ(f3->ListBox5->count(), 2);
  const Lines mapped = items(f3->ListBox5);
  f3->Label4->setText("处理进度:");
  DialogSeam::clear();
  cursorAtBox.clear();

  migrate();  // row 3 meets the existing key 3
  const auto shown = boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].caption, "Vovarize");
  EXPECT_NE(shown[0].text.find("UNIQUE"), std::string::npos) << shown[0].text;
  EXPECT_EQ(cursorAtBox, std::vector<int>{ui::crDefault});
  EXPECT_EQ(ui::screenCursor(), ui::crDefault);
  EXPECT_EQ(test::sqliteRows(dir.file("new.db"), "select * from keyed order by id"),
            (Rows{{"1", "苹果"}, {"2", "pear \"x\""}, {"3", "existing"}}));
  EXPECT_EQ(label(f3), "处理进度：2");
  EXPECT_EQ(items(f3->ListBox5), mapped);
  EXPECT_EQ(f3->ListBox1->selectedItem(), "orders");
  EXPECT_EQ(f3->ListBox2->selectedItem(), "keyed");
  EXPECT_EQ(f3->ListBox6->count(), 0);

  // A failure at the first row leaves the label as it was.
  test::makeSqlite(dir.file("new.db"), "delete from keyed; insert into keyed values(1, 'x');");
  DialogSeam::clear();
  migrate();
  EXPECT_EQ(boxes().size(), 1u);
  EXPECT_EQ(label(f3), "处理进度：2");
}

TEST_F(MappingWindowOrders, LabelShowsTheCountAndTheElapsedTime) {
  const std::string begins = "处理进度：";
  pickAndMap();
  scriptTicks(1000, 1234);
  PaintWatch watch(f3->Label4);
  migrate();
  expectOneBox("迁移完毕", "ok", kDone);
  EXPECT_EQ(label(f3), begins + "5完毕！用时234毫秒");
  EXPECT_FALSE(watch.cursors.empty());
  EXPECT_EQ(watch.cursors.front(), ui::crHourGlass);  // painted while it ran

  // No rows selected: the label shows 0 rows, not the count of the
  // migration before; the tick counter wraps at 2^32.
  f3->ListBox6->setItemIndex(0);
  f3->Button13->click();
  pickAndMap();
  f3->Edit1->setText("where qty > 100");
  scriptTicks(0xFFFFFF00u, 0x10u);
  migrate();
  expectOneBox("迁移完毕", "ok", kDone);
  EXPECT_EQ(label(f3), begins + "0完毕！用时272毫秒");
  EXPECT_EQ(items(f3->ListBox6).back(), "orders => 订单=>完成");
  EXPECT_EQ(newRows().size(), 5u);

  // The next migration with rows replaces the whole text.
  f3->ListBox6->setItemIndex(0);
  f3->Button13->click();
  pickAndMap();
  f3->Edit1->setText("where qty >= 3");
  scriptTicks(5, 5);
  migrate();
  EXPECT_EQ(label(f3), begins + "2完毕！用时0毫秒");
}

// The label keeps its place and grows to its whole text where the window
// has room, up to the buttons beside it.
TEST_F(MappingWindowOrders, LabelGrowsToItsTextWhereThereIsRoom) {
  auto check = [this](const char* when) {
    SCOPED_TRACE(when);
    const QRect at = f3->Label4->geometry();
    EXPECT_EQ(at.topLeft(), QPoint(224, 264));
    EXPECT_GE(at.width(), 289);
    const int wanted = f3->Label4->fontMetrics().horizontalAdvance(f3->Label4->text());
    for (QWidget* w : {static_cast<QWidget*>(f3->Button5), static_cast<QWidget*>(f3->Button11)})
      if (w->geometry().intersects(QRect(at.left(), at.top(), 10000, at.height()))) {
        EXPECT_LT(at.right(), w->geometry().left());
      }
    return at.width() >= wanted;
  };
  pickAndMap();
  scriptTicks(0, 4000000000u);
  migrate();
  ASSERT_EQ(label(f3), "处理进度：5完毕！用时4000000000毫秒");
  EXPECT_TRUE(check("designed size"));

  // A text a little wider than the designed label is shown whole ...
  const int advance = f3->Label4->fontMetrics().horizontalAdvance(QChar(0x8FDB));
  const int room = f3->Button11->geometry().left() - 8 - 224;
  const int chars = 289 / advance + 1;
  ASSERT_LE(chars * advance + 2, room) << "this font leaves no room to grow";
  f3->Label4->setText(QString(chars, QChar(0x8FDB)));
  f3->resize(f3->width() + 1, f3->height());
  test::processEvents();
  EXPECT_TRUE(check("a little wider"));
  EXPECT_GT(f3->Label4->width(), 289);

  // ... and one too long for the room beside the buttons is cut there.
  f3->Label4->setText(QString(40, QChar(0x8FDB)));
  f3->resize(f3->width() + 1, f3->height());
  test::processEvents();
  EXPECT_FALSE(check("long text"));
  EXPECT_EQ(f3->Label4->geometry().right(), f3->Button11->geometry().left() - 9);
}

TEST_F(MappingWindowOrders, NoRowsOnAFreshWindowShowsZeroRows) {
  pickAndMap();
  f3->Edit1->setText("where id < 0");
  scriptTicks(7, 19);
  migrate();
  EXPECT_EQ(label(f3), "处理进度：0完毕！用时12毫秒");
  EXPECT_EQ(items(f3->ListBox6), Lines{"orders => 订单=>完成"});
}

// With no old rows the engine never reads the new table's selection; the
// pair is then read before the mapped list is emptied, so the index error
// costs the user nothing.
TEST_F(MappingWindowOrders, NoRowsWithoutANewTableKeepsTheMappedList) {
  pickAndMap();
  f3->ListBox2->setItemIndex(-1);
  f3->Edit1->setText("where id < 0");
  migrate();
  expectErrorBox("List index out of bounds (-1)");
  EXPECT_EQ(label(f3), "处理进度:");
  EXPECT_EQ(f3->ListBox5->count(), 3);
  EXPECT_EQ(f3->ListBox6->count(), 0);
  EXPECT_EQ(f3->ListBox1->selectedItem(), "orders");
}

TEST_F(MappingWindowOrders, MigrateNeedsMappedLines) {
  pickOld("orders");
  pickNew("订单");
  migrate();
  expectOneBox("请先选择需新老对应的字段，并点击“>”按钮移动到最右边的列表框内", "错误",
               ui::MB_OK | ui::MB_ICONWARNING);
  EXPECT_EQ(f3->ListBox6->count(), 0);
  EXPECT_EQ(ui::screenCursor(), ui::crDefault);
}

// A large migration: the label ends on the exact count although it is
// repainted far less often than once a row.
TEST_F(MappingWindowMigrate, LabelEndsOnTheExactCountOfALargeTable) {
  test::makeSqlite(dir.file("old.db"),
                   "create table n(v integer);"
                   "with recursive c(i) as (select 1 union all select i + 1 from c where i < 3000)"
                   " insert into n select i from c;");
  test::makeSqlite(dir.file("new.db"), "create table m(v integer);");
  openAndShow(dir.file("old.db"), dir.file("new.db"));
  pickOld("n");
  pickNew("m");
  f3->Button2->click();
  PaintWatch watch(f3->Label4);
  migrate();
  EXPECT_EQ(label(f3).rfind("处理进度：3000完毕！用时", 0), 0u) << label(f3);
  EXPECT_LT(watch.cursors.size(), 1500u);
  EXPECT_EQ(test::sqliteRows(dir.file("new.db"), "select count(*), sum(v) from m"),
            (Rows{{"3000", "4501500"}}));
}

TEST_F(MappingWindowOrders, ExportWritesTheOldTable) {
  f3->Button11->click();  // no old table: not even the dialog
  EXPECT_TRUE(DialogSeam::shown().empty());

  pickOld("orders");
  f3->Button11->click();  // cancelled
  ASSERT_EQ(DialogSeam::shown().size(), 1u);
  EXPECT_EQ(DialogSeam::shown()[0].kind, ShownDialog::Kind::SaveFile);
  expectNoBox();

  DialogSeam::answerFile(dir.file("订单 导出"));
  cursorAtBox.clear();
  f3->Button11->click();
  expectOneBox("导出完成", "完成", ui::MB_OK | ui::MB_ICONINFORMATION);
  EXPECT_EQ(cursorAtBox, std::vector<int>{ui::crDefault});
  EXPECT_EQ(test::readFile(dir.file("订单 导出.TXT")),
            "\"id\",\"item\",\"qty\"\r\n"
            "1,\"苹果\",3\r\n"
            "2,\"pear \"\"x\"\"\",\r\n"
            "3,\"橙\",7\r\n"
            "4,\"\",0\r\n"
            "5,\"plum\",2\r\n");

  // The save dialog is shared with "保存列表": it offers the last file.
  f3->Button9->click();
  EXPECT_EQ(DialogSeam::shown()[0].initial, dir.file("订单 导出.TXT"));
  DialogSeam::clear();

  // A folder that does not exist: the error, and no completion message.
  DialogSeam::answerFile(dir.file("none/out.TXT"));
  f3->Button11->click();
  const auto shown = boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].caption, "Vovarize");
  EXPECT_EQ(ui::screenCursor(), ui::crDefault);
}

// A disk that fills during the export used to end the whole program (a
// double free). Now the window stays, the reason is shown, and neither the
// file nor a temporary one is left.
TEST_F(MappingWindowOrders, ExportOntoAFullDiskShowsTheReasonAndLeavesNoFile) {
  pickOld("orders");
  const std::string target = dir.file("满/out.TXT");
  ASSERT_EQ(mkdir(dir.file("满").c_str(), 0755), 0);
  DialogSeam::answerFile(target);
  {
    test::FileSizeLimit full(40);
    f3->Button11->click();
  }
  expectErrorBox("无法写入文件“" + target + "”：文件超过了系统允许的大小.");
  EXPECT_TRUE(std::filesystem::is_empty(dir.file("满")));
  EXPECT_EQ(ui::screenCursor(), ui::crDefault);
}

// Chinese folder and file names for the Access file, the new database, the
// list file and the export; also run in the bare locale (no LANG).
TEST_F(MappingWindowMigrate, ChineseFolderAndFileNamesAllTheWay) {
  const std::string folder = dir.file("数据 文件");
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  const std::string mdb = folder + "/罗斯文.mdb";
  test::writeFile(mdb, test::readFile(test::testData("access/nwind.mdb")));
  const std::string db = folder + "/新库.db";
  test::makeSqlite(db, "create table 客户(代码 varchar(5), 公司 varchar(40));");
  openAndShow(mdb, db);
  EXPECT_EQ(f1->GroupBox2->title().toStdString(), "老数据库 " + mdb);
  pickOld("Customers");
  pickNew("客户");
  mapSelected("CustomerID", "代码");
  mapSelected("CompanyName", "公司");
  DialogSeam::answerFile(folder + "/客户对应");
  f3->Button9->click();
  f3->Button4->click();
  DialogSeam::answerFile(folder + "/客户对应.TXT");
  f3->Button10->click();
  ASSERT_EQ(f3->ListBox5->count(), 2);
  f3->Edit1->setText("where Country='Germany'");
  migrate();
  expectOneBox("迁移完毕", "ok", kDone);
  EXPECT_EQ(test::sqliteRows(db, "select count(*), min(代码) from 客户"), (Rows{{"11", "ALFKI"}}));

  f3->ListBox1->setItemIndex(f3->ListBox1->indexOf("Orders"));
  DialogSeam::answerFile(folder + "/订单导出");
  f3->Button11->click();
  expectOneBox("导出完成", "完成", ui::MB_OK | ui::MB_ICONINFORMATION);
  EXPECT_EQ(test::readFile(folder + "/订单导出.TXT").rfind("\"OrderID\",", 0), 0u);

  // A message that names a Chinese field comes through whole.
  f3->ListBox6->setItemIndex(0);
  f3->Button13->click();
  pickOld("Customers");
  pickNew("客户");
  f3->ListBox5->setItems({"Customers->CustomerID >> 客户->没有的字段"});
  migrate();
  expectErrorBox("ADODataSettmpnew: Field '没有的字段' not found.");
}
