// Inserts inside a transaction that travel as COPY: every value must arrive
// as one insert of its own would leave it, and a failing row must end the
// run exactly as one insert per row would (rows before it kept, its own
// message, the count before it).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

#include "data/data_module.h"
#include "data/error.h"
#include "data/postgres/pg_statement.h"
#include "mapping/mapping_line.h"
#include "migration/migrate_table.h"
#include "tests/postgres/pg_fixture.h"
#include "tests/support/test_support.h"

using namespace vov;
using vov::test::integer;
using vov::test::text;

namespace {

Value decimal(const char* d) { return Value::fromDecimal(d); }
Value real(double d) { return Value::fromReal(d); }
Value boolean(bool b) { return Value::fromBool(b); }
Value bytes(const std::string& b) { return Value::fromBytes(b); }
Value stamp(const char* t) {
  DateTime dt;
  EXPECT_TRUE(DateTime::parse(t, &dt)) << t;
  return Value::fromDateTime(dt);
}

struct Column {
  const char* type;
  // The first value of each column has a form that needs no text at all.
  std::vector<Value> values;
};

// Every column kind the tests know, with values in the spellings sources
// hand over, the odd ones and some the server refuses.
std::vector<Column> columns() {
  return {
      {"integer", {integer(5), integer(-2147483647 - 1), text("42"), text(" 42 "), text("+7"),
                   boolean(true), real(3.0), integer(3000000000LL), text("4.5"), text("0x1F"), Value()}},
      {"smallint", {integer(32767), integer(32768), text("-12"), text("007")}},
      {"bigint", {integer(INT64_MAX), text("9223372036854775808"), text("-9223372036854775808")}},
      {"numeric", {decimal("12.5000"), decimal("-0.000"), text("1e-5"), real(0.1), integer(12),
                   decimal("123456789012345678901234567890.123456789"), text("NaN"), text("1.5e3"),
                   text(".5"), text("abc"), real(1e300), decimal("-0.00012340"), Value()}},
      {"numeric(6,2)", {decimal("1234.567"), decimal("12345.6"), decimal("-9999.994"), integer(7)}},
      {"real", {real(0.1), text("3.4e38"), text("1e39"), text("1e-50"), real(1e-40), real(16777217.0)}},
      {"float8", {real(0.1), real(-0.0), real(HUGE_VAL), real(NAN), integer(9007199254740993LL),
                  text("1e-320"), text("1e400"), decimal("2.5"), Value()}},
      {"boolean", {boolean(true), boolean(false), integer(1), integer(0), text("true"), text("f"),
                   text("yes"), text("maybe"), integer(2), Value()}},
      {"text", {text("中文 \\ tab\t line\n\r end \\N"), integer(7), real(0.5), stamp("2020-01-02 03:04:05.25"),
                bytes("ab"), text(""), Value()}},
      {"varchar(3)", {text("abc"), text("ab   "), text("abcd"), integer(12345), text("中文字"), Value()}},
      {"char(4)", {text("ab"), text("abcde"), text("ab    "), Value()}},
      {"date", {stamp("2024-02-29"), text("2020-01-02 10:11:12"), text("2020-02-30"), text("Jan 5 2020"),
                text("0001-01-01"), text("9999-12-31"), stamp("1899-12-30 07:08:09"), Value()}},
      {"time", {stamp("1899-12-30 07:08:09"), text("23:59:59.999999"), text("24:00:00"), text("25:00"),
                text("2020-01-02 10:11:12.5"), Value()}},
      {"timestamp", {stamp("1999-12-31 23:59:59.123456"), text("2020-01-02 10:11:12"), text("2020-01-02"),
                     text("2020-01-02T10:11:12"), text("2020-01-02 10:11:12.1234567"),
                     text("1600-03-01 00:00:00"), text("2020-13-01"), text("epoch"), Value()}},
      {"timestamp(0)", {stamp("2021-06-30 23:59:59.6"), text("2021-06-30 12:00:00.4")}},
      {"uuid", {text("a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11"), text("{A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11}"),
                text("a0eebc999c0b4ef8bb6d6bb9bd380a11"), text("xyz"), Value()}},
      {"bytea", {bytes(std::string("\0\x01\xff\\x", 5)), text("plain"), text("\\x414243"), text("\\q"),
                 integer(5), bytes(""), Value()}},
      {"json", {text("{\"a\": [1, 2.50]}"), text("{bad"), integer(3), Value()}},
      {"jsonb", {text("{\"b\":1, \"a\":2}"), text("[1,"), Value()}},
      {"money", {decimal("-1234.5"), text("$1,000.00"), Value()}},
      {"timestamptz", {stamp("2020-01-02 03:04:05"), Value()}},
      {"interval", {text("1 day 02:00"), Value()}},
      {"int[]", {text("{1,2,3}"), Value()}},
      {"short_name", {text("ok"), text("bad"), text("too long!"), Value()}},
  };
}

class PgCopy : public test::PgTest {
 protected:
  PgCopy() {
    // Each row notes the statement that brought it: an insert, or which
    // form of COPY.
    db.exec(
        "create table came_by(tbl text, id int, q text);"
        "create function note_statement() returns trigger language plpgsql as $$ begin"
        " insert into came_by values (tg_table_name, new.id, current_query()); return new; end $$;"
        "create domain short_name as varchar(8) check (value <> 'bad')");
  }

