#include "tests/support/gui_support.h"

#include <QApplication>

#include <cstdlib>

#include "ui/platform/platform.h"

namespace vov::test {

void ensureGuiApp() {
  if (!qApp) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char arg0[] = "vovarize-test";
    static char* argv[] = {arg0, nullptr};
    new QApplication(argc, argv);
    QApplication::setApplicationName("Vovarize");
    QApplication::setQuitOnLastWindowClosed(false);
  }
  ui::DialogSeam::script();
}

void processEvents() { QApplication::processEvents(); }

}  // namespace vov::test
