// Whole jobs with vovarize-batch from an Access file into PostgreSQL: rows
// the server refuses set aside, a dry run that predicts them, and a second
// run that updates what the first one wrote.
#include <gtest/gtest.h>

#include <regex>

#include "tests/postgres/pg_fixture.h"
#include "tests/support/test_support.h"

using namespace vov;

namespace {

using Rows = std::vector<std::vector<std::string>>;

// Pair, row number and the first line of the message of each rejected row
// (the server's detail names the failing row as only a real insert can).
Rows rejectsOf(const std::string& csv) {
  Rows out;
  const std::regex row("^\"([^\"]*)\",([0-9]+),\"((?:[^\"\n]|\"\")*)");
  size_t start = 0;
  while (start < csv.size()) {
    size_t end = csv.find("\r\n", start);
    if (end == std::string::npos) end = csv.size();
    const std::string line = csv.substr(start, end - start);
    std::smatch m;
    if (std::regex_search(line, m, row))
      out.push_back({m[1], m[2], std::regex_replace(m[3].str(), std::regex("\"\""), "\"")});
    start = end + 2;
  }
  return out;
}

class PgJob : public test::PgTest {
 protected:
  void SetUp() override {
    access = test::copyTestData(dir, "access/nwind.mdb");
    db.exec("create table kunden(id varchar(5) primary key, name varchar(40) not null,"
            " region varchar(15) not null);"
            "create table bestellungen(id int primary key, kunde varchar(5),"
            " versandt timestamp not null, fracht numeric(15,2));");
    test::writeFile(mapFile,
                    "Customers->CustomerID  >> kunden->id\r\n"
                    "Customers->CompanyName >> kunden->name\r\n"
                    "Customers->Region      >> kunden->region\r\n"
                    "Orders->OrderID        >> bestellungen->id\r\n"
                    "Orders->CustomerID     >> bestellungen->kunde\r\n"
                    "Orders->ShippedDate    >> bestellungen->versandt\r\n"
                    "Orders->Freight        >> bestellungen->fracht\r\n");
  }

  test::CommandResult job(std::vector<std::string> extra) {
    std::vector<std::string> args{"--old", access, "--new", db.address(), "--map", mapFile,
                                  "--all-pairs"};
    args.insert(args.end(), extra.begin(), extra.end());
    return test::runBatch(args);
  }

  long count(const std::string& access, const std::string& table) {
    return std::stol(test::runCommand("mdb-count " + test::shellQuote(access) + " " + table));
  }

  test::TempDir dir;
  std::string access;
  std::string mapFile = dir.file("job.TXT");
  std::string rejects = mapFile + ".rejects.csv";
};

}  // namespace

TEST_F(PgJob, EveryAccessRowIsInTheNewTablesOrTheRejectFile) {
  test::CommandResult dry = job({"--dry-run", "--rejects", dir.file("dry.csv")});
  EXPECT_EQ(dry.code, 3) << dry.err;
  EXPECT_EQ(db.rows("select (select count(*) from kunden) + (select count(*) from bestellungen)"),
            (Rows{{"0"}}));

  test::CommandResult real = job({"--on-error", "skip", "--report", dir.file("r.json")});
  EXPECT_EQ(real.code, 3) << real.err;
  Rows rejected = rejectsOf(test::readFile(rejects));
  EXPECT_EQ(rejectsOf(test::readFile(dir.file("dry.csv"))), rejected);

  long customers = 0, orders = 0;
  for (const auto& r : rejected) {
    if (r[0] == "Customers => kunden") {
      ++customers;
      EXPECT_EQ(r[2], "null value in column \"region\" of relation \"kunden\" violates not-null constraint");
    } else {
      ++orders;
      EXPECT_EQ(r[2], "null value in column \"versandt\" of relation \"bestellungen\" violates not-null constraint");
    }
  }
  EXPECT_GT(customers, 0);
  EXPECT_GT(orders, 0);
  EXPECT_EQ(std::stol(db.rows("select count(*) from kunden")[0][0]) + customers, count(access, "Customers"));
  EXPECT_EQ(std::stol(db.rows("select count(*) from bestellungen")[0][0]) + orders, count(access, "Orders"));
  const std::string json = test::readFile(dir.file("r.json"));
  EXPECT_NE(json.find("\"rejected\": " + std::to_string(customers) + ","), std::string::npos) << json;

  // A second run updates every row the first one wrote, and sets aside the
  // same rows again.
  db.exec("update bestellungen set fracht = 0");
  real = job({"--on-error", "skip", "--mode", "upsert", "--report", dir.file("r.json")});
  EXPECT_EQ(real.code, 3) << real.err;
  EXPECT_EQ(rejectsOf(test::readFile(rejects)), rejected);
  EXPECT_EQ(db.rows("select count(*) from bestellungen where fracht = 0"), (Rows{{"0"}}));
  EXPECT_NE(test::readFile(dir.file("r.json")).find("\"inserted\": 0, \"updated\": " +
                                                     db.rows("select count(*) from kunden")[0][0]),
            std::string::npos);
}

