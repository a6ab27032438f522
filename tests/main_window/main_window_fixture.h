// A test fixture with the program's three objects created as at start-up,
// the dialog seam scripted, and helpers to drive the main window.
#ifndef VOVARIZE_TESTS_MAIN_WINDOW_FIXTURE_H
#define VOVARIZE_TESTS_MAIN_WINDOW_FIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data/data_module.h"
#include "ui/main_window/form1.h"
#include "ui/platform/platform.h"
#include "tests/support/gui_support.h"
#include "tests/support/test_support.h"

namespace vov::test {

class MainWindowTest : public ProgramTest {
 protected:
  void SetUp() override;

  // Answers the open dialog with `path` and clicks the side's open button.
  void openOld(const std::string& path);
  void openNew(const std::string& path);
  // Picks table `name` in the side's table list as a user click does.
  void pickOld(const std::string& name);
  void pickNew(const std::string& name);

  // The message boxes shown since the last clear(), as (caption, text).
  std::vector<std::pair<std::string, std::string>> boxes() const;
  // The one message box shown since the last clear(); fails otherwise.
  ui::ShownDialog onlyBox() const;

  ui::TForm1* form = nullptr;
  TDataModule2* dm = nullptr;
  TempDir dir;
};

}  // namespace vov::test

#endif
