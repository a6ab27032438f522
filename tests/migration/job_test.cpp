// Whole migrations with vovarize-batch: several table pairs of one list,
// rows set aside into the reject file and loaded again after fixing, dry
// runs, the modes and the report, between real SQLite and Access files.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "data/error.h"
#include "mapping/mapping_line.h"
#include "migration/job.h"
#include "tests/access_write/write_support.h"
#include "tests/support/test_support.h"

using namespace vov;

namespace {

using Rows = std::vector<std::vector<std::string>>;

// A CSV file as the export and the reject file write it: fields quoted or
// bare, quotes doubled, CR LF; a bare empty field is null.
Rows readCsv(const std::string& text) {
  Rows rows;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false, wasQuoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = wasQuoted = true;
    } else if (c == ',' || c == '\r') {
      row.push_back(field.empty() && !wasQuoted ? "<null>" : field);
      field.clear();
      wasQuoted = false;
      if (c == '\r') {
        rows.push_back(row);
        row.clear();
        ++i;  // the LF
      }
    } else {
      field += c;
    }
  }
  return rows;
}

class Job : public ::testing::Test {
 protected:
  void SetUp() override {
    oldDb = dir.file("老库.db");
    newDb = dir.file("new.db");
    mapFile = dir.file("全部.TXT");
    test::makeSqlite(oldDb,
                     "create table 客户(编号 integer primary key, 名称 varchar(20), 城市 varchar(10));"
                     "insert into 客户 values(1, null, '上海'), (2, '乙公司', '北京'),"
                     " (3, null, '广州'), (4, '丁公司', null), (5, null, '深圳');"
                     "create table 订单(号 varchar(5), 客 integer, 额 real);"
                     "insert into 订单 values('10', 1, 1.5), ('11', 2, 2.5), ('12', 2, 3.5),"
                     " ('13', 4, 4.5);"
                     "create table 产品(码 varchar(6), 名 varchar(20), 价 varchar(10));"
                     "insert into 产品 values('A1', '笔', '2'), ('A2', '纸', 'abc'), ('A3', '墨', '5');");
    test::makeSqlite(newDb,
                     "create table 顾客(编号 integer primary key, 姓名 varchar(10) not null, 城市 varchar(10),"
                     " 来源 varchar(10));"
                     "create table 单(号 integer primary key, 客 integer, 额 real);"
                     "create table 货(码 text primary key, 名 text, 价 real) strict;");
    // The pairs as a user gets them by saving each pair's list into one
    // file: the second pair's default line comes before its field lines.
    test::writeFile(mapFile,
                    "客户->编号 >> 顾客->编号\r\n"
                    "客户->名称 >> 顾客->姓名\r\n"
                    "客户->城市 >> 顾客->城市\r\n"
                    " 老系统 >> 顾客->来源\r\n"
                    "订单->号   >> 单->号\r\n"
                    "订单->客   >> 单->客\r\n"
                    "订单->额   >> 单->额\r\n"
                    "产品->码 >> 货->码\r\n"
                    "产品->名 >> 货->名\r\n"
                    "产品->价 >> 货->价\r\n");
  }

  test::CommandResult job(std::vector<std::string> extra) {
    std::vector<std::string> args{"--old", oldDb, "--new", newDb, "--map", mapFile};
    args.insert(args.end(), extra.begin(), extra.end());
    return test::runBatch(args);
  }

  Rows newRows(const std::string& sql) { return test::sqliteRows(newDb, sql); }

  void emptyNewTables() { test::makeSqlite(newDb, "delete from 顾客; delete from 单; delete from 货;"); }

  test::TempDir dir;
  std::string oldDb, newDb, mapFile;
  std::string rejectFile() const { return mapFile + ".rejects.csv"; }
};

}  // namespace

