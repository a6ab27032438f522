// The mapping window's field side on real SQLite files: picking tables,
// hiding auto-increment fields, the pairing and undo commands, default
// values, the name column width and the mapping list file.
#include <QCheckBox>
#include <QFontMetrics>
#include <QPushButton>

#include "tests/mapping_window/mapping_window_fixture.h"
#include "tests/support/gui_support.h"

using namespace vov;
using ui::DialogSeam;
using ui::ShownDialog;
using Lines = std::vector<std::string>;

namespace {

constexpr unsigned kWarning = ui::MB_OK | ui::MB_ICONWARNING;
constexpr unsigned kRefused = ui::MB_OK | ui::MB_ICONERROR;

class MappingWindowFields : public test::MappingWindowTest {
 protected:
  void SetUp() override {
    MappingWindowTest::SetUp();
    test::makeSqlite(dir.file("old.db"),
                     "create table src(identifier_long integer primary key autoincrement,"
                     " name text, qty integer, \"first name\" text);"
                     "create table other(f1 text, f2 text, f3 text, ID integer, x text);"
                     "create table five(a1, a2, a3, a4, a5);"
                     "create table three(b1, b2, b3);"
                     "create table wide(a_twenty_byte_name_x text, b text);"
                     "create table \"order items\"(id integer primary key, \"unit price\" real);");
    test::makeSqlite(dir.file("new.db"),
                     "create table dst(no integer primary key, NAME text, amount integer,"
                     " 备注 text);"
                     "create table same(id integer, F2 text, y text, f3 text, f1 text);"
                     "create table five(c1, c2, c3, c4, c5);"
                     "create table three(d1, d2, d3);");
    openAndShow(dir.file("old.db"), dir.file("new.db"));
  }

  int extentOf(const Lines& lines) const {
    const QFontMetrics m(f3->ListBox5->font());
    int widest = 0;
    for (const auto& l : lines)
      widest = std::max(widest, m.horizontalAdvance(QString::fromStdString(l)));
    return widest + 2;
  }

  void mapSelected(const std::string& oldField, const std::string& newField) {
    selectOldField(oldField);
    selectNewField(newField);
    f3->Button1->click();
  }

  std::string padded(const std::string& name, size_t width) {
    return name + std::string(width > name.size() ? width - name.size() : 0, ' ');
  }
};

}  // namespace

TEST_F(MappingWindowFields, PickFillsFieldListsWithoutAutoIncFields) {
  pickOld("src");
  pickNew("dst");
  EXPECT_EQ(items(f3->ListBox3), (Lines{"name", "qty", "first name"}));
  EXPECT_EQ(items(f3->ListBox4), (Lines{"NAME", "amount", "备注"}));
  EXPECT_EQ(dm->ADODataSetTmp.connection(), &dm->ADOConnection1new);

  // Picking again, even the same table, refills and empties the mapped list.
  f3->ListBox5->add("leftover");
  f3->ListBox3->deleteItem(0);
  pickOld("src");
  EXPECT_EQ(f3->ListBox5->count(), 0);
  EXPECT_EQ(items(f3->ListBox3), (Lines{"name", "qty", "first name"}));

  // Unchecking brings the auto-increment fields back on both sides.
  f3->ListBox5->add("leftover");
  f3->CheckBox1->click();
  expectNoBox();
  EXPECT_EQ(items(f3->ListBox3), (Lines{"identifier_long", "name", "qty", "first name"}));
  EXPECT_EQ(items(f3->ListBox4), (Lines{"no", "NAME", "amount", "备注"}));
  EXPECT_EQ(f3->ListBox5->count(), 0);
  f3->CheckBox1->click();
  EXPECT_EQ(items(f3->ListBox3), (Lines{"name", "qty", "first name"}));
  EXPECT_EQ(items(f3->ListBox4), (Lines{"NAME", "amount", "备注"}));

  // A name with a blank is quoted in the look-up for auto-increment fields.
  pickOld("order items");
  expectNoBox();
  EXPECT_EQ(items(f3->ListBox3), Lines{"unit price"});
}

