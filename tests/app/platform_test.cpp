// The platform layer: list box behaviour and the scripted dialog seam.
#include <gtest/gtest.h>

#include "data/error.h"
#include "ui/platform/list_box.h"
#include "ui/platform/platform.h"
#include "tests/support/gui_support.h"

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
  EXPECT_EQ(DialogSeam::shown().back().initial, "/tmp/other.txt");
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
