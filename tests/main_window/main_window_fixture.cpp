// The main window test fixture.
#include "tests/main_window/main_window_fixture.h"

#include <QPushButton>

#include "ui/platform/list_box.h"

namespace vov::test {

void MainWindowTest::SetUp() {
  ProgramTest::SetUp();
  form = ui::Form1;
  dm = DataModule2;
}

void MainWindowTest::openOld(const std::string& path) {
  ui::DialogSeam::answerFile(path);
  form->Button1->click();
}

void MainWindowTest::openNew(const std::string& path) {
  ui::DialogSeam::answerFile(path);
  form->Button2->click();
}

void MainWindowTest::pickOld(const std::string& name) { pickByName(form->ListBox1, name); }
void MainWindowTest::pickNew(const std::string& name) { pickByName(form->ListBox2, name); }

std::vector<std::pair<std::string, std::string>> MainWindowTest::boxes() const {
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& d : ui::DialogSeam::shown())
    if (d.kind == ui::ShownDialog::Kind::MessageBox) out.emplace_back(d.caption, d.text);
  return out;
}

ui::ShownDialog MainWindowTest::onlyBox() const {
  const auto& shown = ui::DialogSeam::shown();
  EXPECT_EQ(shown.size(), 1u);
  return shown.empty() ? ui::ShownDialog() : shown.back();
}

}  // namespace vov::test
