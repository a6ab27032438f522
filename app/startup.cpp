// Start-up order, the message loop and the exit code.
#include "app/startup.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPixmap>
#include <QTranslator>

#include "app/error_display.h"
#include "data/data_module.h"
#include "ui/main_window/form1.h"
#include "ui/mapping_window/form3.h"
#include "ui/platform/dispatch.h"
#include "ui/platform/program_icon.h"

namespace vov {

namespace {

// Errors that escape an event handler not wrapped by runGuarded still reach
// the application-wide handler instead of ending the program.
class VovarizeApplication : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (...) {
      ui::handleEscapedException(std::current_exception());
      return false;
    }
  }
};

// Ends the message loop when the main window closes, even while the
// mapping window is still on screen.
class MainWindowCloseFilter : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == ui::Form1 && event->type() == QEvent::Close) QApplication::quit();
    return false;
  }
};

}  // namespace

QString installQtTranslation(const QString& programFolder) {
  // On the Chinese desktop the program was made for, message boxes and file
  // dialogs read in Chinese (确定, 取消, 打开); here Qt draws them itself.
  QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
  static QTranslator* loaded = nullptr;
  if (loaded) {
    QCoreApplication::removeTranslator(loaded);
    delete loaded;
    loaded = nullptr;
  }
  const QString program =
      programFolder.isEmpty() ? QCoreApplication::applicationDirPath() : programFolder;
  const QString folders[] = {
      QDir::cleanPath(program + QStringLiteral("/../share/vovarize/translations")),
      QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
  for (const QString& folder : folders) {
    auto* t = new QTranslator(qApp);
    if (t->load(QStringLiteral("qtbase_zh_CN"), folder)) {
      QCoreApplication::installTranslator(t);
      loaded = t;
      return folder;
    }
    delete t;
  }
  return QString();
}

void createMainObjects(std::vector<std::string>* trace) {
  ui::Form1 = new ui::TForm1();
  ui::Form1->winId();  // its native window exists from the start
  if (trace) trace->push_back("Form1");
  DataModule2 = new TDataModule2();
  if (trace) trace->push_back("DataModule2");
  ui::Form3 = new ui::TForm3();
  if (trace) trace->push_back("Form3");
}

void destroyMainObjects() {
  delete ui::Form3;
  ui::Form3 = nullptr;
  delete ui::Form1;
  ui::Form1 = nullptr;
  delete DataModule2;
  DataModule2 = nullptr;
}

int runApplication(int argc, char** argv) {
  VovarizeApplication app(argc, argv);
  QApplication::setApplicationName(kApplicationTitle);
  QApplication::setQuitOnLastWindowClosed(false);
  installQtTranslation();
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256})
    icon.addPixmap(QPixmap::fromImage(ui::drawProgramIcon(size)));
  QApplication::setWindowIcon(icon);
  try {
    createMainObjects();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, kApplicationTitle,
                          QString::fromUtf8("程序启动失败：") + QString::fromStdString(e.what()));
    destroyMainObjects();
    return 1;
  }
  MainWindowCloseFilter filter;
  ui::Form1->installEventFilter(&filter);
  ui::Form1->show();
  int code = app.exec();
  ui::Form1->removeEventFilter(&filter);
  destroyMainObjects();
  return code;
}

}  // namespace vov