TEST(TablePairs, LinesGoWithTheirPairInTheOrderPairsFirstAppear) {
  std::vector<std::string> lines{" 甲 >> B->x", "A->a >> B->a", "C->c >> D->c", "A->b >> B->b",
                                 " 乙 >> D->y", "no arrows here", " 丙 >> B->z"};
  std::vector<TablePair> pairs = tablePairs(lines);
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairName(pairs[0]), "A => B");
  EXPECT_EQ(pairs[0].lines,
            (std::vector<std::string>{" 甲 >> B->x", "A->a >> B->a", "A->b >> B->b", " 丙 >> B->z"}));
  EXPECT_EQ(pairName(pairs[1]), "C => D");
  EXPECT_EQ(pairs[1].lines, (std::vector<std::string>{"C->c >> D->c", " 乙 >> D->y", "no arrows here"}));

  // The same new table from two old tables: a default line goes with the
  // pair just before it.
  pairs = tablePairs({"A->a >> B->a", " 甲 >> B->x", "C->a >> B->a", " 乙 >> B->x"});
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairs[0].lines, (std::vector<std::string>{"A->a >> B->a", " 甲 >> B->x"}));
  EXPECT_EQ(pairs[1].lines, (std::vector<std::string>{"C->a >> B->a", " 乙 >> B->x"}));

  // One pair (or none) keeps every line, as the window saved them.
  pairs = tablePairs({"x >> Q->x", "A->a >> B->a", "y >> Z->y"});
  ASSERT_EQ(pairs.size(), 1u);
  EXPECT_EQ(pairs[0].lines.size(), 3u);
  EXPECT_EQ(pairName(pairs[0]), "A => B");
  pairs = tablePairs({" 甲 >> B->x"});
  EXPECT_EQ(pairs[0].oldTable, "");
  EXPECT_EQ(pairs[0].newTable, "B");

  // Blank lines, as between the pairs of a list written by hand, belong to
  // no pair.
  pairs = tablePairs({"A->a >> B->a", "", " \t", "C->c >> D->c", "  "});
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairs[0].lines, (std::vector<std::string>{"A->a >> B->a"}));
  EXPECT_EQ(pairs[1].lines, (std::vector<std::string>{"C->c >> D->c"}));
  EXPECT_EQ(tablePairs({"A->a >> B->a", ""})[0].lines, (std::vector<std::string>{"A->a >> B->a"}));

  try {
    tablePairs({"A->a >> B->a", "C->c >> D->c", " 甲 >> E->x"});
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(),
                 "映射列表文件中的默认值行“ 甲 >> E->x”所写的新表“E”没有字段对应行，无法确定它属于哪一对表");
  }
}

TEST_F(Job, ThreePairsRunInTheirOrderAndTheReportCountsWhatArrived) {
  test::makeSqlite(oldDb, "update 客户 set 名称 = '某公司' where 名称 is null;"
                          "update 产品 set 价 = '3' where 码 = 'A2';");
  test::CommandResult r = job({"--all-pairs", "--report", dir.file("报告.json")});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  std::regex order("^\\[1/3\\] 客户 => 顾客\n(.|\n)*\\[2/3\\] 订单 => 单\n(.|\n)*\\[3/3\\] 产品 => 货\n");
  EXPECT_TRUE(std::regex_search(r.out, order)) << r.out;
  EXPECT_EQ(newRows("select count(*), count(来源) from 顾客"), (Rows{{"5", "5"}}));
  EXPECT_EQ(newRows("select 号, 客, 额 from 单 order by 号"),
            (Rows{{"10", "1", "1.5"}, {"11", "2", "2.5"}, {"12", "2", "3.5"}, {"13", "4", "4.5"}}));
  EXPECT_EQ(newRows("select 码, 价 from 货 order by 码"), (Rows{{"A1", "2"}, {"A2", "3"}, {"A3", "5"}}));
  // The table lines up Chinese names; the totals add up.
  EXPECT_NE(r.out.find("\n老表  新表  读取  插入  更新  拒绝  截断  毫秒  结果\n"
                       "客户  顾客     5     5     0     0     0"),
            std::string::npos)
      << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex("\n合计 +12 +12 +0 +0 +0 +[0-9]+\n$"))) << r.out;
  const std::string json = test::readFile(dir.file("报告.json"));
  EXPECT_NE(json.find("{\"old_table\": \"订单\", \"new_table\": \"单\", \"status\": \"done\", \"read\": 4, "
                      "\"inserted\": 4, \"updated\": 0, \"written\": 4, \"rejected\": 0, \"cut\": 0, "),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"exit_code\": 0"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(rejectFile())) << "stop mode writes no reject file";
}

