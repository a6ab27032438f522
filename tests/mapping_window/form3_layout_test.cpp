// The mapping window's layout and its showing: controls as designed, the
// anchors and the splitter, the window's place among the windows, and what
// a new showing refills, empties and keeps.
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <set>

#include "ui/platform/splitter.h"
#include "tests/mapping_window/mapping_window_fixture.h"
#include "tests/support/gui_support.h"

using namespace vov;
using ui::DialogSeam;

namespace {

std::string text(QWidget* w) {
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text().toStdString();
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text().toStdString();
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text().toStdString();
  return std::string();
}

class MappingWindowLayout : public test::MappingWindowTest {
 protected:
  void SetUp() override {
    MappingWindowTest::SetUp();
    oldDb = dir.file("old.db");
    newDb = dir.file("new.db");
    // Created out of name order: the lists keep the engine's order.
    test::makeSqlite(oldDb,
                     "create table zeta(id integer primary key, a text);"
                     "create table alpha(b text);"
                     "create view mid as select a from zeta;");
    test::makeSqlite(newDb, "create table 新表(x text); create table 旧表(y text);");
  }

  std::string oldDb, newDb;
};

struct Designed {
  QWidget* widget;
  QRect geometry;  // inside its group box; an empty size: sized to its text
  const char* caption;
  const char* hint;
};

}  // namespace

TEST_F(MappingWindowLayout, ControlsAsDesigned) {
  ui::TForm3& f = *f3;
  EXPECT_EQ(f.windowTitle().toStdString(), "对应并迁移");
  EXPECT_TRUE(f.isWindow());
  EXPECT_EQ(f.parentWidget(), nullptr);
  EXPECT_FALSE(f.isVisible());
  EXPECT_EQ(f.size(), QSize(733, 487));
  EXPECT_EQ(f.GroupBox1->geometry(), QRect(0, 0, 733, 185));
  EXPECT_EQ(f.Splitter1->geometry(), QRect(0, 185, 733, 6));
  EXPECT_EQ(f.Splitter1->cursor().shape(), Qt::SplitVCursor);
  EXPECT_EQ(f.Splitter1->color, QColor(171, 171, 171));
  EXPECT_EQ(f.GroupBox2->geometry(), QRect(0, 191, 733, 296));
  EXPECT_EQ(f.GroupBox1->title().toStdString(), "表");
  EXPECT_EQ(f.GroupBox2->title().toStdString(), "字段对应和过滤器");
  EXPECT_TRUE(f.windowIcon().availableSizes().contains(QSize(16, 16)));

  const Designed table[] = {
      {f.Label1, {24, 16, 0, 0}, "老数据库", ""},
      {f.Label2, {232, 16, 0, 0}, "新数据库", ""},
      {f.ListBox1, {16, 32, 185, 137}, "", "老数据库表"},
      {f.ListBox2, {232, 32, 185, 137}, "", "新数据库表"},
      {f.Button12, {424, 56, 75, 25}, "跳过所选", "将选中的表列入已完成列表"},
      {f.Button13, {424, 96, 75, 25}, "重做", "将选中的已完成表重新添加到未迁移列表"},
      {f.ListBox6, {504, 32, 209, 137}, "", "已迁移的表"},
      {f.ListBox3, {16, 24, 185, 185}, "", "老数据库字段"},
      {f.ListBox4, {232, 24, 193, 185}, "", "新数据库字段"},
      {f.Button1, {440, 32, 75, 25}, ">", "迁移选中字段"},
      {f.Button2, {440, 56, 75, 25}, ">>", "迁移全部同名字段"},
      {f.Button6, {440, 88, 75, 25}, "=>>", "按顺序迁移全部字段"},
      {f.Button3, {440, 136, 75, 25}, "<", "删除迁移字段"},
      {f.Button4, {440, 160, 75, 25}, "<<", "删除全部迁移字段"},
      {f.ListBox5, {528, 24, 185, 185}, "", "已经对应好的字段"},
      {f.CheckBox1, {16, 216, 177, 17}, "不显示自增字段",
       "由于自增字段的内容由数据库服务器自动维护,不需迁移."},
      {f.Button7, {232, 212, 75, 25}, "字符默认值", "给新数据库字段设置的字符型默认值"},
      {f.Button8, {336, 212, 75, 25}, "数字默认值", "给新数据库字段设置的数字型默认值"},
      {f.Button9, {528, 212, 75, 25}, "保存列表", "把对于列表保存起来供下次重复使用"},
      {f.Button10, {640, 212, 75, 25}, "载入列表", "载入上次保存的对应列表"},
      {f.Label3, {24, 248, 0, 0}, "过虑条件:", ""},
      {f.Edit1, {96, 240, 417, 21}, "where xxx=\"xxx\"",
       "过虑数据,注意,等于号后面的值,如果是字符类型的,需用双引号或者单引号包括,数字类型的不用。"},
      {f.Button5, {560, 240, 153, 25}, "迁移当前表数据", "迁移当前表数据"},
      {f.Label4, {224, 264, 289, 16}, "处理进度:", "显示当前迁移到第几条数据了。"},
      {f.Button11, {560, 264, 153, 25}, "导出当前旧表到文本文件",
       "导出老的数据库的当前表内容到一个文本文件"},
  };
  for (const Designed& d : table) {
    SCOPED_TRACE(d.widget->toolTip().toStdString() + text(d.widget));
    const bool inTableBand = d.widget->parentWidget() == f.GroupBox1;
    EXPECT_TRUE(inTableBand || d.widget->parentWidget() == f.GroupBox2);
    if (d.geometry.isEmpty()) {
      EXPECT_EQ(d.widget->pos(), d.geometry.topLeft());
      EXPECT_EQ(d.widget->size(), d.widget->sizeHint());
    } else {
      EXPECT_EQ(d.widget->geometry(), d.geometry);
    }
    EXPECT_EQ(text(d.widget), d.caption);
    EXPECT_EQ(d.widget->toolTip().toStdString(), d.hint);
  }
  EXPECT_TRUE(f.CheckBox1->isChecked());
  EXPECT_EQ(f.Label4->font().pixelSize(), 16);
  EXPECT_TRUE(f.Label4->font().families().contains("宋体"));
  EXPECT_EQ(f.Label4->palette().color(QPalette::WindowText), QColor(128, 0, 0));
  EXPECT_EQ(f.font().pixelSize(), 13);
  EXPECT_EQ(f.ListBox5->font().pixelSize(), 13);

  for (const ui::FileDialog* d : {&f.OpenDialog1, &f.SaveDialog1}) {
    EXPECT_EQ(d->filter, "列表文本文件*.TXT|*.TXT");
    EXPECT_EQ(d->defaultExt, "TXT");
    EXPECT_FALSE(d->fileMustExist);
  }
  EXPECT_EQ(f.OpenDialog1.kind(), ui::FileDialog::Kind::Open);
  EXPECT_EQ(f.SaveDialog1.kind(), ui::FileDialog::Kind::Save);
  EXPECT_FALSE(f.OpenDialog1.overwritePrompt);
  EXPECT_TRUE(f.SaveDialog1.overwritePrompt);
}

