// The mapping window test fixture.
#include "tests/mapping_window/mapping_window_fixture.h"

#include <QPushButton>

#include "tests/support/gui_support.h"

namespace vov::test {

void MappingWindowTest::SetUp() {
  ProgramTest::SetUp();
  f1 = ui::Form1;
  f3 = ui::Form3;
  dm = DataModule2;
}

void MappingWindowTest::openAndShow(const std::string& oldPath, const std::string& newPath) {
  ui::DialogSeam::answerFile(oldPath);
  f1->Button1->click();
  ui::DialogSeam::answerFile(newPath);
  f1->Button2->click();
  ASSERT_TRUE(f1->Button4->isEnabled());
  f1->Button4->click();
  processEvents();
  ASSERT_TRUE(f3->isVisible());
  expectNoBox();
}

namespace {

void select(ui::ListBox* list, const std::string& name) {
  const int i = list->indexOf(name);
  ASSERT_GE(i, 0) << name << " is not listed";
  list->setItemIndex(i);
}

}  // namespace

void MappingWindowTest::pickOld(const std::string& name) { pickByName(f3->ListBox1, name); }
void MappingWindowTest::pickNew(const std::string& name) { pickByName(f3->ListBox2, name); }
void MappingWindowTest::selectOldField(const std::string& name) { select(f3->ListBox3, name); }
void MappingWindowTest::selectNewField(const std::string& name) { select(f3->ListBox4, name); }

std::vector<ui::ShownDialog> MappingWindowTest::boxes() const {
  std::vector<ui::ShownDialog> out;
  for (const auto& d : ui::DialogSeam::shown())
    if (d.kind == ui::ShownDialog::Kind::MessageBox) out.push_back(d);
  return out;
}

void MappingWindowTest::expectOneBox(const std::string& text, const std::string& caption,
                                     unsigned flags) {
  const auto shown = boxes();
  ASSERT_EQ(shown.size(), 1u) << (shown.empty() ? "no box" : shown.back().text);
  EXPECT_EQ(shown[0].text, text);
  EXPECT_EQ(shown[0].caption, caption);
  EXPECT_EQ(shown[0].flags, flags);
  if (caption == "Vovarize") EXPECT_EQ(shown[0].owner, nullptr);
  else EXPECT_EQ(shown[0].owner, f3);
  ui::DialogSeam::clear();
}

void MappingWindowTest::expectErrorBox(const std::string& text) {
  expectOneBox(text, "Vovarize", ui::MB_OK | ui::MB_ICONERROR);
}

void MappingWindowTest::expectNoBox() {
  const auto shown = boxes();
  EXPECT_TRUE(shown.empty()) << shown.front().caption << ": " << shown.front().text;
  ui::DialogSeam::clear();
}

}  // namespace vov::test