TEST_F(MappingWindowFields, MapSelectedChecksTheOldSideFirst) {
  f3->Button1->click();
  expectOneBox("请先在老数据库的表和视图列表框内选择一个表", "错误", kWarning);
  pickOld("src");
  f3->Button1->click();
  expectOneBox("请先选择老数据库的字段", "错误", kWarning);
  selectOldField("name");
  f3->Button1->click();
  expectOneBox("请先在新数据库的表和视图列表框内选择一个表", "错误", kWarning);
  pickNew("dst");
  f3->Button1->click();
  expectOneBox("请先选择新数据库的字段", "错误", kWarning);
  f3->ListBox3->setItemIndex(-1);
  f3->Button1->click();
  expectOneBox("请先选择老数据库的字段", "错误", kWarning);
  EXPECT_EQ(f3->ListBox5->count(), 0);

  // The hidden auto-increment name (15 bytes) still sets the width.
  mapSelected("name", "NAME");
  mapSelected("first name", "备注");
  expectNoBox();
  const Lines lines = {"src->" + padded("name", 15) + " >> dst->NAME",
                       "src->" + padded("first name", 15) + " >> dst->备注"};
  EXPECT_EQ(items(f3->ListBox5), lines);
  EXPECT_EQ(items(f3->ListBox3), Lines{"qty"});
  EXPECT_EQ(items(f3->ListBox4), Lines{"amount"});
  EXPECT_EQ(f3->ListBox3->itemIndex(), -1);
  EXPECT_EQ(f3->ListBox4->itemIndex(), -1);
  EXPECT_EQ(f3->ListBox5->horizontalExtent(), extentOf(lines));
}

TEST_F(MappingWindowFields, MapEqualNamesRunsDownwardsIgnoringCase) {
  pickOld("other");
  pickNew("same");
  f3->Button2->click();
  expectNoBox();
  const Lines lines = {"other->ID >> same->id", "other->f3 >> same->f3",
                       "other->f2 >> same->F2", "other->f1 >> same->f1"};
  EXPECT_EQ(items(f3->ListBox5), lines);
  EXPECT_EQ(items(f3->ListBox3), Lines{"x"});
  EXPECT_EQ(items(f3->ListBox4), Lines{"y"});
  EXPECT_EQ(f3->ListBox5->horizontalExtent(), extentOf(lines));

  // After a skip the table lists have no selection: the first line fails
  // with the index error and the command changes nothing.
  f3->Button12->click();
  f3->Button4->click();
  const Lines oldFields = items(f3->ListBox3), newFields = items(f3->ListBox4);
  f3->Button2->click();
  expectErrorBox("List index out of bounds (-1)");
  EXPECT_EQ(f3->ListBox5->count(), 0);
  EXPECT_EQ(items(f3->ListBox3), oldFields);
  EXPECT_EQ(items(f3->ListBox4), newFields);
}

TEST_F(MappingWindowFields, MapByPositionAsksAndPairsTheShorterLength) {
  const std::string prompt =
      "注意，此操作将按顺序把字段对应起来，您确定这些字段是按顺序对应的吗？";
  const unsigned okCancel = ui::MB_OKCANCEL | ui::MB_ICONWARNING;
  pickOld("five");
  pickNew("three");
  DialogSeam::answerMessageBox(ui::IDCANCEL);
  f3->Button6->click();
  expectOneBox(prompt, "注意", okCancel);
  EXPECT_EQ(f3->ListBox5->count(), 0);
  EXPECT_EQ(f3->ListBox3->count(), 5);

  f3->Button6->click();
  expectOneBox(prompt, "注意", okCancel);
  EXPECT_EQ(items(f3->ListBox5),
            (Lines{"five->a3 >> three->d3", "five->a2 >> three->d2", "five->a1 >> three->d1"}));
  EXPECT_EQ(items(f3->ListBox3), (Lines{"a4", "a5"}));
  EXPECT_EQ(f3->ListBox4->count(), 0);
  EXPECT_EQ(f3->ListBox5->horizontalExtent(), 0);  // never recomputed here

  pickOld("three");
  pickNew("five");
  f3->Button6->click();
  EXPECT_EQ(f3->ListBox3->count(), 0);
  EXPECT_EQ(items(f3->ListBox4), (Lines{"c4", "c5"}));

  // An undone pair comes back at the ends, and the next run pairs by the
  // new positions.
  pickOld("five");
  pickNew("five");
  mapSelected("a1", "c2");
  f3->ListBox5->setItemIndex(0);
  f3->Button3->click();
  EXPECT_EQ(items(f3->ListBox3), (Lines{"a2", "a3", "a4", "a5", "a1"}));
  EXPECT_EQ(items(f3->ListBox4), (Lines{"c1", "c3", "c4", "c5", "c2"}));
  DialogSeam::clear();
  f3->Button6->click();
  EXPECT_EQ(items(f3->ListBox5),
            (Lines{"five->a1 >> five->c2", "five->a5 >> five->c5", "five->a4 >> five->c4",
                   "five->a3 >> five->c3", "five->a2 >> five->c1"}));

  // The box comes also when there is nothing left to pair.
  DialogSeam::clear();
  f3->Button6->click();
  expectOneBox(prompt, "注意", okCancel);
  EXPECT_EQ(f3->ListBox5->count(), 5);
}