  void makeTable(const std::string& name, const std::string& columns) {
    db.exec("create table " + name + "(" + columns + ");"
            "create trigger note before insert on " + name +
            " for each row execute function note_statement()");
  }

  // How the row `id` of `table` came: "insert", "binary" or "text".
  std::string cameBy(const std::string& table, int id) {
    auto r = db.rows("select q from came_by where tbl = '" + table + "' and id = " + std::to_string(id));
    if (r.size() != 1) return "missing";
    const std::string& q = r[0][0];
    if (q.rfind("insert", 0) == 0) return "insert";
    if (q.find("(format binary)") != std::string::npos) return "binary";
    return q.find("copy") != std::string::npos ? "text" : q;
  }

  std::map<int, std::string> values(const std::string& table) {
    std::map<int, std::string> m;
    for (auto& row : db.rows("select id, v::text from " + table)) m[std::stoi(row[0])] = row[1];
    return m;
  }
};

// The outcome of single runs of a statement, for one value.
struct Single {
  bool ok;
  std::string result;  // the stored value's text, or the error message
};

}  // namespace

TEST_F(PgCopy, EveryValueArrivesAsASingleInsertLeavesIt) {
  int n = 0;
  for (const Column& col : columns()) {
    const std::string table = "ty" + std::to_string(++n);
    SCOPED_TRACE(col.type);
    makeTable(table, std::string("id int, v ") + col.type);
    const std::string sql = "insert into " + table + "(id, v) values(?, ?)";
    // One insert per value, outside a transaction: what each value becomes.
    std::vector<Single> want;
    {
      std::unique_ptr<Statement> alone = backend().prepare(sql);
      for (size_t i = 0; i < col.values.size(); ++i) {
        try {
          alone->execute({integer(static_cast<int64_t>(i)), col.values[i]});
          want.push_back({true, ""});
        } catch (const StatementError& e) {
          want.push_back({false, e.what()});
        }
      }
      std::map<int, std::string> stored = values(table);
      for (size_t i = 0; i < want.size(); ++i)
        if (want[i].ok) want[i].result = stored[static_cast<int>(i)];
      EXPECT_EQ(cameBy(table, 0), "insert");
      db.exec("truncate " + table + "; truncate came_by");
    }
    // The values the server takes, all in one transaction: as COPY rows.
    backend().begin();
    std::unique_ptr<Statement> batched = backend().prepare(sql);
    for (size_t i = 0; i < col.values.size(); ++i)
      if (want[i].ok) batched->execute({integer(static_cast<int64_t>(i)), col.values[i]});
    batched->finish();
    backend().commit();
    std::map<int, std::string> got = values(table);
    for (size_t i = 0; i < want.size(); ++i) {
      if (!want[i].ok) continue;
      const int id = static_cast<int>(i);
      EXPECT_EQ(got[id], want[i].result) << "value " << i << ": " << col.values[i].toText();
      EXPECT_NE(cameBy(table, id).find_first_of("bt"), std::string::npos)
          << "value " << i << " came by " << cameBy(table, id);
    }
    EXPECT_EQ(got.size(), static_cast<size_t>(std::count_if(want.begin(), want.end(),
                                                            [](const Single& s) { return s.ok; })));
    // Values of the common kinds in their plain forms need no text.
    const std::string type = col.type;
    if (type != "money" && type != "timestamptz" && type != "interval" && type != "int[]" &&
        type != "short_name") {
      EXPECT_EQ(cameBy(table, 0), "binary");
    }
    // Each value the server refuses stops its run with the insert's words.
    for (size_t i = 0; i < want.size(); ++i) {
      if (want[i].ok) continue;
      db.exec("truncate " + table);
      backend().begin();
      std::unique_ptr<Statement> st = backend().prepare(sql);
      try {
        st->execute({integer(1000), Value()});
        st->execute({integer(static_cast<int64_t>(i)), col.values[i]});
        st->finish();
        ADD_FAILURE() << "value " << i << " was taken: " << col.values[i].toText();
      } catch (const StatementError& e) {
        EXPECT_EQ(e.what(), want[i].result) << "value " << i;
        EXPECT_EQ(e.runsDone(), 1);
      }
      backend().commit();
      EXPECT_EQ(values(table).size(), 1u);
    }
  }
}