// Out of PostgreSQL into an Access file: two old tables into one Access
// table through a list written by hand, the values the writer cannot store
// set aside, and the dry run foreseeing exactly those rows.
TEST_F(PgJob, FromPostgresIntoAnAccessTableEveryRowIsAccountedFor) {
  const std::string target = test::copyTestData(dir, "access/bench_jet4.mdb");
  const std::string pristine = test::readFile(target);
  db.exec("create table laden(code varchar(30), name text, menge varchar(12), preis numeric(14,2),"
          " tag timestamp);"
          "insert into laden values ('A1', '甲', '3', 1.25, '2024-01-02 03:04:05'),"
          " ('A2', null, 'viele', 2, null), ('" + std::string(25, 'C') + "', '丙', '7', 123456789.5, null),"
          " ('A4', '丁', '99999999999', 4, '1999-12-31 23:59:59'), ('A5', '戊', null, null, null);"
          "create table lager(code text, anzahl bigint);"
          "insert into lager values ('L1', 5000000000), ('L2', -2), ('L3', null);");
  test::writeFile(mapFile,
                  "laden->code  >> 订单明细->客户代码\n"
                  "laden->name  >> 订单明细->客户名称\n"
                  "laden->menge >> 订单明细->数量\n"
                  "laden->preis >> 订单明细->单价\n"
                  "laden->tag   >> 订单明细->日期\n"
                  "\n"
                  "lager->code   >> 订单明细->客户代码\n"
                  "lager->anzahl >> 订单明细->数量\n");
  auto run = [&](std::vector<std::string> extra) {
    std::vector<std::string> args{"--old", db.address(), "--new", target, "--map", mapFile, "--all-pairs",
                                  "--report", dir.file("r.json")};
    args.insert(args.end(), extra.begin(), extra.end());
    return test::runBatch(args);
  };

  test::CommandResult dry = run({"--dry-run", "--rejects", dir.file("dry.csv")});
  EXPECT_EQ(dry.code, 3) << dry.err;
  EXPECT_EQ(test::readFile(target), pristine);

  test::CommandResult real = run({"--on-error", "skip"});
  EXPECT_EQ(real.code, 3) << real.err;
  const Rows rejected = rejectsOf(test::readFile(rejects));
  ASSERT_EQ(rejected.size(), 3u) << test::readFile(rejects);
  EXPECT_EQ(rejected[0][0] + " " + rejected[0][1], "laden => 订单明细 2");
  EXPECT_NE(rejected[0][2].find("viele"), std::string::npos) << rejected[0][2];
  EXPECT_EQ(rejected[1][0] + " " + rejected[1][1], "laden => 订单明细 4");
  EXPECT_EQ(rejected[2][0] + " " + rejected[2][1], "lager => 订单明细 1");
  EXPECT_EQ(rejectsOf(test::readFile(dir.file("dry.csv"))), rejected);

  // Five rows arrived, the long code cut to the column's 20 characters.
  const std::string exported = test::runCommand("mdb-export " + test::shellQuote(target) + " 订单明细");
  EXPECT_EQ(count(target, "订单明细"), 5);
  EXPECT_NE(exported.find(",\"" + std::string(20, 'C') + "\",\"丙\",,7,"), std::string::npos) << exported;
  EXPECT_EQ(exported.find(std::string(21, 'C')), std::string::npos) << exported;
  EXPECT_NE(exported.find(",\"L2\",,,-2,"), std::string::npos) << exported;
  const std::string json = test::readFile(dir.file("r.json"));
  EXPECT_NE(json.find("\"totals\": {\"read\": 8, \"inserted\": 5, \"updated\": 0, \"written\": 5, "
                      "\"rejected\": 3, \"cut\": 1,"),
            std::string::npos)
      << json;
}