TEST_F(MappingWindowFields, UndoSelectedLineTellsTheKindsApart) {
  pickOld("src");
  pickNew("dst");
  const std::string file = dir.file("lines.TXT");
  test::writeFile(file, "src->qty >> dst->amount\r\n5 >> dst->备注\r\nno arrows here\r\n");
  DialogSeam::answerFile(file);
  f3->Button10->click();
  ASSERT_EQ(f3->ListBox5->count(), 3);
  const Lines oldFields = items(f3->ListBox3);

  f3->Button3->click();
  expectOneBox("请先选择要撤销对应的字段", "错误", kWarning);

  f3->ListBox5->setItemIndex(2);  // a line without ">>"
  f3->Button3->click();
  EXPECT_EQ(items(f3->ListBox4), (Lines{"NAME", "amount", "备注", ""}));
  f3->ListBox5->setItemIndex(1);  // a default-value line
  f3->Button3->click();
  EXPECT_EQ(items(f3->ListBox4), (Lines{"NAME", "amount", "备注", "", "备注"}));
  EXPECT_EQ(items(f3->ListBox3), oldFields);
  f3->ListBox5->setItemIndex(0);  // a field mapping line
  f3->Button3->click();
  EXPECT_EQ(items(f3->ListBox3), (Lines{"name", "qty", "first name", "qty"}));
  EXPECT_EQ(items(f3->ListBox4).back(), "amount");
  EXPECT_EQ(f3->ListBox5->count(), 0);
  expectNoBox();
}

TEST_F(MappingWindowFields, UndoAllReturnsNamesInReverseLineOrder) {
  pickOld("src");
  pickNew("dst");
  mapSelected("name", "NAME");
  mapSelected("qty", "amount");
  selectNewField("备注");
  DialogSeam::answerInput("x");
  f3->Button7->click();
  ASSERT_EQ(f3->ListBox5->count(), 3);
  const int extent = f3->ListBox5->horizontalExtent();
  DialogSeam::clear();

  f3->Button4->click();
  EXPECT_EQ(f3->ListBox5->count(), 0);
  EXPECT_EQ(items(f3->ListBox3), (Lines{"first name", "qty", "name"}));
  EXPECT_EQ(items(f3->ListBox4), (Lines{"备注", "amount", "NAME"}));
  EXPECT_EQ(f3->ListBox5->horizontalExtent(), extent);
  f3->Button4->click();
  expectNoBox();
}

TEST_F(MappingWindowFields, DefaultValuesNeedANewFieldAndAValidValue) {
  pickOld("src");
  pickNew("dst");
  f3->Button7->click();  // no new field selected: not even the input box
  f3->Button8->click();
  EXPECT_TRUE(DialogSeam::shown().empty());

  selectNewField("备注");
  DialogSeam::answerInput("  abc  ");
  f3->Button7->click();
  ASSERT_EQ(DialogSeam::shown().size(), 1u);
  const ShownDialog input = DialogSeam::shown()[0];
  EXPECT_EQ(input.kind, ShownDialog::Kind::InputBox);
  EXPECT_EQ(input.caption, "输入字符");
  EXPECT_EQ(input.text, "请输入字符串      ");
  EXPECT_EQ(input.owner, f3);
  EXPECT_EQ(items(f3->ListBox5), Lines{"  abc   >> dst->备注"});
  EXPECT_EQ(items(f3->ListBox4), (Lines{"NAME", "amount"}));
  DialogSeam::clear();

  selectNewField("amount");
  DialogSeam::answerInput("a->b");
  f3->Button7->click();
  expectOneBox("不能在字符串中包含 -> 符号", "错误", kRefused);
  selectNewField("amount");
  DialogSeam::answerInput("12x");
  f3->Button8->click();
  expectOneBox("12x不是有效的数字", "错误", kRefused);
  selectNewField("amount");
  DialogSeam::answerInput("");  // Cancel
  f3->Button8->click();
  expectNoBox();
  EXPECT_EQ(f3->ListBox5->count(), 1);

  selectNewField("amount");
  DialogSeam::answerInput("1E+");  // no exponent digits: no number
  f3->Button8->click();
  expectOneBox("1E+不是有效的数字", "错误", kRefused);
  selectNewField("amount");
  DialogSeam::answerInput("-1.5e+2");
  f3->Button8->click();
  EXPECT_EQ(DialogSeam::shown()[0].caption, "输入数字");
  EXPECT_EQ(DialogSeam::shown()[0].text, "请输入数字      ");
  expectNoBox();
  EXPECT_EQ(items(f3->ListBox5).back(), "-1.5e+2 >> dst->amount");
  EXPECT_EQ(items(f3->ListBox4), Lines{"NAME"});

  // Without a new table: the numeric default answers with its own
  // message, the character default with the index error.
  f3->Button12->click();
  selectNewField("NAME");
  DialogSeam::answerInput("7");
  f3->Button8->click();
  expectOneBox("7不是有效的数字", "错误", kRefused);
  selectNewField("NAME");
  DialogSeam::answerInput("x");
  f3->Button7->click();
  expectErrorBox("List index out of bounds (-1)");
  EXPECT_EQ(f3->ListBox5->count(), 2);
  EXPECT_EQ(items(f3->ListBox4), Lines{"NAME"});
}

