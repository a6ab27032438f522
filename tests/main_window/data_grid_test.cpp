// The data grid of the main window on real files: rows read as needed,
// changes, appends and deletes written to SQLite, read-only tables refused,
// failed writes keeping what was typed, and typed texts turned into values.
#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>

#include "data/access/access_backend.h"
#include "data/connection_string.h"
#include "data/error.h"
#include "ui/data_grid/cell_value.h"
#include "ui/data_grid/db_grid_eh.h"
#include "ui/platform/list_box.h"
#include "tests/main_window/main_window_fixture.h"
#include "tests/support/gui_support.h"

using namespace vov;
using ui::DialogSeam;

namespace {

class DataGrid : public test::MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    db = dir.file("shop.db");
    test::makeSqlite(
        db,
        "create table item(id integer primary key, name varchar(20) not null,"
        "  qty integer check(qty >= 0), price decimal(10,2), made date, note text);"
        "insert into item values(1, '苹果', 10, 3.5, '2024-01-05', null),"
        "  (2, '香蕉', 20, 1.2, '2024-02-01', '黄色'), (3, '橙子', 0, 2, null, null);"
        "create view v_item as select id, name from item;"
        "create table pair(a int, b int, primary key(a, b)) without rowid;"
        "insert into pair values(1, 2);"
        "create table bin(id integer primary key, data blob);"
        "insert into bin values(1, x'00ff10');"
        "create table empty(id integer primary key, name text not null,"
        "  qty integer check(qty >= 0));"
        "create table big(id integer primary key, v text);"
        "with recursive n(i) as (select 1 union all select i + 1 from n where i < 12000)"
        "  insert into big select i, 'row ' || i from n;");
    form->show();
    openOld(db);
    grid = form->DBGridEh1;
    model = grid->gridModel();
    DialogSeam::clear();
  }

  QModelIndex at(int row, int col) { return model->index(row, col); }
  std::string cell(int row, int col) { return at(row, col).data().toString().toStdString(); }
  std::vector<std::vector<std::string>> rows(const std::string& sql) {
    return test::sqliteRows(db, sql);
  }
  void key(int k, Qt::KeyboardModifiers m = Qt::NoModifier) {
    QTest::keyClick(grid, static_cast<Qt::Key>(k), m);
    test::processEvents();
  }
  // Types `text` into a cell as the editor hands it over.
  void type(int row, int col, const std::string& text) {
    grid->setCurrentIndex(at(row, col));
    ASSERT_TRUE(model->setData(at(row, col), QString::fromStdString(text), Qt::EditRole));
  }
  void moveTo(int row) {
    grid->setCurrentIndex(at(row, grid->currentIndex().column()));
    test::processEvents();
  }
  std::string indicator(int row) {
    return model->headerData(row, Qt::Vertical, Qt::DisplayRole).toString().toStdString();
  }
  std::vector<std::string> boxTexts() {
    std::vector<std::string> out;
    for (auto& b : boxes()) out.push_back(b.second);
    return out;
  }

  std::string db;
  ui::TDBGridEh* grid = nullptr;
  ui::GridModel* model = nullptr;
};

}  // namespace

TEST_F(DataGrid, OneColumnPerFieldAndEmptyWhenClosed) {
  pickOld("item");
  ASSERT_EQ(model->columnCount(), 6);
  EXPECT_EQ(model->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), "name");
  EXPECT_EQ(model->headerData(5, Qt::Horizontal, Qt::DisplayRole).toString(), "note");
  EXPECT_EQ(model->rowCount(), 3);
  EXPECT_EQ(cell(0, 1), "苹果");
  EXPECT_EQ(cell(2, 4), "") << "null shows as an empty cell";
  grid->setCurrentIndex(at(1, 0));
  EXPECT_EQ(indicator(1), "\u25B6");
  EXPECT_EQ(indicator(0), "");

  // Grid lines are green.
  test::processEvents();
  const QImage shot = grid->viewport()->grab().toImage();
  EXPECT_EQ(shot.pixelColor(5, grid->rowHeight(0) - 1), QColor(0, 128, 0));

  openOld(dir.file("missing.db"));
  EXPECT_EQ(model->rowCount(), 0);
  EXPECT_EQ(model->columnCount(), 0);
}

