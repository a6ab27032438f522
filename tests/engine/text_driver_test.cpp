// The export statement and the CSV the text driver writes.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "data/connection_string.h"
#include "data/engine.h"
#include "data/error.h"
#include "data/text_driver.h"
#include "tests/support/test_support.h"

using namespace vov;

TEST(TextDriver, RecognisesTheStatement) {
  TextExport e;
  ASSERT_TRUE(parseTextExport("Select * Into [Text;Database=/tmp/x/].a b.TXT From orders", &e));
  EXPECT_EQ(e.folder, "/tmp/x/");
  EXPECT_EQ(e.file, "a b.TXT");
  EXPECT_EQ(e.table, "orders");
  ASSERT_TRUE(parseTextExport("Select * Into [Text;Database=C:\\].r.TXT From \"Order Details\"", &e));
  EXPECT_EQ(e.folder, "C:\\");
  EXPECT_EQ(e.file, "r.TXT");
  EXPECT_EQ(e.table, "\"Order Details\"");
  // A file name holding " From " still splits at the table name.
  ASSERT_TRUE(parseTextExport("Select * Into [Text;Database=/d/].x From y.TXT From [t]", &e));
  EXPECT_EQ(e.file, "x From y.TXT");
  EXPECT_EQ(e.table, "[t]");
  EXPECT_FALSE(parseTextExport("select * from t", &e));
}

// The folder ends at the "]." after its last separator: file names and
// folders may both hold "]." and brackets.
TEST(TextDriver, FileNamesHoldingBracketsSplitAfterTheFolder) {
  TextExport e;
  ASSERT_TRUE(parseTextExport("Select * Into [Text;Database=/tmp/x/].a].b.TXT From t", &e));
  EXPECT_EQ(e.folder, "/tmp/x/");
  EXPECT_EQ(e.file, "a].b.TXT");
  ASSERT_TRUE(parseTextExport("Select * Into [Text;Database=/d/p].q [r]/].[x] 订单 ].TXT From t", &e));
  EXPECT_EQ(e.folder, "/d/p].q [r]/");
  EXPECT_EQ(e.file, "[x] 订单 ].TXT");
  ASSERT_TRUE(parseTextExport("Select * Into [Text;Database=].a].b.TXT From t", &e));
  EXPECT_EQ(e.folder, "");
  EXPECT_EQ(e.file, "a].b.TXT");
}

TEST(TextDriver, WritesCsvOfEveryStorageClass) {
  test::TempDir dir;
  std::string db = dir.file("a.db");
  test::makeSqlite(db,
                   "create table \"t x\"(id integer primary key, name varchar(10), r real, "
                   "b blob, d datetime);"
                   "insert into \"t x\" values(1, 'say \"hi\"', 1.5, x'00ff', '2020-01-02 03:04:05');"
                   "insert into \"t x\" values(2, null, null, null, null);"
                   "insert into \"t x\" values(3, '中文,逗号', -2, x'', '');");
  Connection c("c");
  c.setConnectionString(buildConnectionString(db));
  c.execute("Select * Into [Text;Database=" + dir.path() + "/].out.TXT From \"t x\"");
  EXPECT_EQ(test::readFile(dir.file("out.TXT")),
            "\"id\",\"name\",\"r\",\"b\",\"d\"\r\n"
            "1,\"say \"\"hi\"\"\",1.5,\"00FF\",\"2020-01-02 03:04:05\"\r\n"
            "2,,,,\r\n"
            "3,\"中文,逗号\",-2,\"\",\"\"\r\n");
  struct stat st;
  ASSERT_EQ(stat(dir.file("out.TXT").c_str(), &st), 0);
  EXPECT_NE(st.st_mode & 0044, 0u) << "the file gets the usual permissions";
}

TEST(TextDriver, FailureLeavesNoFile) {
  test::TempDir dir;
  std::string db = dir.file("a.db");
  test::makeSqlite(db, "create table t(a);");
  Connection c("c");
  c.setConnectionString(buildConnectionString(db));
  EXPECT_THROW(c.execute("Select * Into [Text;Database=" + dir.path() + "/nope/].x.TXT From t"), Error);
  test::writeFile(dir.file("keep.TXT"), "old content");
  EXPECT_THROW(c.execute("Select * Into [Text;Database=" + dir.path() + "/].keep.TXT From missing"),
               Error);
  EXPECT_EQ(test::readFile(dir.file("keep.TXT")), "old content");
}
