// Helpers for tests of the windows: the Qt application object, offscreen,
// the program's objects as start-up makes them, and user actions.
#ifndef VOVARIZE_TESTS_SUPPORT_GUI_SUPPORT_H
#define VOVARIZE_TESTS_SUPPORT_GUI_SUPPORT_H

#include <gtest/gtest.h>

#include <string>

class QWidget;

namespace vov::ui {
class ListBox;
class TSplitter;
}  // namespace vov::ui

namespace vov::test {

// Creates the one QApplication of the test program (offscreen) and puts the
// dialog seam into scripted mode, so no test waits on a real dialog.
void ensureGuiApp();

// Runs pending events.
void processEvents();

// Picks the entry `name` of a list as a user click does.
void pickByName(ui::ListBox* list, const std::string& name);

// Drags a splitter bar by `dy` pixels with the mouse; returns whether the
// line showed and `band` kept its height while the mouse was held.
bool dragSplitter(ui::TSplitter* splitter, QWidget* band, int dy);

// The main window, the data module and the mapping window created as at
// start-up, destroyed afterwards, with the dialog seam scripted and clear.
class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

}  // namespace vov::test

#endif