TEST_F(Job, AFailingPairStopsTheJobUnlessItIsToKeepGoing) {
  // The second pair fails at its third row; the third pair is good.
  test::makeSqlite(oldDb, "update 客户 set 名称 = '某公司' where 名称 is null;"
                          "update 产品 set 价 = '3' where 码 = 'A2';");
  test::makeSqlite(newDb, "insert into 单 values(12, 0, 0);");
  test::CommandResult r = job({"--all-pairs", "--report", dir.file("报告.json")});
  const std::string unique = "向新数据库“" + newDb + "”写入第 3 行（号 = 12）时出错：UNIQUE constraint failed: 单.号";
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, unique + ".\n");
  EXPECT_EQ(newRows("select group_concat(号) from (select 号 from 单 order by 号)"), (Rows{{"10,11,12"}}));
  EXPECT_EQ(newRows("select count(*) from 货"), (Rows{{"0"}}));
  EXPECT_EQ(r.out.find("[3/3]"), std::string::npos) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex("\n订单 +单 +3 +2 +0 +0 +0 +[0-9]+  失败\n"
                                                  "产品 +货 +未运行\n")))
      << r.out;
  std::string json = test::readFile(dir.file("报告.json"));
  EXPECT_NE(json.find("\"status\": \"failed\", \"read\": 3, \"inserted\": 2,"), std::string::npos) << json;
  EXPECT_NE(json.find("\"error\": \"" + unique + "\"}"), std::string::npos) << json;
  EXPECT_NE(json.find("\"status\": \"not_run\""), std::string::npos) << json;

  test::makeSqlite(newDb, "delete from 顾客; delete from 单 where 号 <> 12;");
  r = job({"--all-pairs", "--keep-going", "--report", dir.file("报告.json")});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, unique + ".\n");
  EXPECT_EQ(newRows("select count(*) from 顾客"), (Rows{{"5"}}));
  EXPECT_EQ(newRows("select count(*) from 单"), (Rows{{"3"}}));
  EXPECT_EQ(newRows("select count(*) from 货"), (Rows{{"3"}}));
  json = test::readFile(dir.file("报告.json"));
  EXPECT_EQ(json.find("not_run"), std::string::npos) << json;
  EXPECT_NE(json.find("\"exit_code\": 1"), std::string::npos) << json;
}