TEST_F(PgCopy, NullInEveryTypeInBothForms) {
  // Every column kind (money and the like make the text form), then only
  // those with a binary form.
  std::vector<std::string> all, binary;
  for (const Column& col : columns()) {
    all.push_back(col.type);
    if (col.values[0].kind() != Value::Kind::Null && std::string(col.type) != "money" &&
        std::string(col.type) != "timestamptz" && std::string(col.type) != "interval" &&
        std::string(col.type) != "int[]" && std::string(col.type) != "short_name")
      binary.push_back(col.type);
  }
  for (const auto& [table, types, form] :
       {std::tuple{"nulls_text", all, "text"}, std::tuple{"nulls_binary", binary, "binary"}}) {
    SCOPED_TRACE(table);
    std::string cols = "id int", sql = std::string("insert into ") + table + " values(?";
    std::vector<Value> row{integer(1)};
    for (const std::string& t : types) {
      cols += ", c" + std::to_string(row.size()) + " " + t;
      sql += ", ?";
      row.emplace_back();
    }
    makeTable(table, cols);
    backend().begin();
    std::unique_ptr<Statement> st = backend().prepare(sql + ")");
    st->execute(row);
    st->finish();
    backend().commit();
    auto got = db.rows(std::string("select * from ") + table);
    ASSERT_EQ(got.size(), 1u);
    for (size_t i = 1; i < got[0].size(); ++i) EXPECT_EQ(got[0][i], "<null>") << types[i - 1];
    EXPECT_EQ(cameBy(table, 1), form);
  }
}

TEST_F(PgCopy, AStatementTriggerFiresOncePerInsert) {
  db.exec(
      "create table stmts(n int);"
      "create function count_statement() returns trigger language plpgsql as $$ begin"
      " insert into stmts values (1); return null; end $$;"
      "create table counted(id int, v int);"
      "create trigger per_statement after insert on counted"
      " for each statement execute function count_statement()");
  // A statement trigger fires once per insert.
  backend().begin();
  std::unique_ptr<Statement> st = backend().prepare("insert into counted(id, v) values(?, ?)");
  for (int i = 1; i <= 50; ++i) st->execute({integer(i), integer(i)});
  st->finish();
  backend().commit();
  EXPECT_EQ(count("counted"), 50);
  EXPECT_EQ(count("stmts"), 50);
}

