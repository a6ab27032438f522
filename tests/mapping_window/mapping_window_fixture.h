// A fixture for the mapping window: the program's three objects created as
// at start-up, the dialog seam scripted, and helpers that drive both
// windows the way a user does (open dialogs answered, tables picked,
// buttons clicked).
#ifndef VOVARIZE_TESTS_MAPPING_WINDOW_FIXTURE_H
#define VOVARIZE_TESTS_MAPPING_WINDOW_FIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data/data_module.h"
#include "ui/main_window/form1.h"
#include "ui/mapping_window/form3.h"
#include "ui/platform/list_box.h"
#include "ui/platform/platform.h"
#include "tests/support/gui_support.h"
#include "tests/support/test_support.h"

namespace vov::test {

class MappingWindowTest : public ProgramTest {
 protected:
  void SetUp() override;

  // Opens both databases with the main window's buttons and shows the
  // mapping window with "设置对应关系和迁移"; forgets the dialogs shown.
  void openAndShow(const std::string& oldPath, const std::string& newPath);
  // Picks table `name` in the mapping window's old or new table list.
  void pickOld(const std::string& name);
  void pickNew(const std::string& name);
  // Selects the field `name` in the old or new field list.
  void selectOldField(const std::string& name);
  void selectNewField(const std::string& name);

  // The message boxes shown since the last clear.
  std::vector<ui::ShownDialog> boxes() const;
  // Expects exactly one message box since the last clear, with this text,
  // caption and flags, owned by the mapping window (or by nobody for the
  // error display's box), and clears the record.
  void expectOneBox(const std::string& text, const std::string& caption, unsigned flags);
  // The same for the error display's box.
  void expectErrorBox(const std::string& text);
  void expectNoBox();

  static std::vector<std::string> items(const ui::ListBox* list) { return list->items(); }

  ui::TForm1* f1 = nullptr;
  ui::TForm3* f3 = nullptr;
  TDataModule2* dm = nullptr;
  TempDir dir;
};

}  // namespace vov::test

#endif