TEST_F(DataGrid, TypedChangeIsWrittenWhenLeavingTheRow) {
  pickOld("item");
  grid->setCurrentIndex(at(0, 1));
  QTest::keyClick(grid, 'x');
  auto* editor = grid->findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr) << "typing opens the cell editor";
  QTest::keyClicks(editor, "yz");
  QTest::keyClick(editor, Qt::Key_Return);
  test::processEvents();
  EXPECT_EQ(cell(0, 1), "xyz");
  EXPECT_EQ(indicator(0), "I");
  EXPECT_EQ(rows("select name from item where id = 1")[0][0], "苹果") << "not before leaving";

  key(Qt::Key_Down);
  EXPECT_EQ(rows("select name from item where id = 1")[0][0], "xyz");
  EXPECT_EQ(model->pendingRow(), -1);
  EXPECT_EQ(indicator(1), "\u25B6");
  EXPECT_TRUE(boxes().empty());

  // Several fields of one row go in one write, with their types.
  type(1, 2, "21");
  type(1, 4, "2024-03-01");
  type(1, 5, "");
  moveTo(0);
  EXPECT_EQ(rows("select qty, typeof(qty), made, note from item where id = 2")[0],
            (std::vector<std::string>{"21", "integer", "2024-03-01 00:00:00", ""}));
}

TEST_F(DataGrid, FailedWriteKeepsWhatWasTyped) {
  pickOld("item");
  type(0, 2, "-5");
  moveTo(1);
  auto shown = boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].first, "Vovarize");
  EXPECT_NE(shown[0].second.find("CHECK constraint failed"), std::string::npos);
  EXPECT_EQ(rows("select qty from item where id = 1")[0][0], "10");
  EXPECT_EQ(cell(0, 2), "-5");
  EXPECT_EQ(model->pendingRow(), 0);
  EXPECT_EQ(grid->currentIndex().row(), 0) << "the grid goes back to the row";

  DialogSeam::clear();
  type(0, 2, "abc");
  moveTo(1);
  EXPECT_EQ(boxTexts(), (std::vector<std::string>{"字段“qty”只能填整数，不能填“abc”."}));
  EXPECT_EQ(cell(0, 2), "abc");

  DialogSeam::clear();
  type(0, 2, "7");
  moveTo(1);
  EXPECT_TRUE(boxes().empty());
  EXPECT_EQ(rows("select qty from item where id = 1")[0][0], "7");
}

TEST_F(DataGrid, EscForgetsTheRow) {
  pickOld("item");
  type(1, 1, "梨");
  key(Qt::Key_Escape);
  EXPECT_EQ(cell(1, 1), "香蕉");
  EXPECT_EQ(model->pendingRow(), -1);
  moveTo(0);
  EXPECT_EQ(rows("select name from item where id = 2")[0][0], "香蕉");
}

