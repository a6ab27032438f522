// The platform layer: list box behaviour and the scripted dialog seam.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QTreeView>

#include <functional>
#include <map>

#include "data/error.h"
#include "ui/platform/list_box.h"
#include "ui/platform/platform.h"
#include "tests/support/gui_support.h"
#include "tests/support/test_support.h"

using namespace vov;
using ui::DialogSeam;
using ui::ListBox;

namespace {

class Platform : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ensureGuiApp();
    DialogSeam::clear();
  }
};

}  // namespace

TEST_F(Platform, ListBoxSelectionRules) {
  ListBox list;
  list.setItems({"Alpha", "beta", "BETA", "gamma"});
  EXPECT_EQ(list.itemIndex(), -1);
  try {
    list.selectedItem();
    FAIL();
  } catch (const ListIndexError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (-1)");
  }
  EXPECT_EQ(list.indexOf("Beta"), 1) << "case ignored, first match";
  EXPECT_EQ(list.indexOf("delta"), -1);

  list.setItemIndex(2);
  EXPECT_EQ(list.selectedItem(), "BETA");
  list.deleteItem(0);  // an entry before the selection: the selection stays on its entry
  EXPECT_EQ(list.itemIndex(), 1);
  EXPECT_EQ(list.selectedItem(), "BETA");
  list.deleteItem(1);  // the selected entry: no selection afterwards
  EXPECT_EQ(list.itemIndex(), -1);
  EXPECT_EQ(list.items(), (std::vector<std::string>{"beta", "gamma"}));

  list.setItemIndex(0);
  list.setItems({"x"});
  EXPECT_EQ(list.itemIndex(), -1) << "refilled lists have no selection";
  list.add("y");
  EXPECT_EQ(list.items(), (std::vector<std::string>{"x", "y"}));
  EXPECT_THROW(list.item(2), ListIndexError);
}

TEST_F(Platform, PickEmitsEvenForTheSelectedEntry) {
  ListBox list;
  list.setItems({"a", "b"});
  int picks = 0;
  QObject::connect(&list, &ListBox::picked, [&picks] { ++picks; });
  list.pick(1);
  list.pick(1);
  EXPECT_EQ(picks, 2);
  EXPECT_EQ(list.itemIndex(), 1);
}

TEST_F(Platform, MessageBoxAnswersAndRecords) {
  EXPECT_EQ(ui::messageBox(nullptr, "t", "c", ui::MB_OK | ui::MB_ICONWARNING), ui::IDOK);
  DialogSeam::answerMessageBox(ui::IDCANCEL);
  EXPECT_EQ(ui::messageBox(nullptr, "sure?", "注意", ui::MB_OKCANCEL | ui::MB_ICONWARNING),
            ui::IDCANCEL);
  // A box with only OK answers OK whatever was queued (Esc means OK there).
  DialogSeam::answerMessageBox(ui::IDCANCEL);
  EXPECT_EQ(ui::messageBox(nullptr, "t", "c", ui::MB_OK), ui::IDOK);
  ASSERT_EQ(DialogSeam::shown().size(), 3u);
  EXPECT_EQ(DialogSeam::shown()[1].text, "sure?");
  EXPECT_EQ(DialogSeam::shown()[1].caption, "注意");
  EXPECT_EQ(DialogSeam::shown()[1].flags, 0x31u);
}

TEST_F(Platform, InputBoxCancelIsEmptyAndTextIsCut) {
  EXPECT_EQ(ui::inputBox(nullptr, "输入字符", "请输入字符串      "), "");
  DialogSeam::answerInput("abc");
  EXPECT_EQ(ui::inputBox(nullptr, "输入字符", "请输入字符串      "), "abc");
  DialogSeam::answerInput(std::string(300, 'x'));
  EXPECT_EQ(ui::inputBox(nullptr, "c", "p").size(), 255u);
  DialogSeam::answerInput(std::string(300, 'x') + "中");
  EXPECT_EQ(ui::inputBox(nullptr, "c", "p"), std::string(255, 'x'));
  EXPECT_EQ(DialogSeam::shown()[0].text, "请输入字符串      ");
}

