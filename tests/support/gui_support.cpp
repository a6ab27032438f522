#include "tests/support/gui_support.h"

#include <QApplication>
#include <QMouseEvent>

#include <cstdlib>

#include "app/startup.h"
#include "ui/platform/list_box.h"
#include "ui/platform/platform.h"
#include "ui/platform/splitter.h"

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
    installQtTranslation();
  }
  ui::DialogSeam::script();
}

void processEvents() { QApplication::processEvents(); }

void pickByName(ui::ListBox* list, const std::string& name) {
  const int i = list->indexOf(name);
  ASSERT_GE(i, 0) << name << " is not listed";
  list->pick(i);
}

bool dragSplitter(ui::TSplitter* s, QWidget* band, int dy) {
  const QPoint at(20, 3), global = s->mapToGlobal(at), by(0, dy);
  const int before = band->height();
  QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(s, &press);
  QMouseEvent move(QEvent::MouseMove, at + by, global + by, Qt::NoButton, Qt::LeftButton,
                   Qt::NoModifier);
  QApplication::sendEvent(s, &move);
  const bool held = s->dragging() && band->height() == before;
  QMouseEvent release(QEvent::MouseButtonRelease, at + by, global + by, Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(s, &release);
  processEvents();
  return held && !s->dragging();
}

void ProgramTest::SetUp() {
  ensureGuiApp();
  ui::DialogSeam::clear();
  createMainObjects();
}

void ProgramTest::TearDown() {
  destroyMainObjects();
  ui::setScreenCursor(ui::crDefault);
  ui::DialogSeam::clear();
  ui::DialogSeam::setTickSource(nullptr);
  ui::DialogSeam::setObserver(nullptr);
}

}  // namespace vov::test