TEST_F(DataGrid, DeleteAsksFirst) {
  pickOld("item");
  grid->setCurrentIndex(at(1, 0));
  DialogSeam::answerMessageBox(ui::IDCANCEL);
  key(Qt::Key_Delete, Qt::ControlModifier);
  ASSERT_EQ(DialogSeam::shown().size(), 1u);
  EXPECT_EQ(DialogSeam::shown()[0].caption, "确认");
  EXPECT_EQ(DialogSeam::shown()[0].flags, ui::MB_OKCANCEL | ui::MB_ICONWARNING);
  EXPECT_EQ(rows("select count(*) from item")[0][0], "3");

  DialogSeam::answerMessageBox(ui::IDOK);
  key(Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_EQ(rows("select id from item order by id"),
            (std::vector<std::vector<std::string>>{{"1"}, {"3"}}));
  EXPECT_EQ(model->rowCount(), 2);
  EXPECT_EQ(cell(1, 1), "橙子");
}

TEST_F(DataGrid, AppendedRowsAreInsertedAndEmptyOnesDropped) {
  pickOld("item");
  grid->setCurrentIndex(at(2, 1));
  key(Qt::Key_Down);
  ASSERT_EQ(model->rowCount(), 4);
  EXPECT_EQ(indicator(3), "*");
  EXPECT_EQ(grid->currentIndex().row(), 3);
  key(Qt::Key_Down);
  EXPECT_EQ(model->rowCount(), 4) << "no second row while the first is empty";

  ASSERT_TRUE(model->setData(at(3, 1), QStringLiteral("葡萄"), Qt::EditRole));
  ASSERT_TRUE(model->setData(at(3, 2), QStringLiteral("5"), Qt::EditRole));
  key(Qt::Key_Up);
  EXPECT_TRUE(boxes().empty());
  EXPECT_EQ(rows("select id, qty from item where name = '葡萄'"),
            (std::vector<std::vector<std::string>>{{"4", "5"}}));
  EXPECT_EQ(model->rowCount(), 4);
  EXPECT_EQ(cell(3, 1), "葡萄");

  key(Qt::Key_Insert);
  EXPECT_EQ(model->rowCount(), 5);
  key(Qt::Key_Up);
  EXPECT_EQ(model->rowCount(), 4) << "left empty, the new row goes";

  // Leaving the grid drops an empty new row too.
  QApplication::setActiveWindow(form);
  grid->setFocus();
  test::processEvents();
  ASSERT_TRUE(grid->hasFocus());
  key(Qt::Key_Insert);
  EXPECT_EQ(model->rowCount(), 5);
  form->ListBox1->setFocus();
  test::processEvents();
  EXPECT_EQ(model->rowCount(), 4);
  EXPECT_EQ(rows("select count(*) from item")[0][0], "4");
}

// New rows by real keys, in a table with rows and in an empty one: typed
// into the cell editor, written by Down, Insert or Tab on the last cell,
// forgotten by Esc without a write or a message.
class DataGridNewRows : public DataGrid {
 protected:
  // Types `text` into the current cell through its editor and leaves the
  // editor open.
  void typeInCell(const QString& text) {
    typeKeys(grid, text.left(1));
    ASSERT_NE(editor(), nullptr) << "typing opens the cell editor";
    typeKeys(editor(), text.mid(1));
  }
  // Key events carrying the characters, Chinese ones too.
  static void typeKeys(QWidget* w, const QString& text) {
    for (QChar c : text) {
      QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
      QApplication::sendEvent(w, &press);
      QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
      QApplication::sendEvent(w, &release);
    }
  }
  // The open cell editor; closed ones wait hidden for their deletion.
  QLineEdit* editor() {
    for (QLineEdit* e : grid->findChildren<QLineEdit*>())
      if (e->isVisible()) return e;
    return nullptr;
  }
  void editorKey(Qt::Key k) {
    ASSERT_NE(editor(), nullptr);
    QTest::keyClick(editor(), k);
    test::processEvents();
  }
  void goTo(int row, int col) {
    grid->setCurrentIndex(at(row, col));
    test::processEvents();
  }
  std::string count(const std::string& table) {
    return rows("select count(*) from " + table)[0][0];
  }
};

TEST_F(DataGridNewRows, EscForgetsANewRowWithValuesUnwritten) {
  pickOld("item");
  goTo(2, 1);
  key(Qt::Key_Down);
  ASSERT_EQ(model->rowCount(), 4);
  EXPECT_EQ(indicator(3), "*");
  typeInCell("pear");
  editorKey(Qt::Key_Return);
  EXPECT_EQ(cell(3, 1), "pear");
  EXPECT_EQ(indicator(3), "*") << "not yet saved";
  key(Qt::Key_Escape);
  EXPECT_EQ(model->rowCount(), 3);
  EXPECT_EQ(model->pendingRow(), -1);
  EXPECT_EQ(grid->currentIndex().row(), 2);
  EXPECT_EQ(count("item"), "3");
  EXPECT_TRUE(boxes().empty());

  // A row the table would refuse goes just as quietly.
  key(Qt::Key_Down);
  goTo(3, 2);
  typeInCell("-5");
  editorKey(Qt::Key_Return);
  key(Qt::Key_Escape);
  EXPECT_EQ(model->rowCount(), 3);
  EXPECT_TRUE(boxes().empty());
  EXPECT_EQ(count("item"), "3");
}

TEST_F(DataGridNewRows, DownInsertAndTabWriteTheRowAndStartTheNext) {
  pickOld("item");
  goTo(2, 1);
  key(Qt::Key_Down);
  typeInCell("pear");
  key(Qt::Key_Down);  // straight from the open editor
  EXPECT_EQ(rows("select id, name from item where id = 4"),
            (std::vector<std::vector<std::string>>{{"4", "pear"}}));
  ASSERT_EQ(model->rowCount(), 5);
  EXPECT_EQ(indicator(3), "");
  EXPECT_EQ(indicator(4), "*");
  EXPECT_EQ(grid->currentIndex(), at(4, 1));
  key(Qt::Key_Down);
  EXPECT_EQ(model->rowCount(), 5) << "no second row while the new one is empty";

  typeInCell("plum");
  editorKey(Qt::Key_Return);
  key(Qt::Key_Insert);
  EXPECT_EQ(count("item"), "5");
  EXPECT_EQ(model->rowCount(), 6);
  EXPECT_EQ(indicator(5), "*");

  // Tab on the last cell, first from the grid, then from the cell editor;
  // the next row starts in its first cell.
  goTo(5, 1);
  typeInCell("fig");
  editorKey(Qt::Key_Return);
  goTo(5, 5);
  key(Qt::Key_Tab);
  EXPECT_EQ(rows("select name from item where id = 6")[0][0], "fig");
  ASSERT_EQ(model->rowCount(), 7);
  EXPECT_EQ(grid->currentIndex(), at(6, 0));
  key(Qt::Key_Tab);  // the empty new row: the next cell, nothing more
  EXPECT_EQ(grid->currentIndex(), at(6, 1));
  typeInCell("kiwi");
  editorKey(Qt::Key_Tab);
  goTo(6, 5);
  typeInCell("绿色");
  editorKey(Qt::Key_Tab);
  EXPECT_EQ(rows("select name, note from item where id = 7"),
            (std::vector<std::vector<std::string>>{{"kiwi", "绿色"}}));
  ASSERT_EQ(model->rowCount(), 8);
  EXPECT_EQ(grid->currentIndex(), at(7, 0));
  EXPECT_NE(editor(), nullptr) << "typing goes on in the next row";
  EXPECT_TRUE(boxes().empty());
}

TEST_F(DataGridNewRows, ARefusedNewRowStaysAsTyped) {
  pickOld("item");
  goTo(2, 2);
  key(Qt::Key_Down);
  typeInCell("-5");
  key(Qt::Key_Down);
  auto shown = boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_NE(shown[0].second.find("constraint failed"), std::string::npos) << shown[0].second;
  EXPECT_EQ(model->rowCount(), 4) << "no next row";
  EXPECT_EQ(model->pendingRow(), 3);
  EXPECT_EQ(cell(3, 2), "-5");
  EXPECT_EQ(count("item"), "3");
}

TEST_F(DataGridNewRows, AnEmptyTableGetsItsFirstRows) {
  pickOld("empty");
  ASSERT_EQ(model->rowCount(), 0);
  key(Qt::Key_Down);
  ASSERT_EQ(model->rowCount(), 1);
  EXPECT_EQ(indicator(0), "*");
  EXPECT_EQ(grid->currentIndex(), at(0, 0));
  goTo(0, 1);
  typeInCell("第一行");
  key(Qt::Key_Down);
  EXPECT_EQ(rows("select id, name from empty"),
            (std::vector<std::vector<std::string>>{{"1", "第一行"}}));
  ASSERT_EQ(model->rowCount(), 2);
  EXPECT_EQ(indicator(1), "*");

  typeInCell("第二行");
  editorKey(Qt::Key_Return);
  key(Qt::Key_Escape);
  EXPECT_EQ(model->rowCount(), 1);
  EXPECT_EQ(count("empty"), "1");

  key(Qt::Key_Insert);
  goTo(1, 1);
  typeInCell("第三行");
  editorKey(Qt::Key_Return);
  key(Qt::Key_Insert);
  EXPECT_EQ(rows("select name from empty order by id"),
            (std::vector<std::vector<std::string>>{{"第一行"}, {"第三行"}}));
  EXPECT_TRUE(boxes().empty());
}

TEST_F(DataGrid, ReadOnlyTablesRefuseEveryChange) {
  for (const char* table : {"v_item", "pair"}) {
    pickOld(table);
    grid->setCurrentIndex(at(0, 0));
    DialogSeam::clear();
    for (auto k : {std::pair<int, Qt::KeyboardModifiers>{Qt::Key_Z, Qt::NoModifier},
                   {Qt::Key_F2, Qt::NoModifier},
                   {Qt::Key_Insert, Qt::NoModifier},
                   {Qt::Key_Delete, Qt::ControlModifier}})
      key(k.first, k.second);
    const auto shown = boxes();
    ASSERT_EQ(shown.size(), 4u) << table;
    for (auto& b : shown) {
      EXPECT_EQ(b.first, "错误");
      EXPECT_NE(b.second.find(table), std::string::npos) << b.second;
    }
    EXPECT_EQ(grid->findChild<QLineEdit*>(), nullptr) << "no editor opens";
    EXPECT_EQ(model->rowCount(), 1 + (std::string(table) == "v_item" ? 2 : 0));
  }
  EXPECT_EQ(rows("select count(*) from item")[0][0], "3");

  pickOld("bin");
  EXPECT_EQ(cell(0, 1), "(二进制数据，3 字节)");
  grid->setCurrentIndex(at(0, 1));
  DialogSeam::clear();
  key(Qt::Key_F2);
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_NE(boxes()[0].second.find("二进制"), std::string::npos);
  grid->setCurrentIndex(at(0, 0));
  key(Qt::Key_F2);
  EXPECT_NE(grid->findChild<QLineEdit*>(), nullptr) << "the other column stays editable";
}

TEST_F(DataGrid, AccessTablesAreReadOnly) {
  const std::string mdb = test::copyTestData(dir, "access/nwind.mdb");
  const std::string before = test::readFile(mdb);
  openOld(mdb);
  if (!boxes().empty() && boxes()[0].second.find("暂不能读取") != std::string::npos)
    GTEST_SKIP() << "the Access backend is not in this build";
  ASSERT_TRUE(boxes().empty()) << boxes()[0].second;
  pickOld("Customers");
  ASSERT_GT(model->rowCount(), 0);
  grid->setCurrentIndex(at(0, 1));
  DialogSeam::clear();
  key(Qt::Key_Z);
  key(Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_EQ(boxTexts(), (std::vector<std::string>(2, kAccessReadOnlyMessage)));
  EXPECT_EQ(test::readFile(mdb), before);
}

TEST_F(DataGrid, LargeTablesAreReadAsNeededWithinABoundedCache) {
  pickOld("big");
  ASSERT_EQ(model->rowCount(), 12000);
  EXPECT_LE(model->heldRows(), 2u * ui::GridModel::kWindowRows) << "only what is shown";
  EXPECT_EQ(cell(11999, 1), "row 12000");
  for (int r = 0; r < 12000; ++r) ASSERT_EQ(cell(r, 0), std::to_string(r + 1));
  EXPECT_LE(model->heldRows(), ui::GridModel::kKeptWindows * ui::GridModel::kWindowRows);

  // A changed row whose window has been dropped meanwhile is still written
  // to the right row.
  type(5, 1, "changed");
  for (int r = 0; r < 12000; ++r) cell(r, 1);
  EXPECT_EQ(cell(5, 1), "changed");
  key(Qt::Key_Down);
  EXPECT_EQ(rows("select id from big where v = 'changed'"),
            (std::vector<std::vector<std::string>>{{"6"}}));
}

TEST_F(DataGrid, ChangesAreWrittenBeforeAnotherTableIsShown) {
  pickOld("item");
  type(0, 1, "苹果二");
  pickOld("big");
  EXPECT_EQ(rows("select name from item where id = 1")[0][0], "苹果二");
  EXPECT_EQ(model->rowCount(), 12000);

  // When that write fails, the click stops and nothing typed is lost.
  pickOld("item");
  type(0, 2, "-1");
  DialogSeam::clear();
  pickOld("big");
  EXPECT_EQ(boxes().size(), 1u);
  EXPECT_EQ(form->ListBox3->count(), 6);
  EXPECT_EQ(model->rowCount(), 3);
  EXPECT_EQ(cell(0, 2), "-1");
  key(Qt::Key_Escape);
  pickOld("big");
  EXPECT_EQ(model->rowCount(), 12000);
}

TEST_F(DataGrid, OtherStatementsAreReadForwardAndReadOnly) {
  Connection c("c");
  c.setConnectionString(buildConnectionString(db));
  DataSet ds("ds", &c);
  ds.setBrowsable(true);
  ds.setCommandText("select id, v from big where id > 100");
  ds.open();
  ASSERT_EQ(ds.browser(), nullptr);
  DataSource source{&ds};
  ui::TDBGridEh g;
  g.setDataSource(&source);
  ui::GridModel* m = g.gridModel();
  EXPECT_LT(m->rowCount(), 11900);
  while (m->canFetchMore(QModelIndex())) m->fetchMore(QModelIndex());
  ASSERT_EQ(m->rowCount(), 11900);
  EXPECT_EQ(m->index(0, 0).data().toString(), "101");
  EXPECT_EQ(m->index(11899, 1).data().toString(), "row 12000");
  EXPECT_FALSE(m->readOnlyReason().empty());

  g.setCurrentIndex(m->index(0, 1));
  DialogSeam::clear();
  QTest::keyClick(&g, 'z');
  EXPECT_EQ(boxes().size(), 1u);
  ds.close();
  EXPECT_EQ(m->rowCount(), 0);
  EXPECT_EQ(m->columnCount(), 0);
}

// A null shows alike in every column, long text and binary ones too, in
// the table's grid and in the grid of a filtered statement.
TEST_F(DataGrid, NullsShowAlikeInEveryColumn) {
  test::makeSqlite(db, "create table nulls(id integer primary key, t text, b blob, n integer);"
                       "insert into nulls values(1, null, null, null), (2, 'x', x'01', 5);");
  Connection c("c");
  c.setConnectionString(buildConnectionString(db));
  for (const char* sql : {"select * from nulls", "select * from nulls where id > 0"}) {
    DataSet ds("ds", &c);
    ds.setBrowsable(true);
    ds.setCommandText(sql);
    ds.open();
    DataSource source{&ds};
    ui::TDBGridEh g;
    g.setDataSource(&source);
    ui::GridModel* m = g.gridModel();
    while (m->canFetchMore(QModelIndex())) m->fetchMore(QModelIndex());
    ASSERT_EQ(m->rowCount(), 2) << sql;
    const QString null = m->index(0, 3).data().toString();
    EXPECT_EQ(m->index(0, 1).data().toString(), null) << sql;
    EXPECT_EQ(m->index(0, 2).data().toString(), null) << sql;
    EXPECT_EQ(m->index(1, 2).data().toString().toStdString(), "(二进制数据，1 字节)") << sql;
    ds.close();
  }
}

// A column the program cannot read (an Access attachment or multi-value
// column; types_ace14.accdb's column E made one by its type byte) says so.
TEST_F(DataGrid, UnreadableColumnsSaySoInTheirCells) {
  const std::string path = test::copyTestData(dir, "access/types_ace14.accdb");
  std::string bytes = test::readFile(path);
  const size_t typeByte = 74 * 4096 + 87 + 4 * 25;
  ASSERT_EQ(bytes[typeByte], 0x04);
  bytes[typeByte] = 0x12;
  test::writeFile(path, bytes);
  Connection c("c");
  c.setConnectionString(buildConnectionString(path));
  DataSet ds("ds", &c);
  ds.setBrowsable(true);
  ds.setCommandText("select * from Table1");
  ds.open();
  DataSource source{&ds};
  ui::TDBGridEh g;
  g.setDataSource(&source);
  ui::GridModel* m = g.gridModel();
  ASSERT_EQ(m->rowCount(), 2);
  EXPECT_EQ(m->index(1, 4).data().toString().toStdString(), "（Access 附件或多值字段，无法显示）");
  EXPECT_EQ(m->index(1, 3).data().toString().toStdString(), "222");
  ds.close();
}

TEST(CellValue, TypedTextsBecomeValuesOfTheFieldsType) {
  auto value = [](FieldType t, const std::string& text) {
    return cellValue(FieldInfo{"f", t, 0}, text);
  };
  auto refused = [&](FieldType t, const std::string& text) {
    try {
      value(t, text);
    } catch (const Error&) {
      return true;
    }
    return false;
  };
  EXPECT_EQ(value(ftInteger, " 42 "), Value::fromInt(42));
  EXPECT_EQ(value(ftAutoInc, "-7"), Value::fromInt(-7));
  EXPECT_TRUE(value(ftInteger, "").isNull());
  for (const char* bad : {"4.5", "abc", "99999999999999999999", "1 2"})
    EXPECT_TRUE(refused(ftInteger, bad)) << bad;

  EXPECT_EQ(value(ftFloat, "1e3"), Value::fromReal(1000.0));
  for (const char* bad : {"nan", "inf", "0x10", "1,5"}) EXPECT_TRUE(refused(ftFloat, bad)) << bad;

  EXPECT_EQ(value(ftBCD, "12.50"), Value::fromDecimal("12.50")) << "the scale is kept";
  EXPECT_EQ(value(ftCurrency, "+3"), Value::fromDecimal("3"));
  for (const char* bad : {"1,5", ".", "1e3", "--1"}) EXPECT_TRUE(refused(ftBCD, bad)) << bad;

  EXPECT_EQ(value(ftBoolean, "是"), Value::fromBool(true));
  EXPECT_EQ(value(ftBoolean, "0"), Value::fromBool(false));
  EXPECT_TRUE(refused(ftBoolean, "maybe"));

  DateTime leap;
  ASSERT_TRUE(DateTime::parse("2024-02-29", &leap));
  EXPECT_EQ(value(ftDate, "2024-02-29"), Value::fromDateTime(leap));
  EXPECT_TRUE(refused(ftDateTime, "2024/02/29"));
  EXPECT_EQ(value(ftTime, "12:30"), Value::fromText("12:30"));
  EXPECT_TRUE(refused(ftTime, "25:00"));

  EXPECT_EQ(value(ftString, ""), Value::fromText("")) << "text stays text, never null";
  EXPECT_EQ(value(ftMemo, "  a "), Value::fromText("  a "));
  EXPECT_EQ(value(ftUnknown, "42"), Value::fromInt(42));
  EXPECT_EQ(value(ftUnknown, "2.5"), Value::fromReal(2.5));
  EXPECT_EQ(value(ftUnknown, "abc"), Value::fromText("abc"));
  EXPECT_TRUE(refused(ftBlob, "x"));

  try {
    cellValue(FieldInfo{"数量", ftInteger, 0}, "abc");
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "字段“数量”只能填整数，不能填“abc”");
  }
  EXPECT_EQ(cellText(Value::fromBytes(std::string("\0\xff\x10", 3))), "(二进制数据，3 字节)");
  EXPECT_EQ(cellText(Value::null()), "");
}
