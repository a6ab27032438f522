// The mapping window: choosing table pairs, building the field
// correspondence and driving migration, export and the progress list. It
// also hosts the application-wide error hook.
#ifndef VOVARIZE_UI_MAPPING_WINDOW_FORM3_H
#define VOVARIZE_UI_MAPPING_WINDOW_FORM3_H

#include <QWidget>

#include <exception>

namespace vov::ui {

class TForm3 : public QWidget {
  Q_OBJECT

 public:
  explicit TForm3(QWidget* parent = nullptr);
  ~TForm3() override;

  // The application-wide error handler (every window's errors end here).
  void ApplicationEvents1Exception(QObject* sender, const std::exception& e);
};

extern TForm3* Form3;

}  // namespace vov::ui

#endif