TEST_F(MappingWindowLayout, TabOrderRunsThroughBothGroupBoxes) {
  ui::TForm3& f = *f3;
  const std::vector<QWidget*> expected = {
      f.ListBox1, f.ListBox2, f.ListBox6, f.Button12, f.Button13, f.ListBox3, f.ListBox4,
      f.Button1,  f.Button2,  f.Button3,  f.Button4,  f.ListBox5, f.Edit1,    f.Button5,
      f.Button6,  f.CheckBox1, f.Button7, f.Button8,  f.Button9,  f.Button10, f.Button11};
  const std::set<QWidget*> focusable(expected.begin(), expected.end());
  std::vector<QWidget*> chain;
  QWidget* w = f.ListBox1;
  do {
    if (focusable.count(w)) chain.push_back(w);
    w = w->nextInFocusChain();
  } while (w != f.ListBox1 && chain.size() <= expected.size());
  EXPECT_EQ(chain, expected);
}

TEST_F(MappingWindowLayout, AnchorsAndSplitterFollowTheWindow) {
  openAndShow(oldDb, newDb);
  ui::TForm3& f = *f3;
  f.resize(933, 587);
  test::processEvents();
  EXPECT_EQ(f.GroupBox1->geometry(), QRect(0, 0, 933, 185));
  EXPECT_EQ(f.GroupBox2->geometry(), QRect(0, 191, 933, 396));
  // The table band keeps its height, so its lists do too.
  EXPECT_EQ(f.ListBox1->geometry(), QRect(16, 32, 185, 137));
  EXPECT_EQ(f.ListBox6->geometry(), QRect(504, 32, 209, 137));
  EXPECT_EQ(f.ListBox3->geometry(), QRect(16, 24, 185, 285));
  EXPECT_EQ(f.ListBox4->geometry(), QRect(232, 24, 193, 285));
  EXPECT_EQ(f.ListBox5->geometry(), QRect(528, 24, 385, 285));
  EXPECT_EQ(f.Button1->geometry(), QRect(440, 32, 75, 25));
  EXPECT_EQ(f.CheckBox1->geometry(), QRect(16, 316, 177, 17));
  EXPECT_EQ(f.Edit1->geometry(), QRect(96, 340, 417, 21));
  EXPECT_EQ(f.Button5->geometry(), QRect(560, 340, 153, 25));
  EXPECT_EQ(f.Button11->geometry(), QRect(560, 364, 153, 25));
  EXPECT_EQ(f.Label3->pos(), QPoint(24, 348));
  EXPECT_EQ(f.Label4->geometry(), QRect(224, 264, 289, 16));

  // Dragging the bar down 40 pixels gives the table band 40 more.
  test::dragSplitter(f.Splitter1, f.GroupBox1, 40);
  EXPECT_EQ(f.GroupBox1->geometry(), QRect(0, 0, 933, 225));
  EXPECT_EQ(f.Splitter1->geometry(), QRect(0, 225, 933, 6));
  EXPECT_EQ(f.GroupBox2->geometry(), QRect(0, 231, 933, 356));
  EXPECT_EQ(f.ListBox1->geometry(), QRect(16, 32, 185, 177));
  EXPECT_EQ(f.Button5->geometry(), QRect(560, 300, 153, 25));
  // A later resize keeps the dragged height.
  f.resize(733, 487);
  test::processEvents();
  EXPECT_EQ(f.GroupBox1->height(), 225);
  EXPECT_EQ(f.GroupBox2->geometry(), QRect(0, 231, 733, 256));
}

