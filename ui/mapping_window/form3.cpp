// The mapping window.
#include "ui/mapping_window/form3.h"

#include "app/error_display.h"
#include "ui/platform/dispatch.h"

namespace vov::ui {

TForm3* Form3 = nullptr;

TForm3::TForm3(QWidget* parent) : QWidget(parent) {
  setWindowTitle("对应并迁移");
  setGeometry(192, 107, 733, 487);
  setApplicationExceptionHandler(
      [this](const std::exception& e) { ApplicationEvents1Exception(nullptr, e); });
}

TForm3::~TForm3() { setApplicationExceptionHandler(nullptr); }

void TForm3::ApplicationEvents1Exception(QObject*, const std::exception& e) {
  showErrorBox(e);
}

}  // namespace vov::ui
