// Helpers for tests of the windows: the Qt application object, offscreen.
#ifndef VOVARIZE_TESTS_SUPPORT_GUI_SUPPORT_H
#define VOVARIZE_TESTS_SUPPORT_GUI_SUPPORT_H

namespace vov::test {

// Creates the one QApplication of the test program (offscreen) and puts the
// dialog seam into scripted mode, so no test waits on a real dialog.
void ensureGuiApp();

// Runs pending events.
void processEvents();

}  // namespace vov::test

#endif
