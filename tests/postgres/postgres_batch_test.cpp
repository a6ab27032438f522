// Runs of an insert inside a transaction travel in pipelined batches, into
// tables and views alike. A failure at run k must leave exactly runs 1 to
// k-1 after the commit, and say so.
#include <gtest/gtest.h>

#include "data/error.h"
#include "data/postgres/pg_connection.h"
#include "tests/postgres/pg_fixture.h"

using namespace vov;
using vov::test::integer;
using vov::test::text;

namespace {

class PgBatch : public test::PgTest {
 protected:
  // A table refusing negative values, and a view over it.
  void makeTable(const std::string& name) {
    db.exec("create table " + name + "(id int primary key, v int check (v >= 0), t text);" +
            "create view " + name + "_view as select * from " + name);
  }

  struct Outcome {
    int64_t runsDone = -1;
    int64_t surfacedAt = -1;  // the run whose execute() raised it, 0 for finish()
    std::string message;
  };

  // Runs rows 1..n into `target` inside a transaction the way the migration
  // does, row `bad` carrying a value the table refuses, and commits.
  Outcome migrate(const std::string& target, int64_t n, int64_t bad,
                  const Value& badValue = integer(-1)) {
    Outcome out;
    Command cmd("ADOCommand1", &conn);
    cmd.setCommandText("insert into " + target + "(id,v,t) values(:kh0,:kh1,:kh2)");
    conn.beginTransaction();
    int64_t i = 1;
    try {
      for (; i <= n; ++i) {
        cmd.parameters()[0].value = integer(i);
        cmd.parameters()[1].value = i == bad ? badValue : integer(i);
        cmd.parameters()[2].value = text("第 " + std::to_string(i) + " 行");
        cmd.execute();
      }
      i = 0;
      cmd.finish();
    } catch (const StatementError& e) {
      out.runsDone = e.runsDone();
      out.surfacedAt = i;
      out.message = e.what();
    }
    conn.commit();
    return out;
  }

  void expectFirstRows(const std::string& table, int64_t rows) {
    auto r = db.rows("select count(*), coalesce(min(id), 0), coalesce(max(id), 0), "
                     "count(*) filter (where t = '第 ' || id || ' 行') from " + table);
    EXPECT_EQ(r[0], (std::vector<std::string>{std::to_string(rows), rows ? "1" : "0",
                                              std::to_string(rows), std::to_string(rows)}))
        << table;
  }
};

}  // namespace

TEST_F(PgBatch, AFailureAtRowKKeepsExactlyTheRowsBefore) {
  // 10000 runs make a batch: the first row, within the first batch, its
  // last row, the next batch's first row, and the very last row.
  const int64_t n = 20001;
  for (const char* way : {"", "_view"}) {
    for (int64_t k : {1, 2, 4321, 10000, 10001, 20001}) {
      const std::string table = "t" + std::to_string(k) + (*way ? "v" : "c");
      makeTable(table);
      Outcome o = migrate(table + way, n, k);
      SCOPED_TRACE(table + way);
      EXPECT_EQ(o.runsDone, k - 1);
      EXPECT_NE(o.message.find("violates check constraint"), std::string::npos) << o.message;
      EXPECT_NE(o.message.find("Failing row contains (" + std::to_string(k) + ", -1"),
                std::string::npos)
          << o.message;
      // It surfaces at the failing run or later, never earlier.
      EXPECT_TRUE(o.surfacedAt == 0 || o.surfacedAt >= k) << o.surfacedAt;
      expectFirstRows(table, k - 1);
    }
  }
}

TEST_F(PgBatch, WithoutAFailureEveryRowArrives) {
  for (const char* way : {"", "_view"}) {
    const std::string table = std::string("all") + (*way ? "v" : "c");
    makeTable(table);
    Outcome o = migrate(table + way, 25000, 0);
    EXPECT_EQ(o.runsDone, -1) << o.message;
    expectFirstRows(table, 25000);
  }
}

TEST_F(PgBatch, AValueTheDestinationRefusesNamesTheServerReason) {
  makeTable("typed");
  Outcome o = migrate("typed", 50, 3, text("abc"));
  EXPECT_EQ(o.runsDone, 2);
  EXPECT_EQ(o.message, "invalid input syntax for type integer: \"abc\"");
  expectFirstRows("typed", 2);
  // The same outside a transaction, where each run goes on its own.
  makeTable("alone");
  std::unique_ptr<Statement> st = backend().prepare("insert into alone(id,v,t) values(?,?,?)");
  st->execute({integer(1), integer(1), text("第 1 行")});
  try {
    st->execute({integer(2), text("12.5"), text("第 2 行")});
    FAIL();
  } catch (const StatementError& e) {
    EXPECT_EQ(e.runsDone(), 1);
    EXPECT_STREQ(e.what(), "invalid input syntax for type integer: \"12.5\"");
  }
  expectFirstRows("alone", 1);
}

TEST_F(PgBatch, TextWithAZeroByteStopsAtThatRow) {
  makeTable("zero");
  Outcome o = migrate("zero", 100, 7, text(std::string("a\0b", 3)));
  EXPECT_EQ(o.runsDone, 6);
  EXPECT_EQ(o.surfacedAt, 7);
  EXPECT_EQ(o.message, "文本中含有零字符（\\0），PostgreSQL 不能保存这样的文本");
  expectFirstRows("zero", 6);
}

