// Runs of an insert inside a transaction travel in multi-row batches. A
// failure at run k must leave exactly runs 1 to k-1 after the commit, with
// the server's message for run k, whatever the table, the kind of failure
// and where k falls in a batch.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "data/error.h"
#include "data/mariadb/maria_connection.h"
#include "tests/mariadb/maria_fixture.h"

using namespace vov;
using vov::test::integer;
using vov::test::text;

namespace {

class MariaBatch : public test::MariaTest {
 protected:
  // A table refusing negative values, a text longer than 12 characters and
  // a null name, with a unique code.
  void makeTable(const std::string& name, const std::string& engine = "InnoDB") {
    db.exec("CREATE TABLE " + name +
            "(id INT PRIMARY KEY, v INT CHECK (v >= 0), t VARCHAR(12) NOT NULL, code INT UNIQUE)"
            " ENGINE=" + engine + "; CREATE VIEW " + name + "_view AS SELECT * FROM " + name);
  }

  struct Outcome {
    int64_t runsDone = -1;
    int64_t surfacedAt = -1;  // the run whose execute() raised it, 0 for finish()
    std::string message;
    std::string commitFailure;
  };

  // Runs rows 1..n into `target` inside a transaction the way the migration
  // does, row `bad` changed by `spoil`, and commits.
  template <class Spoil>
  Outcome migrate(const std::string& target, int64_t n, int64_t bad, Spoil spoil) {
    Outcome out;
    Command cmd("ADOCommand1", &conn);
    cmd.setCommandText("insert into " + target + "(id,v,t,code) values(:kh0,:kh1,:kh2,:kh3)");
    conn.beginTransaction();
    int64_t i = 1;
    try {
      for (; i <= n; ++i) {
        std::vector<Parameter>& p = cmd.parameters();
        p[0].value = integer(i);
        p[1].value = integer(i);
        p[2].value = text("第" + std::to_string(i) + "行");
        p[3].value = integer(i);
        if (i == bad) spoil(p);
        cmd.execute();
      }
      i = 0;
      cmd.finish();
    } catch (const StatementError& e) {
      out.runsDone = e.runsDone();
      out.surfacedAt = i;
      out.message = e.what();
    }
    try {
      conn.commit();
    } catch (const Error& e) {
      out.commitFailure = e.what();
    }
    return out;
  }
  Outcome migrate(const std::string& target, int64_t n, int64_t bad) {
    return migrate(target, n, bad, [](std::vector<Parameter>& p) { p[1].value = integer(-1); });
  }

  void expectFirstRows(const std::string& table, int64_t rows) {
    auto r = db.rows("SELECT COUNT(*), COALESCE(MIN(id), 0), COALESCE(MAX(id), 0), "
                     "SUM(t = CONCAT('第', id, '行')) FROM " + table);
    EXPECT_EQ(r[0], (std::vector<std::string>{std::to_string(rows), rows ? "1" : "0",
                                              std::to_string(rows),
                                              rows ? std::to_string(rows) : "<null>"}))
        << table;
  }
};

}  // namespace

TEST_F(MariaBatch, AFailureAtRowKKeepsExactlyTheRowsBefore) {
  // 1000 runs of four parameters make a batch: the first row, within the
  // first batch, its last row, the next batch's first row, and the very
  // last row.
  const int64_t n = 2001;
  for (const char* way : {"", "_view"}) {
    for (int64_t k : {1, 2, 432, 1000, 1001, 2001}) {
      const std::string table = "t" + std::to_string(k) + (*way ? "v" : "c");
      makeTable(table);
      Outcome o = migrate(table + way, n, k);
      SCOPED_TRACE(table + way);
      EXPECT_EQ(o.runsDone, k - 1);
      EXPECT_NE(o.message.find("CONSTRAINT `" + table + ".v` failed"), std::string::npos)
          << o.message;
      // It surfaces at the failing run or later, never earlier.
      EXPECT_TRUE(o.surfacedAt == 0 || o.surfacedAt >= k) << o.surfacedAt;
      expectFirstRows(table, k - 1);
    }
  }
}