TEST_F(Platform, FileDialogRemembersAndAddsTheDefaultExtension) {
  ui::FileDialog save(ui::FileDialog::Kind::Save);
  save.filter = "列表文本文件*.TXT|*.TXT";
  save.defaultExt = "TXT";
  save.overwritePrompt = true;
  EXPECT_FALSE(save.execute(nullptr)) << "nothing queued cancels";
  DialogSeam::answerFile("/tmp/list");
  ASSERT_TRUE(save.execute(nullptr));
  EXPECT_EQ(save.fileName, "/tmp/list.TXT");
  DialogSeam::answerFile("/tmp/other.txt");
  ASSERT_TRUE(save.execute(nullptr));
  EXPECT_EQ(save.fileName, "/tmp/other.txt");
  DialogSeam::answerFile("");
  EXPECT_FALSE(save.execute(nullptr));
  EXPECT_EQ(save.fileName, "/tmp/other.txt") << "a cancelled dialog keeps the last name";
  DialogSeam::answerFile("/tmp/third.TXT", 2);
  ASSERT_TRUE(save.execute(nullptr));
  EXPECT_EQ(save.filterIndex, 2);
  DialogSeam::answerFile("");
  EXPECT_FALSE(save.execute(nullptr));
  EXPECT_EQ(save.filterIndex, 2) << "a cancelled dialog keeps the last type";
  EXPECT_EQ(DialogSeam::shown().back().filterIndex, 2);
  EXPECT_EQ(DialogSeam::shown().back().initial, "/tmp/third.TXT");
  EXPECT_TRUE(DialogSeam::shown().back().overwritePrompt);
}

TEST_F(Platform, CursorIsOneSetting) {
  ui::setScreenCursor(ui::crHourGlass);
  EXPECT_EQ(ui::screenCursor(), -11);
  ui::setScreenCursor(ui::crDefault);
  EXPECT_EQ(ui::screenCursor(), 0);
}

TEST_F(Platform, TickCounterCanBeScripted) {
  uint32_t a = ui::tickCount();
  EXPECT_LE(ui::tickCount() - a, 1000u);
  DialogSeam::setTickSource([] { return 0xFFFFFFF0u; });
  uint32_t start = ui::tickCount();
  DialogSeam::setTickSource([] { return 0x10u; });
  EXPECT_EQ(ui::tickCount() - start, 0x20u) << "elapsed time wraps modulo 2^32";
  DialogSeam::setTickSource(nullptr);
}

// Real dialogs, driven by a timer from inside their own event loop.
class RealDialogs : public Platform {
 protected:
  void SetUp() override {
    Platform::SetUp();
    DialogSeam::unscript();
  }
  void TearDown() override { DialogSeam::script(); }

  // Runs `inspect` on the modal dialog opened next; without one, closes
  // whatever dialog is there, so that a failure never waits on a window.
  template <class Dialog>
  static void whileShown(const std::function<void(Dialog*)>& inspect) {
    QTimer::singleShot(0, [inspect] {
      if (auto* d = qobject_cast<Dialog*>(QApplication::activeModalWidget())) return inspect(d);
      ADD_FAILURE() << "no such dialog on screen";
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible()) d->reject();
    });
  }
};

TEST_F(RealDialogs, FileDialogShowsEntriesAsWrittenInChineseAndKeepsTheTypeChosen) {
  test::TempDir dir;
  test::writeFile(dir.file("a.db"), "");
  ui::FileDialog open(ui::FileDialog::Kind::Open);
  open.filter = "access数据库 *.mdb|*.mdb|SQLite 数据库 *.db *.sqlite|*.db;*.sqlite|所有文件 *|*";
  QStringList entries;
  QString lookIn, accept, cancel;
  whileShown<QFileDialog>([&](QFileDialog* d) {
    auto* combo = d->findChild<QComboBox*>("fileTypeCombo");
    for (int i = 0; i < combo->count(); ++i) entries << combo->itemText(i);
    lookIn = d->findChild<QLabel*>("lookInLabel")->text();
    auto* buttons = d->findChild<QDialogButtonBox*>("buttonBox");
    accept = buttons->button(QDialogButtonBox::Open)->text();
    cancel = buttons->button(QDialogButtonBox::Cancel)->text();
    d->selectNameFilter(d->nameFilters()[1]);
    d->selectFile(QString::fromStdString(dir.file("a.db")));
    buttons->button(QDialogButtonBox::Open)->click();
  });
  ASSERT_TRUE(open.execute(nullptr));
  EXPECT_EQ(entries, (QStringList{"access数据库 *.mdb", "SQLite 数据库 *.db *.sqlite", "所有文件 *"}));
  EXPECT_EQ(lookIn, QStringLiteral("查找范围："));
  EXPECT_EQ(accept, QStringLiteral("打开(&O)"));
  EXPECT_EQ(cancel, QStringLiteral("取消"));
  EXPECT_EQ(open.fileName, dir.file("a.db"));
  EXPECT_EQ(open.filterIndex, 2);

  // The next time it starts on that entry.
  QString startsOn;
  whileShown<QFileDialog>([&](QFileDialog* d) {
    startsOn = d->selectedNameFilter();
    d->reject();
  });
  EXPECT_FALSE(open.execute(nullptr));
  EXPECT_EQ(startsOn, QStringLiteral("SQLite 数据库 *.db *.sqlite"));
  EXPECT_EQ(open.filterIndex, 2);
}