// ------------------------------------------------ through the migration

namespace {

class PgCopyMigration : public PgCopy {
 protected:
  // The old rows: id, code (unique in the new table, the first row's at
  // row `bad`), name (not null; a varchar, whose null is read as null),
  // label (an integer into varchar(3), so no cut), n (not negative). From
  // row `spelled` on, n is text, the first of them spelled "+n", which has
  // no binary form: the rows from there go in the text form.
  void makeSource(int rows, int bad, const std::string& fault, int spelled = 0) {
    std::string sql = std::string("create table src(id integer, code integer, name varchar(20),"
                                  " label integer, n ") + (spelled ? "text" : "integer") + "); begin;";
    for (int i = 1; i <= rows; ++i) {
      const bool b = i == bad;
      const std::string n = std::to_string(b && fault == "check" ? -1 : i);
      sql += "insert into src values(" + std::to_string(i) + ", " +
             std::to_string(b && fault == "unique" ? 1 : i) + ", " +
             (b && fault == "not null" ? "null" : "'名" + std::to_string(i) + "'") + ", " +
             std::to_string(b && fault == "too long" ? 12345 : i % 1000) + ", " +
             (i == spelled ? "'+" + n + "'" : n) + ");";
    }
    test::makeSqlite(source, sql + "commit;");
  }

  struct Outcome {
    std::string message;
    int32_t counter = -1;
  };

  Outcome migrate(const std::vector<std::pair<std::string, std::string>>& pairs) {
    TDataModule2 dm;
    TDataModule2::openSide(dm.ADOConnection2old, dm.ADODataSet2old, source);
    TDataModule2::openSide(dm.ADOConnection1new, dm.ADODataSet1new, db.address());
    MigrationRequest req;
    req.oldTable = [] { return std::string("src"); };
    req.newTable = [] { return std::string("dst"); };
    for (const auto& [from, to] : pairs) req.lines.push_back(composeFieldMappingLine("src", from, 8, "dst", to));
    req.filter = kDefaultFilterText;
    Outcome o;
    req.progress = [&](int32_t c) { o.counter = c; };
    try {
      migrateTable(dm, req);
    } catch (const Error& e) {
      o.message = e.what();
    }
    return o;
  }

  test::TempDir dir;
  std::string source = dir.file("src.db");
};

}  // namespace

