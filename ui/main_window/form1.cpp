// The main window.
#include "ui/main_window/form1.h"

#include "ui/platform/dispatch.h"

namespace vov::ui {

TForm1* Form1 = nullptr;

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
  setWindowTitle("Vovarize vovarize@example.org");
  setGeometry(182, 99, 688, 524);
}

void TForm1::FormShow() { setWindowState(windowState() | Qt::WindowMaximized); }

void TForm1::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  runGuarded([this] { FormShow(); });
}

}  // namespace vov::ui