TEST_F(MappingWindowFields, NameColumnWidthIsARunningMaximumUntilShownAgain) {
  pickOld("wide");  // a 20-byte name
  pickOld("src");
  pickNew("dst");
  mapSelected("name", "NAME");
  EXPECT_EQ(items(f3->ListBox5), Lines{"src->" + padded("name", 20) + " >> dst->NAME"});

  // Shown again: the field lists keep their names, the table lists have no
  // selection, so pairing fails until a pair is picked.
  f3->hide();
  f1->Button4->click();
  mapSelected("qty", "amount");
  expectErrorBox("List index out of bounds (-1)");
  EXPECT_EQ(f3->ListBox5->count(), 0);
  EXPECT_EQ(items(f3->ListBox3), (Lines{"qty", "first name"}));

  pickOld("src");
  pickNew("dst");
  mapSelected("name", "NAME");
  EXPECT_EQ(items(f3->ListBox5), Lines{"src->" + padded("name", 15) + " >> dst->NAME"});
}

TEST_F(MappingWindowFields, SaveAndLoadTheMappedList) {
  pickOld("src");
  pickNew("dst");
  mapSelected("name", "NAME");
  selectNewField("备注");
  DialogSeam::answerInput("默认");
  f3->Button7->click();
  const Lines lines = items(f3->ListBox5);
  DialogSeam::clear();

  DialogSeam::answerFile(dir.file("map"));
  f3->Button9->click();
  ASSERT_EQ(DialogSeam::shown().size(), 1u);
  const ShownDialog save = DialogSeam::shown()[0];
  EXPECT_EQ(save.kind, ShownDialog::Kind::SaveFile);
  EXPECT_EQ(save.owner, f3);
  EXPECT_EQ(save.filter, "列表文本文件*.TXT|*.TXT");
  EXPECT_EQ(save.defaultExt, "TXT");
  EXPECT_TRUE(save.overwritePrompt);
  expectNoBox();
  EXPECT_EQ(test::readFile(dir.file("map.TXT")), lines[0] + "\r\n" + lines[1] + "\r\n");

  // A cancelled dialog changes nothing.
  f3->Button9->click();
  f3->Button10->click();
  EXPECT_EQ(items(f3->ListBox5), lines);

  pickNew("dst");
  ASSERT_EQ(f3->ListBox5->count(), 0);
  const Lines oldFields = items(f3->ListBox3), newFields = items(f3->ListBox4);
  DialogSeam::clear();
  DialogSeam::answerFile(dir.file("map.TXT"));
  f3->Button10->click();
  EXPECT_EQ(DialogSeam::shown()[0].kind, ShownDialog::Kind::OpenFile);
  EXPECT_EQ(DialogSeam::shown()[0].filter, "列表文本文件*.TXT|*.TXT");
  expectNoBox();
  EXPECT_EQ(items(f3->ListBox5), lines);
  EXPECT_EQ(items(f3->ListBox3), oldFields);
  EXPECT_EQ(items(f3->ListBox4), newFields);

  // Loading replaces the whole list; a file that cannot be read leaves it.
  test::writeFile(dir.file("two.TXT"), "a >> t->f\nb >> t->g");
  DialogSeam::answerFile(dir.file("two.TXT"));
  f3->Button10->click();
  EXPECT_EQ(items(f3->ListBox5), (Lines{"a >> t->f", "b >> t->g"}));
  DialogSeam::clear();
  DialogSeam::answerFile(dir.file("missing.TXT"));
  f3->Button10->click();
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_EQ(boxes()[0].caption, "Vovarize");
  EXPECT_EQ(items(f3->ListBox5), (Lines{"a >> t->f", "b >> t->g"}));

  // An empty list saves as an empty file.
  f3->Button4->click();
  DialogSeam::answerFile(dir.file("empty.TXT"));
  f3->Button9->click();
  EXPECT_EQ(test::readFile(dir.file("empty.TXT")), "");
}