TEST_F(PgCopyMigration, AFailingRowKeepsTheRowsBeforeItWithItsOwnMessage) {
  const int batch = pg::kBatchRuns;
  const int rows = 2 * batch + 3;
  struct Case {
    int k;
    const char* fault;
    int spelled = 0;
  } cases[] = {
      {batch / 2, "unique"}, {batch + 17, "not null"}, {batch / 3, "too long"}, {7, "check"},
      {1, "check"},          {batch, "not null"},      {batch + 1, "unique"},   {rows, "too long"},
      // After the change of form: in the batch it started, and a batch later.
      {batch / 2 + 10, "unique", batch / 2}, {batch + 5, "check", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.k) + " " + c.fault + " " + std::to_string(c.spelled));
    source = dir.file("src" + std::to_string(c.k) + ".db");
    makeSource(rows, c.k, c.fault, c.spelled);
    const std::string columns =
        "id int primary key, code int unique, name varchar(8) not null, label varchar(3), n int check (n >= 0)";
    db.exec("drop table if exists dst; truncate came_by");
    if (c.spelled) makeTable("dst", columns);  // noting how each row came
    else db.exec("create table dst(" + columns + ")");
    Outcome o = migrate({{"id", "id"}, {"code", "code"}, {"name", "name"}, {"label", "label"}, {"n", "n"}});
    EXPECT_EQ(o.counter, c.k - 1);
    if (c.spelled) {
      // The rows of the failed batch before row k went again as inserts.
      EXPECT_EQ(cameBy("dst", c.spelled - 1), "binary");
      EXPECT_EQ(cameBy("dst", c.spelled), c.k - c.spelled >= batch ? "text" : "insert");
      EXPECT_EQ(cameBy("dst", c.k - 1), "insert");
    }
    // Exactly the old rows 1..k-1, unchanged.
    EXPECT_EQ(db.rows("select count(*), coalesce(max(id), 0), count(*) filter (where"
                      " name = '名' || id and label = (id % 1000)::text and n = id) from dst")[0],
              (std::vector<std::string>{std::to_string(c.k - 1), std::to_string(c.k - 1),
                                        std::to_string(c.k - 1)}));
    // Row k inserted alone into what the migration left fails with the
    // very message the migration gave.
    auto row = test::sqliteRows(source, "select id, code, name, label, n from src where id = " + std::to_string(c.k))[0];
    std::unique_ptr<Statement> alone = backend().prepare("insert into dst(id, code, name, label, n) values(?, ?, ?, ?, ?)");
    std::string want;
    try {
      alone->execute({integer(std::stoll(row[0])), integer(std::stoll(row[1])),
                      row[2] == "<null>" ? Value() : text(row[2]), text(row[3]), integer(std::stoll(row[4]))});
    } catch (const StatementError& e) {
      want = e.what();
    }
    ASSERT_FALSE(want.empty());
    EXPECT_NE(o.message.find(want), std::string::npos) << o.message << "\n / " << want;
  }
}

TEST_F(PgCopyMigration, AColumnListInAnotherOrderThanTheTable) {
  makeSource(3000, 0, "");
  makeTable("dst", "n int, extra text default 'x', label varchar(3), id int, name text, code int");
  Outcome o = migrate({{"name", "name"}, {"n", "n"}, {"code", "code"}, {"id", "id"}, {"label", "label"}});
  EXPECT_EQ(o.message, "");
  EXPECT_EQ(o.counter, 3000);
  EXPECT_EQ(db.rows("select count(*) filter (where name = '名' || id and n = id and code = id"
                    " and label = (id % 1000)::text and extra = 'x') from dst")[0][0],
            "3000");
  EXPECT_EQ(cameBy("dst", 1), "binary");
}

TEST_F(PgCopyMigration, ACommitTheServerRefusesKeepsNoRow) {
  makeSource(500, 250, "unique");
  db.exec("create table dst(id int, code int unique deferrable initially deferred, name text,"
          " label text, n int)");
  Outcome o = migrate({{"id", "id"}, {"code", "code"}, {"name", "name"}});
  EXPECT_NE(o.message.find("本次迁移的行均未写入新表"), std::string::npos) << o.message;
  EXPECT_NE(o.message.find("duplicate key value violates unique constraint"), std::string::npos) << o.message;
  EXPECT_EQ(o.counter, 0);
  EXPECT_EQ(count("dst"), 0);
}

