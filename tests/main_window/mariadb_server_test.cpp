// The main window on the throwaway MariaDB server: databases opened with
// "连接服务器" on both sides, captions without the password, rows changed,
// appended and refused in the grid and read back from the server, and a
// table without a key only shown.
#include <QGroupBox>
#include <QPushButton>
#include <QTest>

#include "data/connection_string.h"
#include "ui/data_grid/db_grid_eh.h"
#include "ui/platform/list_box.h"
#include "tests/main_window/main_window_fixture.h"
#include "tests/support/gui_support.h"
#include "tests/support/mariadb_test_server.h"

using namespace vov;
using ui::DialogSeam;

namespace {

using Rows = std::vector<std::vector<std::string>>;

class MariaWindow : public test::MainWindowTest {};

}  // namespace

TEST_F(MariaWindow, ServerTablesAreBrowsedAndEditedInTheGrid) {
  test::MariaDatabase my;
  my.exec(
      "CREATE TABLE 客户(编号 INT AUTO_INCREMENT PRIMARY KEY, 名称 VARCHAR(30) NOT NULL,"
      "  余额 DECIMAL(10,2) CHECK (余额 >= 0));"
      "INSERT INTO 客户(名称, 余额) VALUES('永盛', 10.50), ('远航', 0);"
      "CREATE TABLE nokey(a INT); INSERT INTO nokey VALUES(1);");
  const std::string password = test::mariaPassword(my.address());
  ASSERT_FALSE(password.empty());

  // Either band takes the address; the caption hides the password.
  DialogSeam::answerInput(my.address());
  form->Button6->click();
  ASSERT_TRUE(boxes().empty()) << boxes()[0].second;
  EXPECT_EQ(form->GroupBox2->title().toStdString(), "老数据库 " + withoutPassword(my.address()));
  EXPECT_TRUE(form->oldOpened);
  DialogSeam::answerInput(my.address());
  form->Button7->click();
  ASSERT_TRUE(boxes().empty()) << boxes()[0].second;
  const std::string caption = form->GroupBox1->title().toStdString();
  EXPECT_EQ(caption, "新数据库 " + withoutPassword(my.address()));
  EXPECT_EQ(caption.find(password), std::string::npos);
  EXPECT_NE(caption.find("vov:***@"), std::string::npos);
  std::vector<std::string> tables = form->ListBox2->items();
  std::sort(tables.begin(), tables.end());
  EXPECT_EQ(tables, (std::vector<std::string>{"nokey", "客户"}));
  EXPECT_TRUE(form->Button4->isEnabled());

  pickNew("客户");
  ui::TDBGridEh* grid = form->DBGridEh2;
  ui::GridModel* model = grid->gridModel();
  ASSERT_EQ(model->rowCount(), 2);
  EXPECT_EQ(model->index(0, 2).data().toString(), "10.50");

  // A change, a refused change that keeps its text, and an append.
  grid->setCurrentIndex(model->index(0, 1));
  ASSERT_TRUE(model->setData(model->index(0, 1), QStringLiteral("永盛贸易😀"), Qt::EditRole));
  grid->setCurrentIndex(model->index(1, 1));
  EXPECT_TRUE(boxes().empty());
  ASSERT_TRUE(model->setData(model->index(1, 2), QStringLiteral("-1"), Qt::EditRole));
  grid->setCurrentIndex(model->index(0, 1));
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_NE(boxes()[0].second.find("CONSTRAINT"), std::string::npos) << boxes()[0].second;
  EXPECT_EQ(boxes()[0].second.find(password), std::string::npos);
  EXPECT_EQ(model->index(1, 2).data().toString(), "-1");
  test::processEvents();
  QTest::keyClick(grid, Qt::Key_Escape);
  QTest::keyClick(grid, Qt::Key_Insert);
  ASSERT_EQ(model->rowCount(), 3);
  ASSERT_TRUE(model->setData(model->index(2, 1), QStringLiteral("金桥"), Qt::EditRole));
  ASSERT_TRUE(model->setData(model->index(2, 2), QStringLiteral("3.25"), Qt::EditRole));
  grid->setCurrentIndex(model->index(0, 1));
  EXPECT_EQ(boxes().size(), 1u);
  EXPECT_EQ(my.rows("SELECT 编号, 名称, 余额 FROM 客户 ORDER BY 编号"),
            (Rows{{"1", "永盛贸易😀", "10.50"}, {"2", "远航", "0.00"}, {"3", "金桥", "3.25"}}));
  // The grid reads back what the server holds.
  pickNew("客户");
  ASSERT_EQ(model->rowCount(), 3);
  EXPECT_EQ(model->index(0, 1).data().toString(), QStringLiteral("永盛贸易😀"));
  EXPECT_EQ(model->index(2, 0).data().toString(), "3");

  // A table without a primary key is only shown.
  pickNew("nokey");
  grid->setCurrentIndex(model->index(0, 0));
  DialogSeam::clear();
  QTest::keyClick(grid, 'x');
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_NE(boxes()[0].second.find("没有主键"), std::string::npos);
  EXPECT_EQ(my.rows("SELECT a FROM nokey"), (Rows{{"1"}}));
}

TEST_F(MariaWindow, AWrongPasswordIsShownWithoutIt) {
  test::MariaDatabase my;
  std::string address = my.address();
  const std::string password = test::mariaPassword(address);
  address.replace(address.find(password), password.size(), "Wr0ngSecret");
  DialogSeam::answerInput(address);
  form->Button7->click();
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_NE(boxes()[0].second.find("Access denied"), std::string::npos) << boxes()[0].second;
  EXPECT_EQ(boxes()[0].second.find("Wr0ngSecret"), std::string::npos);
  EXPECT_EQ(form->GroupBox1->title().toStdString().find("Wr0ngSecret"), std::string::npos);
  EXPECT_FALSE(form->newOpened);
}
