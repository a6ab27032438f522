// The main window: opening the old and the new database (a file or a
// PostgreSQL server), browsing their tables, fields and rows, and opening
// the mapping window. The old database fills the upper band, the new one
// the lower band, with a splitter between them.
#ifndef VOVARIZE_UI_MAIN_WINDOW_FORM1_H
#define VOVARIZE_UI_MAIN_WINDOW_FORM1_H

#include <QWidget>

#include <string>
#include <vector>

#include "ui/platform/platform.h"

class QGroupBox;
class QPushButton;

namespace vov {
class Connection;
class DataSet;
}  // namespace vov

namespace vov::ui {

class ListBox;
class TDBGridEh;
class TSplitter;

class TForm1 : public QWidget {
  Q_OBJECT

 public:
  explicit TForm1(QWidget* parent = nullptr);

  // The old band, its splitter and the new band.
  QGroupBox* GroupBox2;
  TSplitter* Splitter1;
  QGroupBox* GroupBox1;

  // Old band.
  QPushButton* Button1;  // 打开老数据库
  QPushButton* Button6;  // 连接服务器 (old)
  ListBox* ListBox1;     // old table names
  ListBox* ListBox3;     // fields of the clicked old table
  TDBGridEh* DBGridEh1;  // rows of the clicked old table

  // New band.
  QPushButton* Button2;  // 打开新数据库
  QPushButton* Button7;  // 连接服务器 (new)
  QPushButton* Button4;  // 设置对应关系和迁移
  QPushButton* Button3;  // 使用说明
  QPushButton* Button5;  // 版权
  ListBox* ListBox2;     // new table names
  ListBox* ListBox4;     // fields of the clicked new table
  TDBGridEh* DBGridEh2;  // rows of the clicked new table

  FileDialog OpenDialog1{FileDialog::Kind::Open};

  bool oldOpened = false;
  bool newOpened = false;

  // Where the usage file is looked for: this folder (the build tree, or a
  // program copied whole), then ../share/vovarize (installed). The
  // program's own folder unless a test says otherwise.
  std::string programFolder;
  std::vector<std::string> usageFileCandidates() const;

  void FormShow();
  void Button1Click();
  void Button2Click();
  void Button6Click();
  void Button7Click();
  void ListBox1Click();
  void ListBox2Click();
  void Button3Click();
  void Button4Click();
  void Button5Click();

 protected:
  void showEvent(QShowEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // What the old and the new band each have: the twin handlers differ
  // only in these.
  struct Band {
    QGroupBox* box;
    const char* title;
    ListBox* tables;
    ListBox* fields;
    TDBGridEh* grid;
    Connection* connection;
    DataSet* preview;
    bool* opened;
  };
  Band band(bool old);
  void bindGrids();

  void openFile(bool old);
  void connectServer(bool old);
  void openDatabase(const Band& b, const std::string& source, const std::string& shown);
  void showTable(const Band& b);
  void layoutBands();

  int oldBandHeight_ = 193;
};

extern TForm1* Form1;

}  // namespace vov::ui

#endif
