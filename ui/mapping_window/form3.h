// The mapping window: choosing table pairs, building the field
// correspondence and driving migration, export and the progress list. It
// also hosts the application-wide error hook.
//
// Its state lives in the items of its lists, as the user sees them: the
// mapped list is the field correspondence, the progress list the finished
// pairs. Every command reads the current pair from the two table lists at
// the moment it runs.
#ifndef VOVARIZE_UI_MAPPING_WINDOW_FORM3_H
#define VOVARIZE_UI_MAPPING_WINDOW_FORM3_H

#include <QWidget>

#include <exception>
#include <string>

#include "mapping/default_value.h"
#include "mapping/mapping_line.h"
#include "ui/platform/platform.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vov::ui {

class ListBox;
class TSplitter;

class TForm3 : public QWidget, private DefaultValueHost {
  Q_OBJECT

 public:
  explicit TForm3(QWidget* parent = nullptr);
  ~TForm3() override;

  QGroupBox* GroupBox1;  // 表
  QLabel* Label1;
  QLabel* Label2;
  ListBox* ListBox1;     // old tables still to do
  ListBox* ListBox2;     // new tables still to do
  TSplitter* Splitter1;
  QGroupBox* GroupBox2;  // 字段对应和过滤器
  ListBox* ListBox3;     // old fields still to map
  ListBox* ListBox4;     // new fields still to map
  QPushButton* Button1;  // >
  QPushButton* Button2;  // >>
  QPushButton* Button3;  // <
  QPushButton* Button4;  // <<
  ListBox* ListBox5;     // the mapped list
  QLabel* Label3;
  QLineEdit* Edit1;      // the filter
  QPushButton* Button5;  // 迁移当前表数据
  ListBox* ListBox6;     // the progress list
  QPushButton* Button6;  // =>>
  QCheckBox* CheckBox1;  // 不显示自增字段
  QPushButton* Button7;  // 字符默认值
  QPushButton* Button8;  // 数字默认值
  QPushButton* Button9;  // 保存列表
  QPushButton* Button10; // 载入列表
  FileDialog OpenDialog1{FileDialog::Kind::Open};
  FileDialog SaveDialog1{FileDialog::Kind::Save};
  QPushButton* Button11; // 导出当前旧表到文本文件
  QPushButton* Button12; // 跳过所选
  QPushButton* Button13; // 重做
  QLabel* Label4;        // progress

  void FormShow();
  void ListBox1Click();
  void ListBox2Click();
  void CheckBox1Click();
  void Button1Click();   // map the selected fields
  void Button2Click();   // map all fields of equal name
  void Button6Click();   // map all fields by position
  void Button3Click();   // undo the selected line
  void Button4Click();   // undo all lines
  void Button7Click();   // character default
  void Button8Click();   // numeric default
  void Button9Click();   // save the mapped list
  void Button10Click();  // load the mapped list
  void Button5Click();   // migrate the current pair
  void Button12Click();  // skip the current pair
  void Button13Click();  // put a finished pair back
  void Button11Click();  // export the old table

  // The application-wide error handler (every window's errors end here).
  void ApplicationEvents1Exception(QObject* sender, const std::exception& e);

 protected:
  void showEvent(QShowEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  enum class Side { Old, New };
  void HideAutoIncFields(Side side);
  void UpdateMappedExtent();
  void fillFieldList(Side side);
  void undoLine(const std::string& line);
  void warn(const std::string& text);
  void layoutBands();
  void fitProgressLabel();

  // DefaultValueHost
  bool hasSelectedNewField() override;
  std::string selectedNewTable() override;
  std::string selectedNewField() override;
  void appendMappedLine(const std::string& line) override;
  void deleteSelectedNewField() override;
  std::string inputBox(const std::string& caption, const std::string& prompt) override;
  void messageBox(const std::string& text, const std::string& caption, unsigned flags) override;

  NameColumnWidth nameColumnWidth_;
  int tableBandHeight_ = 185;
};

extern TForm3* Form3;

}  // namespace vov::ui

#endif
