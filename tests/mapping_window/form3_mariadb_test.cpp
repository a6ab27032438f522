// The mapping window into a MariaDB table whose engine cannot roll back:
// the user is told before anything is written and may stop there, and an
// error names what stays.
#include <QPushButton>

#include "tests/mapping_window/mapping_window_fixture.h"
#include "tests/support/gui_support.h"
#include "tests/support/mariadb_test_server.h"
#include "tests/support/test_support.h"

using namespace vov;
using ui::DialogSeam;
using Rows = std::vector<std::vector<std::string>>;

namespace {

class MappingWindowMariaDb : public test::MappingWindowTest {
 protected:
  void SetUp() override {
    MappingWindowTest::SetUp();
    const std::string old = dir.file("old.db");
    test::makeSqlite(old,
                     "create table goods(id integer, name text);"
                     "insert into goods values(1, '苹果'), (2, '梨'), ('abc', '桃');");
    my.exec("CREATE TABLE plain(id INT, name VARCHAR(8) NOT NULL) ENGINE=MyISAM;"
            "CREATE TABLE safe(id INT, name VARCHAR(8) NOT NULL) ENGINE=InnoDB");
    DialogSeam::answerFile(old);
    f1->Button1->click();
    DialogSeam::answerInput(my.address());
    f1->Button7->click();
    f1->Button4->click();
    test::processEvents();
    expectNoBox();
  }

  void pickAndMap(const std::string& table) {
    pickOld("goods");
    pickNew(table);
    f3->Button2->click();  // fields of equal names
    ASSERT_EQ(f3->ListBox5->count(), 2);
    DialogSeam::clear();
  }

  test::MariaDatabase my;
};

}  // namespace

TEST_F(MappingWindowMariaDb, ATableWithoutTransactionsIsAnnouncedAndMayBeLeftAlone) {
  pickAndMap("plain");
  DialogSeam::answerMessageBox(ui::IDCANCEL);
  f3->Button5->click();
  auto shown = boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].caption, "注意");
  EXPECT_EQ(shown[0].flags, ui::MB_OKCANCEL | ui::MB_ICONWARNING);
  EXPECT_NE(shown[0].text.find("新表“plain”的存储引擎 MyISAM 不支持事务"), std::string::npos)
      << shown[0].text;
  EXPECT_EQ(my.rows("SELECT COUNT(*) FROM plain"), (Rows{{"0"}}));
  EXPECT_EQ(f3->ListBox5->count(), 2);  // nothing happened
  EXPECT_EQ(f3->ListBox6->count(), 0);

  // Going on: the rows before the failing one stay, and the error says so.
  DialogSeam::clear();
  DialogSeam::answerMessageBox(ui::IDOK);
  f3->Button5->click();
  shown = boxes();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[1].caption, "Vovarize");
  EXPECT_NE(shown[1].text.find("Incorrect integer value: 'abc'"), std::string::npos) << shown[1].text;
  EXPECT_NE(shown[1].text.find("已写入新表的行会留在表中"), std::string::npos) << shown[1].text;
  EXPECT_EQ(my.rows("SELECT id, name FROM plain ORDER BY id"), (Rows{{"1", "苹果"}, {"2", "梨"}}));
}

TEST_F(MappingWindowMariaDb, ATransactionalTableIsNotAnnounced) {
  pickAndMap("safe");
  f3->Button5->click();
  const auto shown = boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].caption, "Vovarize");
  EXPECT_EQ(shown[0].text.find("不支持事务"), std::string::npos) << shown[0].text;
  EXPECT_EQ(my.rows("SELECT COUNT(*) FROM safe"), (Rows{{"2"}}));
}