TEST_F(MariaBatch, EachKindOfRefusalIsTheServersMessageForThatRow) {
  struct Case {
    const char* name;
    void (*spoil)(std::vector<Parameter>&);
    const char* message;
  } cases[] = {
      {"dup", [](std::vector<Parameter>& p) { p[3].value = integer(5); },
       "Duplicate entry '5' for key 'code'"},
      {"dupkey", [](std::vector<Parameter>& p) { p[0].value = integer(3); },
       "Duplicate entry '3' for key 'PRIMARY'"},
      {"nul", [](std::vector<Parameter>& p) { p[2].value = Value(); }, "Column 't' cannot be null"},
      {"longer", [](std::vector<Parameter>& p) { p[2].value = text("十三个字的文字还是太长了吧"); },
       "Data too long for column 't' at row 1"},
      {"notnum", [](std::vector<Parameter>& p) { p[1].value = text("abc"); },
       "Incorrect integer value: 'abc' for column"},
      {"rng", [](std::vector<Parameter>& p) { p[1].value = integer(1LL << 40); },
       "Out of range value for column 'v' at row 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    makeTable(c.name);
    Outcome o = migrate(c.name, 1500, 1234, c.spoil);
    EXPECT_EQ(o.runsDone, 1233);
    EXPECT_NE(o.message.find(c.message), std::string::npos) << o.message;
    expectFirstRows(c.name, 1233);
  }
}

TEST_F(MariaBatch, WithoutAFailureEveryRowArrives) {
  for (const char* way : {"", "_view"}) {
    const std::string table = std::string("all") + (*way ? "v" : "c");
    makeTable(table);
    Outcome o = migrate(table + way, 4321, 0);
    EXPECT_EQ(o.runsDone, -1) << o.message;
    expectFirstRows(table, 4321);
  }
}

TEST_F(MariaBatch, ATableThatCannotRollBackStillKeepsExactlyTheRowsBefore) {
  makeTable("plain", "MyISAM");
  Outcome o = migrate("plain", 2500, 1717);
  EXPECT_EQ(o.runsDone, 1716);
  EXPECT_NE(o.message.find("CONSTRAINT `plain.v` failed"), std::string::npos) << o.message;
  expectFirstRows("plain", 1716);
}

TEST_F(MariaBatch, AValueTooLargeForOneStatementStopsAtThatRow) {
  db.exec("CREATE TABLE blobs(id INT PRIMARY KEY, b LONGBLOB)");
  std::unique_ptr<Statement> st = backend().prepare("insert into blobs(id, b) values(?, ?)");
  const size_t packet = std::stoul(db.rows("SELECT @@max_allowed_packet")[0][0]);
  backend().begin();
  st->execute({integer(1), Value::fromBytes(std::string(packet / 4, 'a'))});
  st->execute({integer(2), Value::fromBytes(std::string(packet / 4, 'b'))});
  try {
    st->execute({integer(3), Value::fromBytes(std::string(packet + 1, 'c'))});
    FAIL();
  } catch (const StatementError& e) {
    EXPECT_EQ(e.runsDone(), 2);
    EXPECT_NE(std::string(e.what()).find("max_allowed_packet"), std::string::npos) << e.what();
  }
  // The connection goes on.
  st->execute({integer(4), Value::fromBytes("d")});
  st->finish();
  backend().commit();
  EXPECT_EQ(db.rows("SELECT GROUP_CONCAT(id ORDER BY id), SUM(LENGTH(b)) FROM blobs")[0],
            (std::vector<std::string>{"1,2,4", std::to_string(packet / 4 * 2 + 1)}));
}

TEST_F(MariaBatch, CommitWithoutFinishStillReportsTheFailure) {
  makeTable("late");
  std::unique_ptr<Statement> st = backend().prepare("insert into late(id,v,t,code) values(?,?,?,?)");
  backend().begin();
  for (int i = 1; i <= 30; ++i)
    st->execute({integer(i), integer(i == 12 ? -1 : i), text("第" + std::to_string(i) + "行"),
                 integer(i)});
  try {
    backend().commit();
    FAIL() << "the failure at row 12 was lost";
  } catch (const StatementError& e) {
    EXPECT_EQ(e.runsDone(), 11);
  }
  expectFirstRows("late", 11);
  // Reported once: the statement goes on from there.
  st->execute({integer(12), integer(12), text("第12行"), integer(12)});
  expectFirstRows("late", 12);
}

TEST_F(MariaBatch, AStatementDroppedMidBatchStillDeliversItsRuns) {
  makeTable("dropped");
  backend().begin();
  {
    std::unique_ptr<Statement> st =
        backend().prepare("insert into dropped(id,v,t,code) values(?,?,?,?)");
    for (int i = 1; i <= 1400; ++i)
      st->execute({integer(i), integer(i), text("第" + std::to_string(i) + "行"), integer(i)});
  }
  backend().commit();
  expectFirstRows("dropped", 1400);
}

TEST_F(MariaBatch, RollbackUndoesRunsInFlight) {
  makeTable("undone");
  conn.beginTransaction();
  Command cmd("ADOCommand1", &conn);
  cmd.setCommandText("insert into undone(id,v,t,code) values(:a,:b,:c,:d)");
  for (int i = 1; i <= 2500; ++i) {
    cmd.parameters()[0].value = integer(i);
    cmd.parameters()[1].value = integer(i);
    cmd.parameters()[2].value = text("x");
    cmd.execute();
  }
  conn.rollback();
  EXPECT_EQ(count("undone"), 0);
}

TEST_F(MariaBatch, TwoStatementsTakingTurnsInOneTransaction) {
  makeTable("left_t");
  makeTable("right_t");
  std::unique_ptr<Statement> a = backend().prepare("insert into left_t(id,v,t,code) values(?,?,?,?)");
  std::unique_ptr<Statement> b =
      backend().prepare("insert into right_t_view(id,v,t,code) values(?,?,?,?)");
  backend().begin();
  for (int i = 1; i <= 2200; ++i) {
    const std::string t = "第" + std::to_string(i) + "行";
    a->execute({integer(i), integer(i), text(t), integer(i)});
    b->execute({integer(i), integer(i), text(t), integer(i)});
    if (i % 700 == 0) {
      EXPECT_EQ(readAll("select count(*) from left_t")[0][0], integer(i));
    }
  }
  a->finish();
  b->finish();
  backend().commit();
  expectFirstRows("left_t", 2200);
  expectFirstRows("right_t", 2200);
}

TEST_F(MariaBatch, ADeadlockThatEndsTheTransactionIsNeverReportedAsSaved) {
  makeTable("locked");
  db.exec("CREATE TABLE heavy(id INT PRIMARY KEY)");
  // A second session, with more changes than the migration (so that the
  // server ends the migration's transaction), holds a row a later batch of
  // the migration needs, and then wants a row the migration holds.
  Connection other("other");
  other.setConnectionString(db.address());
  other.beginTransaction();
  other.backend().execute("insert into heavy select seq from seq_1_to_5000");
  other.backend().execute("insert into locked values (1500, 1, 'other', 1500)");
  Outcome o;
  std::thread migration([&] { o = migrate("locked", 3000, 0); });
  // Until the migration waits for the row (the status may also tell of an
  // earlier deadlock, before the list of transactions).
  for (int i = 0; i < 300; ++i) {
    const std::string status = db.rows("SHOW ENGINE INNODB STATUS")[0][2];
    if (status.find("TO BE GRANTED", status.find("LIST OF TRANSACTIONS")) != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  other.backend().execute("update locked set v = 4 where id = 5");
  other.commit();
  migration.join();
  EXPECT_NE(o.message.find("Deadlock"), std::string::npos) << o.message;
  EXPECT_NE(o.message.find("撤销了整个事务"), std::string::npos) << o.message;
  EXPECT_NE(o.commitFailure.find("撤销了整个事务"), std::string::npos) << o.commitFailure;
  EXPECT_EQ(db.rows("SELECT GROUP_CONCAT(id) FROM locked")[0][0], "1500");
}

TEST_F(MariaBatch, AConnectionKilledMidMigrationIsReported) {
  for (const char* way : {"", "_view"}) {
    test::MariaDatabase other;
    Connection c("ADOConnection1new");
    c.setConnectionString(other.address());
    other.exec("CREATE TABLE gone(id INT PRIMARY KEY, v INT, t TEXT, code INT);"
               "CREATE VIEW gone_view AS SELECT * FROM gone");
    const int64_t id = [&] {
      std::unique_ptr<Cursor> cur = c.backend().query("select connection_id()");
      std::vector<Value> row;
      cur->next(row);
      return row[0].asInt();
    }();
    Command cmd("ADOCommand1", &c);
    cmd.setCommandText(std::string("insert into gone") + way + "(id,v,t,code) values(:a,:b,:c,:d)");
    c.beginTransaction();
    std::string message;
    for (int i = 1; i <= 200000 && message.empty(); ++i) {
      cmd.parameters()[0].value = integer(i);
      cmd.parameters()[1].value = integer(i);
      cmd.parameters()[2].value = text("x");
      try {
        cmd.execute();
        if (i == 3000) other.exec("KILL " + std::to_string(id));
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
    EXPECT_EQ(message.rfind(maria::kConnectionLost, 0), 0u) << message;
    EXPECT_EQ(message.find(test::mariaPassword(other.address())), std::string::npos);
    EXPECT_THROW(c.commit(), Error);
    EXPECT_EQ(other.rows("SELECT COUNT(*) FROM gone")[0][0], "0");
  }
}
