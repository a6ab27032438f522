// The main window: opening the old and the new database, browsing their
// tables, fields and rows, and opening the mapping window.
#ifndef VOVARIZE_UI_MAIN_WINDOW_FORM1_H
#define VOVARIZE_UI_MAIN_WINDOW_FORM1_H

#include <QWidget>

namespace vov::ui {

class TForm1 : public QWidget {
  Q_OBJECT

 public:
  explicit TForm1(QWidget* parent = nullptr);

  bool oldOpened = false;
  bool newOpened = false;

  void FormShow();

 protected:
  void showEvent(QShowEvent* e) override;
};

extern TForm1* Form1;

}  // namespace vov::ui

#endif