TEST_F(PgCopyMigration, TheOldRowsAreOnlyRead) {
  // A filter, and a view, calling a function that writes.
  db.exec(
      "create table olds(id int primary key, t text);"
      "insert into olds select g, 'r' || g from generate_series(1, 20) g;"
      "create function zap() returns int language sql as $$ delete from olds returning 1 $$;"
      "create view zapping as select *, zap() as z from olds;"
      "create table news(id int, t text)");
  TDataModule2 dm;
  TDataModule2::openSide(dm.ADOConnection2old, dm.ADODataSet2old, db.address());
  TDataModule2::openSide(dm.ADOConnection1new, dm.ADODataSet1new, db.address());
  MigrationRequest req;
  req.oldTable = [] { return std::string("olds"); };
  req.newTable = [] { return std::string("news"); };
  req.lines = {composeFieldMappingLine("olds", "id", 4, "news", "id")};
  req.filter = "where zap() > 0";
  req.progress = [](int32_t) {};
  try {
    migrateTable(dm, req);
    FAIL() << "the filter wrote";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("read-only transaction"), std::string::npos) << e.what();
  }
  EXPECT_EQ(count("olds"), 20);
  EXPECT_EQ(count("news"), 0);
  try {
    dm.ADOConnection2old.execute("Select * Into [Text;Database=" + dir.path() + "/].z.csv From zapping");
    FAIL() << "the export wrote";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("read-only transaction"), std::string::npos) << e.what();
  }
  EXPECT_EQ(count("olds"), 20);
  // The same connection still writes where the program means to.
  dm.ADOConnection2old.execute("insert into olds values (21, 'r21')");
  req.filter = kDefaultFilterText;
  EXPECT_TRUE(migrateTable(dm, req));
  EXPECT_EQ(count("news"), 21);
}

TEST_F(PgCopy, RefusedRowsSetAsideAsOneAtATimeWould) {
  // The same rows into a table (COPY, batches replayed) and into a view
  // over a twin table (one insert at a time): the same rows set aside, for
  // the same reasons, and the same rows kept.
  db.exec("create table direct(id int primary key, v int check (v >= 0), t varchar(4) not null);"
          "create table twin(like direct including all);"
          "create view twin_view as select * from twin");
  const int n = 2 * pg::kBatchRuns + 500;
  auto valuesOf = [&](int i) -> std::vector<Value> {
    const int b = pg::kBatchRuns;
    if (i == 1 || i == b + 1) return {integer(i), integer(-1), text("t")};       // check
    if (i == 500 || i == b) return {integer(i), integer(i), Value()};             // not null
    if (i == b - 1 || i == n) return {integer(i), integer(i), text("too long")};  // length
    if (i == b + 2) return {integer(7), integer(i), text("t")};                   // duplicate key
    if (i == 2 * b) return {integer(i), text("x"), text("t")};                    // no number
    return {integer(i), integer(i), text("t")};
  };
  std::vector<std::vector<RefusedRun>> refused;
  for (const char* target : {"direct", "twin_view"}) {
    backend().begin();
    std::unique_ptr<Statement> st =
        backend().prepare(std::string("insert into ") + target + "(id, v, t) values(?, ?, ?)");
    ASSERT_TRUE(st->setRunPolicy(RunPolicy{true, false}));
    refused.emplace_back();
    for (int i = 1; i <= n; ++i) {
      st->execute(valuesOf(i));
      for (RefusedRun& r : st->takeRefused()) refused.back().push_back(r);
    }
    st->finish();
    for (RefusedRun& r : st->takeRefused()) refused.back().push_back(r);
    EXPECT_EQ(st->runsInFlight(), 0);
    backend().commit();
  }
  ASSERT_EQ(refused[0].size(), 8u);
  ASSERT_EQ(refused[1].size(), refused[0].size());
  for (size_t i = 0; i < refused[0].size(); ++i) {
    EXPECT_EQ(refused[0][i].run, refused[1][i].run);
    std::string twin = refused[1][i].message;
    for (size_t at = twin.find("twin"); at != std::string::npos; at = twin.find("twin", at))
      twin.replace(at, 4, "direct");
    EXPECT_EQ(refused[0][i].message, twin);
  }
  EXPECT_EQ(refused[0].front().run, 0);
  EXPECT_EQ(refused[0].back().run, n - 1);
  EXPECT_EQ(count("direct"), n - 8);
  EXPECT_EQ(db.rows("select count(*) from direct d join twin t using (id, v, t)")[0][0],
            std::to_string(n - 8));
}