TEST_F(PgBatch, CommitWithoutFinishStillReportsTheFailure) {
  makeTable("late");
  std::unique_ptr<Statement> st = backend().prepare("insert into late(id,v,t) values(?,?,?)");
  backend().begin();
  for (int i = 1; i <= 30; ++i)
    st->execute({integer(i), integer(i == 12 ? -1 : i), text("第 " + std::to_string(i) + " 行")});
  try {
    backend().commit();
    FAIL() << "the failure at row 12 was lost";
  } catch (const StatementError& e) {
    EXPECT_EQ(e.runsDone(), 11);
  }
  expectFirstRows("late", 11);
  // Reported once: the statement goes on from there.
  st->execute({integer(12), integer(12), text("第 12 行")});
  expectFirstRows("late", 12);
}

TEST_F(PgBatch, AStatementDroppedMidBatchStillDeliversItsRuns) {
  makeTable("dropped");
  backend().begin();
  {
    std::unique_ptr<Statement> st = backend().prepare("insert into dropped(id,v,t) values(?,?,?)");
    for (int i = 1; i <= 40; ++i)
      st->execute({integer(i), integer(i), text("第 " + std::to_string(i) + " 行")});
  }
  backend().commit();
  expectFirstRows("dropped", 40);
}

TEST_F(PgBatch, RollbackUndoesRunsInFlight) {
  makeTable("undone");
  conn.beginTransaction();
  Command cmd("ADOCommand1", &conn);
  cmd.setCommandText("insert into undone(id,v,t) values(:a,:b,:c)");
  for (int i = 1; i <= 500; ++i) {
    cmd.parameters()[0].value = integer(i);
    cmd.parameters()[1].value = integer(i);
    cmd.execute();
  }
  conn.rollback();
  EXPECT_EQ(count("undone"), 0);
}

TEST_F(PgBatch, TwoStatementsTakingTurnsInOneTransaction) {
  makeTable("left_t");
  makeTable("right_t");
  std::unique_ptr<Statement> a = backend().prepare("insert into left_t(id,v,t) values(?,?,?)");
  std::unique_ptr<Statement> b = backend().prepare("insert into right_t_view(id,v,t) values(?,?,?)");
  backend().begin();
  for (int i = 1; i <= 60; ++i) {
    const std::string t = "第 " + std::to_string(i) + " 行";
    a->execute({integer(i), integer(i), text(t)});
    b->execute({integer(i), integer(i), text(t)});
    if (i % 20 == 0) {
      EXPECT_EQ(readAll("select count(*) from left_t")[0][0], integer(i));
    }
  }
  a->finish();
  b->finish();
  backend().commit();
  expectFirstRows("left_t", 60);
  expectFirstRows("right_t", 60);
}

TEST_F(PgBatch, RulesAndRowLevelSecuritySeeEveryInsert) {
  db.exec(
      "create table ruled(id int primary key, v int check (v >= 0), t text);"
      "create table audit(id int);"
      "create rule keep_audit as on insert to ruled do also insert into audit values (new.id);"
      "create table secured(id int primary key, v int check (v >= 0), t text);"
      "alter table secured enable row level security;"
      "create policy anyone on secured using (true) with check (true)");
  Outcome o = migrate("ruled", 300, 0);
  EXPECT_EQ(o.runsDone, -1) << o.message;
  expectFirstRows("ruled", 300);
  EXPECT_EQ(count("audit"), 300);
  o = migrate("secured", 300, 123);
  EXPECT_EQ(o.runsDone, 122);
  expectFirstRows("secured", 122);
}

TEST_F(PgBatch, ACommitTheServerTurnsIntoARollbackIsAnError) {
  makeTable("aborted");
  backend().begin();
  backend().execute("insert into aborted values (1, 1, 'x')");
  EXPECT_THROW(backend().execute("insert into aborted values (2, -1, 'y')"), Error);
  try {
    backend().commit();
    FAIL() << "the lost row 1 was reported as saved";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(),
                 "提交失败：事务中出现过错误，PostgreSQL 服务器撤销了整个事务，没有保存任何更改");
  }
  EXPECT_EQ(count("aborted"), 0);
  // The connection is ready for the next transaction.
  backend().begin();
  backend().execute("insert into aborted values (3, 3, 'z')");
  backend().commit();
  EXPECT_EQ(count("aborted"), 1);
}

TEST_F(PgBatch, AServerThatGoesAwayMidMigrationIsReported) {
  for (const char* way : {"", "_view"}) {
    test::PgDatabase other;
    Connection c("ADOConnection1new");
    c.setConnectionString(other.address());
    other.exec("create table gone(id int primary key, v int, t text);"
               "create view gone_view as select * from gone");
    const int64_t pid = [&] {
      std::unique_ptr<Cursor> cur = c.backend().query("select pg_backend_pid()");
      std::vector<Value> row;
      cur->next(row);
      return row[0].asInt();
    }();
    Command cmd("ADOCommand1", &c);
    cmd.setCommandText(std::string("insert into gone") + way + "(id,v,t) values(:a,:b,:c)");
    c.beginTransaction();
    std::string message;
    for (int i = 1; i <= 200000 && message.empty(); ++i) {
      cmd.parameters()[0].value = integer(i);
      cmd.parameters()[1].value = integer(i);
      cmd.parameters()[2].value = text("x");
      try {
        cmd.execute();
        if (i == 3000) other.exec("select pg_terminate_backend(" + std::to_string(pid) + ")");
      } catch (const StatementError& e) {
        message = e.what();
      }
    }
    if (message.empty()) {
      try {
        cmd.finish();
      } catch (const StatementError& e) {
        message = e.what();
      }
    }
    SCOPED_TRACE(way);
    EXPECT_EQ(message.rfind(pg::kConnectionLost, 0), 0u) << message;
    const std::string password = other.address().substr(17, other.address().find('@') - 17);
    EXPECT_EQ(message.find(password), std::string::npos);
    EXPECT_THROW(c.commit(), Error);
    EXPECT_EQ(other.rows("select count(*) from gone")[0][0], "0");
  }
}