TEST_F(Job, SkipSetsAsideTheFirstMiddleAndLastRowsAndTheFixedRowsLoadLater) {
  test::writeFile(mapFile, "客户->编号 >> 顾客->编号\r\n客户->名称 >> 顾客->姓名\r\n客户->城市 >> 顾客->城市\r\n");
  // A reject file of an earlier run is replaced.
  test::writeFile(rejectFile(), "old rejects\r\n");
  test::CommandResult r = job({"--on-error", "skip"});
  EXPECT_EQ(r.code, 3) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("被拒绝的行写在“" + rejectFile() + "”中\n"), std::string::npos) << r.out;
  EXPECT_EQ(newRows("select 编号, 姓名, 城市 from 顾客 order by 编号"),
            (Rows{{"2", "乙公司", "北京"}, {"4", "丁公司", "<null>"}}));
  const std::string notNull = "NOT NULL constraint failed: 顾客.姓名";
  EXPECT_EQ(test::readFile(rejectFile()),
            "\"对应表\",\"老表行号\",\"错误信息\",\"编号\",\"名称\",\"城市\"\r\n"
            "\"客户 => 顾客\",1,\"" + notNull + "\",1,,\"上海\"\r\n"
            "\"客户 => 顾客\",3,\"" + notNull + "\",3,,\"广州\"\r\n"
            "\"客户 => 顾客\",5,\"" + notNull + "\",5,,\"深圳\"\r\n");

  // The user fixes the rows and loads them as an old table of the same
  // name, with the same list.
  Rows rejected = readCsv(test::readFile(rejectFile()));
  ASSERT_EQ(rejected.size(), 4u);
  std::string sql = "create table 客户(编号 integer, 名称 varchar(20), 城市 varchar(10));";
  for (size_t i = 1; i < rejected.size(); ++i)
    sql += "insert into 客户 values(" + rejected[i][3] + ", '补" + rejected[i][1] + "', '" +
           rejected[i][5] + "');";
  const std::string fixed = dir.file("fixed.db");
  test::makeSqlite(fixed, sql);
  r = test::runBatch({"--old", fixed, "--new", newDb, "--map", mapFile, "--on-error", "skip"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(newRows("select count(*), count(姓名) from 顾客"), (Rows{{"5", "5"}}));
  EXPECT_FALSE(std::filesystem::exists(rejectFile())) << "nothing set aside: no reject file stays";
}

TEST_F(Job, ADryRunPredictsTheRealRunsRejectsAndWritesNothing) {
  test::makeSqlite(newDb, "insert into 单 values(99, 0, 0);");
  const std::string before = test::readFile(newDb);
  const std::string dryRejects = dir.file("预计.csv");
  test::CommandResult dry =
      job({"--all-pairs", "--dry-run", "--rejects", dryRejects, "--report", dir.file("dry.json")});
  EXPECT_EQ(dry.code, 3) << dry.err;
  EXPECT_EQ(test::readFile(newDb), before);
  EXPECT_NE(dry.out.find("试运行：没有写入任何行"), std::string::npos) << dry.out;

  test::CommandResult real = job({"--all-pairs", "--on-error", "skip", "--report", dir.file("real.json")});
  EXPECT_EQ(real.code, 3) << real.err;
  const std::string predicted = test::readFile(dryRejects);
  EXPECT_EQ(predicted, test::readFile(rejectFile()));
  Rows rows = readCsv(predicted);
  ASSERT_EQ(rows.size(), 6u) << predicted;  // two headers, three names, one price
  EXPECT_EQ(rows[5][0], "产品 => 货");
  EXPECT_EQ(rows[5][2], "cannot store TEXT value in REAL column 货.价");

  // The same counts, but for the time taken.
  auto counts = [](std::string json) {
    return std::regex_replace(std::regex_replace(json, std::regex("\"milliseconds\": [0-9]+"), ""),
                              std::regex("\"dry_run\": [a-z]+|\"on_error\": \"[a-z]+\"|\"rejects_file\": [^,]*"), "");
  };
  EXPECT_EQ(counts(test::readFile(dir.file("dry.json"))), counts(test::readFile(dir.file("real.json"))));
}

TEST_F(Job, UpdateAndUpsertByAKeyMappedFromText) {
  test::writeFile(mapFile, "订单->号 >> 单->号\r\n订单->额 >> 单->额\r\n");
  test::makeSqlite(newDb, "insert into 单 values(10, 7, 0), (12, 7, 0);");
  test::CommandResult r = job({"--mode", "update", "--on-error", "skip", "--report", dir.file("r.json")});
  EXPECT_EQ(r.code, 3) << r.err;
  EXPECT_EQ(newRows("select 号, 客, 额 from 单 order by 号"), (Rows{{"10", "7", "1.5"}, {"12", "7", "3.5"}}));
  EXPECT_EQ(readCsv(test::readFile(rejectFile())).size(), 3u) << "11 and 13 have no row to update";
  EXPECT_NE(test::readFile(rejectFile()).find("新表中没有主键与这一行相同的行，无法更新（号 = 11）"),
            std::string::npos);

  r = job({"--mode", "upsert", "--report", dir.file("r.json")});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(newRows("select 号, 客, 额 from 单 order by 号"),
            (Rows{{"10", "7", "1.5"}, {"11", "<null>", "2.5"}, {"12", "7", "3.5"}, {"13", "<null>", "4.5"}}));
  EXPECT_NE(test::readFile(dir.file("r.json")).find("\"inserted\": 2, \"updated\": 2, \"written\": 4"),
            std::string::npos);

  // Access cannot yet update rows in place: said before anything is read.
  const std::string access = test::copyTestData(dir, "access/nwind.mdb");
  test::writeFile(mapFile, "订单->号 >> Orders->OrderID\r\n");
  r = test::runBatch({"--old", oldDb, "--new", access, "--map", mapFile, "--mode", "update"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "新数据库不支持按主键更新（update），只能追加行（append）.\n");
}

TEST_F(Job, AccessRowsSetAsideIntoANotNullColumnAddUpWithTheOracle) {
  const std::string access = test::copyTestData(dir, "access/nwind.mdb");
  test::makeSqlite(newDb,
                   "create table 全部客户(id text, region text);"
                   "create table 有区客户(id text primary key, region text not null);");
  test::writeFile(mapFile,
                  "Customers->CustomerID >> 全部客户->id\r\nCustomers->Region >> 全部客户->region\r\n"
                  "Customers->CustomerID >> 有区客户->id\r\nCustomers->Region >> 有区客户->region\r\n");
  test::CommandResult r = test::runBatch({"--old", access, "--new", newDb, "--map", mapFile, "--all-pairs",
                                     "--on-error", "skip", "--report", dir.file("r.json")});
  EXPECT_EQ(r.code, 3) << r.err;
  const long total = std::stol(test::runCommand("mdb-count " + test::shellQuote(access) + " Customers"));
  const Rows all = newRows("select count(*), count(region) from 全部客户");
  EXPECT_EQ(std::stol(all[0][0]), total);
  const long withRegion = std::stol(all[0][1]);
  EXPECT_EQ(newRows("select count(*) from 有区客户"), (Rows{{std::to_string(withRegion)}}));
  Rows rejected = readCsv(test::readFile(rejectFile()));
  ASSERT_EQ(static_cast<long>(rejected.size()), 1 + total - withRegion);
  for (size_t i = 1; i < rejected.size(); ++i) {
    EXPECT_EQ(rejected[i][0], "Customers => 有区客户");
    EXPECT_EQ(newRows("select region from 全部客户 where id = '" + rejected[i][3] + "'"), (Rows{{"<null>"}}));
  }
}

TEST_F(Job, TheCommandLineRefusesWhatItCannotDo) {
  test::CommandResult r = job({});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err.rfind("映射列表文件“" + mapFile + "”中有 3 对表：客户 => 顾客、订单 => 单、产品 => 货。"
                        "要按顺序全部迁移，请加 --all-pairs\n", 0), 0u) << r.err;
  EXPECT_EQ(newRows("select count(*) from 顾客"), (Rows{{"0"}}));

  const std::vector<std::vector<std::string>> wrong{
      {"--keep-going"}, {"--all-pairs", "--old-table", "客户"}, {"--rejects", "x.csv"},
      {"--mode", "merge"}, {"--on-error", "ignore"}, {"--dry-run=yes"}, {"--report"},
      {"--all-pairs", "extra"}};
  for (const auto& extra : wrong) {
    r = job(extra);
    EXPECT_EQ(r.code, 2) << ::testing::PrintToString(extra);
    EXPECT_NE(r.err.find("用法："), std::string::npos) << r.err;
  }
  r = test::runBatch({"--old", oldDb, "--export", "客户", "--to", dir.file("x.csv"), "--dry-run"});
  EXPECT_EQ(r.code, 2);

  test::CommandResult help = test::runBatch({"--help"});
  EXPECT_EQ(help.code, 0);
  for (const char* option : {"--old", "--new", "--map", "--filter", "--old-table", "--new-table",
                             "--all-pairs", "--keep-going", "--on-error", "--rejects", "--mode",
                             "--dry-run", "--report", "--export", "--to"})
    EXPECT_TRUE(std::regex_search(help.out, std::regex("例：[^\n]*" + std::string(option) + "[ =\n]")))
        << option << " has no example";
}

// A list written by hand into the three related tables of an Access file:
// the parents first, then the rows that refer to them. Every old row ends
// up in the file or in the reject file, and the file stays sound.
TEST_F(Job, IntoRelatedAccessTablesEveryRowIsInTheFileOrSetAside) {
  test::makeSqlite(oldDb,
                   "create table 甲(号 integer, 名 varchar(50));"
                   "insert into 甲 values(1, '重复'), (5, 'foo5'), (6, 'foo6');"
                   "create table 乙(号 varchar(10), 名 varchar(50));"
                   "insert into 乙 values('14', 'bar14'), ('十五', 'bar15'), ('16', 'bar16');"
                   "create table 丙(号 integer, 父 integer, 母 integer, 注 text);"
                   "insert into 丙 values(4, 5, 14, '" + std::string(60, 'x') + "'), (5, 0, 16, '新旧'),"
                   " (6, 1, 15, '孤儿');");
  test::writeFile(mapFile,
                  "甲->号 >> Table2->id\n甲->名 >> Table2->data\n\n"
                  "乙->号 >> Table3->id\n乙->名 >> Table3->data\n\n"
                  "丙->号 >> Table1->id\n丙->父 >> Table1->otherfk1\n丙->母 >> Table1->otherfk2\n"
                  "丙->注 >> Table1->data\n\n");
  const std::string pristine = test::testData("access/indexes_jet4.mdb");
  const std::string access = test::copyTestData(dir, "access/indexes_jet4.mdb");
  auto run = [&](std::vector<std::string> extra) {
    std::filesystem::copy_file(pristine, access, std::filesystem::copy_options::overwrite_existing);
    std::vector<std::string> args{"--old", oldDb, "--new", access, "--map", mapFile, "--all-pairs",
                                  "--report", dir.file("r.json")};
    args.insert(args.end(), extra.begin(), extra.end());
    return test::runBatch(args);
  };
  auto ids = [&](const std::string& table) {
    std::string s;
    for (const test::ExportRow& row : test::exportRows(access, table)) s += (s.empty() ? "" : ",") + *row[0];
    return s;
  };

  // A dry run looks at the values only, on the file as it stands: it
  // copies nothing and leaves no backup.
  const std::string predicted = dir.file("预计.csv");
  test::CommandResult r = run({"--dry-run", "--rejects", predicted});
  EXPECT_EQ(r.code, 3) << r.err;
  EXPECT_EQ(test::readFile(access), test::readFile(pristine));
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    EXPECT_TRUE(entry.path() == access || entry.path().string().find("indexes_jet4") == std::string::npos)
        << entry.path();

  // 甲's first row repeats a key of Table2; 乙's middle one is no number;
  // 丙's last one refers to the row of 乙 set aside. 丙's first one refers
  // to a row 甲 brought, and has its note cut to the field's 50 characters.
  r = run({"--on-error", "skip"});
  EXPECT_EQ(r.code, 3) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(test::checkerProblems(access), "");
  EXPECT_EQ(ids("Table2"), "0,1,2,5,6");
  EXPECT_EQ(ids("Table3"), "10,11,12,13,14,16");
  EXPECT_EQ(ids("Table1"), "0,1,2,3,4,5");
  EXPECT_EQ(test::exportRows(access, "Table1")[4][3], std::string(50, 'x'));
  const Rows rejected = readCsv(test::readFile(rejectFile()));
  ASSERT_EQ(rejected.size(), 6u) << test::readFile(rejectFile());
  EXPECT_EQ(rejected[1], (std::vector<std::string>{"甲 => Table2", "1", rejected[1][2], "1", "重复"}));
  EXPECT_NE(rejected[1][2].find("PrimaryKey"), std::string::npos) << rejected[1][2];
  EXPECT_EQ(rejected[3], (std::vector<std::string>{"乙 => Table3", "2", rejected[3][2], "十五", "bar15"}));
  EXPECT_NE(rejected[3][2].find("十五"), std::string::npos) << rejected[3][2];
  EXPECT_EQ(rejected[5], (std::vector<std::string>{"丙 => Table1", "3", rejected[5][2], "6", "1", "15", "孤儿"}));
  EXPECT_NE(rejected[5][2].find("Table3"), std::string::npos) << rejected[5][2];
  // Of them the dry run foresaw the value; keys and relations need the rows
  // before them written.
  EXPECT_EQ(readCsv(test::readFile(predicted)), (Rows{rejected[2], rejected[3]}));
  std::string json = test::readFile(dir.file("r.json"));
  EXPECT_NE(json.find("\"totals\": {\"read\": 9, \"inserted\": 6, \"updated\": 0, \"written\": 6, "
                      "\"rejected\": 3, \"cut\": 1,"),
            std::string::npos)
      << json;

  // Stopping: each pair keeps the rows before its first refusal, and the
  // pairs after a failed one still write to the file.
  r = run({"--keep-going"});
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_EQ(test::checkerProblems(access), "");
  EXPECT_EQ(ids("Table2"), "0,1,2");
  EXPECT_EQ(ids("Table3"), "10,11,12,13,14");
  EXPECT_EQ(ids("Table1"), "0,1,2,3");
  json = test::readFile(dir.file("r.json"));
  EXPECT_NE(json.find("\"totals\": {\"read\": 4, \"inserted\": 1, \"updated\": 0, \"written\": 1, "
                      "\"rejected\": 0,"),
            std::string::npos)
      << json;
}

// Rows set aside need a place: a reject file that cannot be made stops the
// job before anything is written, one that fills up stops the pair there,
// and neither is reported as holding the rows.
TEST_F(Job, AFailingRejectFileIsAnErrorNotASilentLoss) {
  test::writeFile(mapFile, "客户->编号 >> 顾客->编号\r\n客户->名称 >> 顾客->姓名\r\n");
  test::CommandResult r = job({"--on-error", "skip", "--rejects", dir.file("无此文件夹/拒绝.csv")});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "无法创建拒绝行文件“" + dir.file("无此文件夹/拒绝.csv") + "”：文件或文件夹不存在.\n");
  EXPECT_EQ(newRows("select count(*) from 顾客"), (Rows{{"0"}}));

  // Thousands of rows refused for a null name, onto a disk of 64 KB.
  test::makeSqlite(oldDb, "with recursive c(x) as (select 6 union all select x + 1 from c where x < 4000)"
                          " insert into 客户 select x, case when x % 1000 = 0 then 'ok' end, null from c;");
  const std::string full = dir.file("full");
  std::filesystem::create_directory(full);
  const std::string rejects = full + "/拒绝.csv";
  bool real = false;
  std::string cmd = test::shellQuote(std::string(VOV_BIN_DIR) + "/vovarize-batch");
  for (const std::string& a : {std::string("--old"), oldDb, std::string("--new"), newDb, std::string("--map"),
                               mapFile, std::string("--on-error"), std::string("skip"), std::string("--rejects"),
                               rejects, std::string("--report"), dir.file("r.json")})
    cmd += " " + test::shellQuote(a);
  const std::string kept = dir.file("kept.csv");
  r = test::runShell(test::onSmallDisk(full, 64, cmd + "; rc=$?; cp " + test::shellQuote(rejects) + " " +
                                                     test::shellQuote(kept) + "; exit $rc",
                                       &real));
  EXPECT_EQ(r.code, 1);
  const std::string reason = real ? "磁盘已满" : "文件超过了系统允许的大小";
  EXPECT_EQ(r.err, "无法写入拒绝行文件“" + rejects + "”：" + reason + ".\n") << "said once";
  EXPECT_EQ(r.out.find("被拒绝的行写在"), std::string::npos) << r.out;
  // The file holds whole rows, as many as the report counts; the row that
  // found no room is neither there nor in the new table, and ends the pair.
  const std::string text = test::readFile(kept);
  ASSERT_GT(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  const Rows rows = readCsv(text);
  const size_t rejected = rows.size() - 1, read = rejected + 2 + 1;  // 乙公司 and 丁公司 went in
  const std::string json = test::readFile(dir.file("r.json"));
  EXPECT_NE(json.find("\"read\": " + std::to_string(read) + ", \"inserted\": 2, \"updated\": 0, "
                      "\"written\": 2, \"rejected\": " + std::to_string(rejected) + ","),
            std::string::npos)
      << json;
  EXPECT_EQ(rows.back()[1], std::to_string(read - 1));
  EXPECT_EQ(newRows("select count(*) from 顾客"), (Rows{{"2"}}));
}