// Qt fills the size and date columns from the system locale, which is
// English where LANG is unset, and sizes them for English texts.
TEST_F(RealDialogs, FileListReadsInChineseAndShowsWholeTexts) {
  test::TempDir dir;
  test::writeFile(dir.file("a.db"), "");
  QDir(QString::fromStdString(dir.path())).mkdir(QStringLiteral("子文件夹"));
  ui::FileDialog open(ui::FileDialog::Kind::Open);
  open.filter = "所有文件 *|*";
  open.fileName = dir.file("a.db");
  std::map<QString, QStringList> rows;
  QStringList cut;
  whileShown<QFileDialog>([&](QFileDialog* d) {
    auto* list = d->findChild<QTreeView*>(QStringLiteral("treeView"));
    QAbstractItemModel* model = list->model();
    QElapsedTimer waited;
    waited.start();
    while (model->rowCount(list->rootIndex()) < 2 && waited.elapsed() < 10000)
      QApplication::processEvents(QEventLoop::AllEvents, 50);
    QApplication::processEvents();
    for (int r = 0; r < model->rowCount(list->rootIndex()); ++r) {
      QStringList texts;
      for (int c = 0; c < model->columnCount(list->rootIndex()); ++c) {
        const QString text = model->index(r, c, list->rootIndex()).data().toString();
        texts << text;
        if (list->columnWidth(c) < list->fontMetrics().horizontalAdvance(text)) cut << text;
      }
      rows[texts[0]] = texts;
    }
    d->reject();
  });
  EXPECT_FALSE(open.execute(nullptr));
  ASSERT_EQ(rows.size(), 2u);
  const QStringList file = rows[QStringLiteral("a.db")];
  const QStringList folder = rows[QStringLiteral("子文件夹")];
  ASSERT_EQ(file.size(), 4);
  ASSERT_EQ(folder.size(), 4);
  EXPECT_EQ(file[1].toStdString(), "0 字节");
  EXPECT_EQ(folder[1].toStdString(), "");
  EXPECT_EQ(folder[2].toStdString(), "文件夹");
  const QRegularExpression chineseDate(QStringLiteral("^\\d{4}/\\d{1,2}/\\d{1,2} \\d{1,2}:\\d{2}$"));
  EXPECT_TRUE(chineseDate.match(file[3]).hasMatch()) << file[3].toStdString();
  EXPECT_TRUE(chineseDate.match(folder[3]).hasMatch()) << folder[3].toStdString();
  EXPECT_TRUE(cut.isEmpty()) << cut.join(QStringLiteral(", ")).toStdString();
}

TEST_F(RealDialogs, MessageBoxButtonsInChineseAndAsWideAsItsTitle) {
  const std::string caption = "一个很长很长很长很长很长很长很长很长很长的标题";
  QStringList buttons;
  int width = 0, titleWidth = 0;
  whileShown<QMessageBox>([&](QMessageBox* box) {
    for (QAbstractButton* b : box->buttons()) buttons << b->text();
    width = box->width();
    titleWidth = box->fontMetrics().horizontalAdvance(box->windowTitle());
    box->button(QMessageBox::Cancel)->click();
  });
  EXPECT_EQ(ui::messageBox(nullptr, "好", caption, ui::MB_OKCANCEL | ui::MB_ICONWARNING),
            ui::IDCANCEL);
  buttons.sort();
  QStringList expected{QStringLiteral("确定"), QStringLiteral("取消")};
  expected.sort();
  EXPECT_EQ(buttons, expected);
  EXPECT_GT(width, titleWidth);
}