TEST_F(MappingWindowLayout, StandsBesideTheMainWindow) {
  openAndShow(oldDb, newDb);
  f1->showMinimized();
  test::processEvents();
  EXPECT_TRUE(f3->isVisible());
  f3->close();
  test::processEvents();
  EXPECT_FALSE(f3->isVisible());
  EXPECT_EQ(ui::Form3, f3);  // closing only hides it
}

TEST_F(MappingWindowLayout, ShowingRefillsAndEmptiesButKeepsTheRest) {
  openAndShow(oldDb, newDb);
  ui::TForm3& f = *f3;
  EXPECT_EQ(items(f.ListBox1), (std::vector<std::string>{"zeta", "alpha", "mid"}));
  EXPECT_EQ(items(f.ListBox2), (std::vector<std::string>{"新表", "旧表"}));
  EXPECT_EQ(f.ListBox1->itemIndex(), -1);
  EXPECT_EQ(ui::screenCursor(), ui::crDefault);

  pickOld("zeta");
  pickNew("旧表");
  f.Button12->click();  // skip: the pair leaves the table lists
  EXPECT_EQ(items(f.ListBox6), std::vector<std::string>{"zeta => 旧表=>跳过"});
  f.ListBox5->add("x >> 旧表->y");
  f.Edit1->setText("where a='1'");
  f.Label4->setText("处理进度：7");
  f.CheckBox1->blockSignals(true);
  f.CheckBox1->setChecked(false);
  f.CheckBox1->blockSignals(false);

  // Showing it again while it is on screen only brings it to the front.
  f1->Button4->click();
  EXPECT_EQ(f.ListBox6->count(), 1);
  EXPECT_EQ(f.ListBox5->count(), 1);
  // Nor does restoring it from minimised.
  f.setWindowState(Qt::WindowMinimized);
  test::processEvents();
  f.setWindowState(Qt::WindowNoState);
  test::processEvents();
  EXPECT_EQ(f.ListBox6->count(), 1);
  EXPECT_EQ(f.ListBox5->count(), 1);

  f.hide();
  f1->Button4->click();
  test::processEvents();
  expectNoBox();
  EXPECT_EQ(items(f.ListBox1), (std::vector<std::string>{"zeta", "alpha", "mid"}));
  EXPECT_EQ(items(f.ListBox2), (std::vector<std::string>{"新表", "旧表"}));
  EXPECT_EQ(f.ListBox5->count(), 0);
  EXPECT_EQ(f.ListBox6->count(), 0);
  EXPECT_EQ(items(f.ListBox3), std::vector<std::string>{"a"});  // id was hidden
  EXPECT_EQ(items(f.ListBox4), std::vector<std::string>{"y"});
  EXPECT_EQ(f.Edit1->text().toStdString(), "where a='1'");
  EXPECT_EQ(f.Label4->text().toStdString(), "处理进度：7");
  EXPECT_FALSE(f.CheckBox1->isChecked());
}

TEST_F(MappingWindowLayout, PickingWithoutSelectionWarns) {
  openAndShow(oldDb, newDb);
  f3->ListBox1->pick(-1);
  expectOneBox("没有打开数据库或数据库为空", "错误", ui::MB_OK | ui::MB_ICONWARNING);
  f3->ListBox2->pick(-1);
  expectOneBox("没有打开数据库或数据库为空", "错误", ui::MB_OK | ui::MB_ICONWARNING);
  // Toggling the check box before any pick runs both picks: two warnings.
  f3->CheckBox1->click();
  const auto shown = boxes();
  ASSERT_EQ(shown.size(), 2u);
  for (const auto& d : shown) {
    EXPECT_EQ(d.text, "没有打开数据库或数据库为空");
    EXPECT_EQ(d.owner, f3);
  }
}

// Before the mapping window is ever shown it already handles the main
// window's errors; the handler puts the normal cursor back.
TEST_F(MappingWindowLayout, HostsTheApplicationWideErrorHandler) {
  ui::setScreenCursor(ui::crHourGlass);
  DialogSeam::answerFile(dir.file("missing/none.db"));
  f1->Button1->click();
  const auto shown = boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown.back().caption, "Vovarize");
  EXPECT_EQ(shown.back().flags, ui::MB_OK | ui::MB_ICONERROR);
  EXPECT_EQ(ui::screenCursor(), ui::crDefault);
}
