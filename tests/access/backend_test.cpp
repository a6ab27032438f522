// The Access backend as the program uses it: names, refused writes, bad
// files, the grid's windows, the export, and the watch over the reader.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "data/access/access_backend.h"
#include "data/connection_string.h"
#include "data/engine.h"
#include "data/error.h"
#include "data/interrupt.h"
#include "tests/access/access_support.h"
#include "tests/support/test_support.h"

using namespace vov;

namespace {

std::string nwind() { return test::testData("access/nwind.mdb"); }

std::string openError(const std::string& path) {
  try {
    openAccessBackend(path);
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

template <typename F>
std::string errorOf(F&& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.what();
  }
  return "no error";
}

void makeScript(const std::string& path, const std::string& body) {
  test::writeFile(path, "#!/bin/sh\n" + body + "\n");
  chmod(path.c_str(), 0755);
}

// Fields of CSV text: quotes removed, doubled quotes undone, line breaks
// inside quotes kept; rows end at LF or CR LF.
std::vector<std::vector<std::string>> csvFields(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1);
  std::string field;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') field += text[i++];
      else if (c == '"') quoted = false;
      else field += c;
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      rows.back().push_back(field);
      field.clear();
    } else if (c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
      if (c == '\r') ++i;
      rows.back().push_back(field);
      field.clear();
      rows.emplace_back();
    } else {
      field += c;
    }
  }
  rows.pop_back();  // after the last line break
  return rows;
}

}  // namespace

TEST(AccessBackend, NamesWithBlanksAndAccents) {
  auto b = openAccessBackend(nwind());
  EXPECT_EQ(b->tableNames(),
            (std::vector<std::string>{"Order Details", "Orders", "Products", "Shippers", "Categories",
                                      "Customers", "Employees", "Suppliers", "Umsätze"}));
  EXPECT_EQ(test::readAll(*b, "select * from Order Details").size(), 2155u) << "a bare name with a blank";
  EXPECT_EQ(test::readAll(*b, "select * from Order Details where OrderID = 10248 ;").size(), 3u);
  EXPECT_EQ(test::readAll(*b, "SELECT * FROM [Order Details] WHERE OrderID = 10248").size(), 3u);
  EXPECT_EQ(test::readAll(*b, "select * from Umsätze ;").size(), 830u);
  EXPECT_EQ(test::readAll(*b, "select * from \"UMSÄTZE\"").size(), 830u);
  EXPECT_EQ(test::readAll(*b, "select * from `umsätze` where OrderID < 10250").size(), 2u);
  EXPECT_EQ(b->quoteName("Order Details"), "[Order Details]");

  auto sample = openAccessBackend(test::testData("access/ASampleDatabase.accdb"));
  std::vector<FieldInfo> fields = sample->tableFields("Asset Items");
  ASSERT_FALSE(fields.empty());
  EXPECT_EQ(fields[0].name, "Asset No");
  auto rows = test::readAll(*sample, "select * from Asset Items where [Asset No] = '30050'");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][2], Value::fromText("GEO Rocket"));
  EXPECT_EQ(rows[0][12], Value()) << "a null memo stays null in the backend";
}

// libmdb flags only some system objects; names tell the rest.
TEST(AccessBackend, SystemAndTemporaryTablesAreLeftOut) {
  test::TempDir dir;
  const std::string path = test::copyTestData(dir, "access/types_jet3.mdb");
  std::string bytes = test::readFile(path);
  auto rename = [&](const std::string& from, const std::string& to) {
    for (size_t at = bytes.find(from); at != std::string::npos; at = bytes.find(from, at))
      bytes.replace(at, from.size(), to);
  };
  rename("Table2", "MSysCE");  // as MSysCompactError, which some ACE files carry
  rename("Table3", "~TMP01");  // Access's scratch tables
  test::writeFile(path, bytes);
  auto b = openAccessBackend(path);
  EXPECT_EQ(b->tableNames(), (std::vector<std::string>{"Table1", "Table4"}));
  EXPECT_NE(errorOf([&] { b->tableFields("MSysCE"); }).find("没有表"), std::string::npos);
}

TEST(AccessBackend, WritesAreRefusedAndTheFileIsUnchanged) {
  test::TempDir dir;
  const std::string path = test::copyTestData(dir, "access/nwind.mdb");
  const std::string before = test::readFile(path);
  Connection conn("ADOConnection1new");
  conn.setConnectionString(buildConnectionString(path));
  conn.open();

  Command insert("ADOCommand1", &conn);
  insert.setCommandText("insert into Shippers (CompanyName, Phone) values (:a, :b)");
  insert.parameters()[0].value = Value::fromText("New");
  // Rows go only into Jet 4 and ACE files.
  EXPECT_NE(errorOf([&] { insert.execute(); }).find("Access 97"), std::string::npos);
  for (const char* sql : {"delete from Shippers", "update Shippers set Phone = '1'",
                          "drop table Shippers", "create table t (a int)",
                          "select * into Copy from Shippers", "anything at all"})
    EXPECT_EQ(errorOf([&] { conn.execute(sql); }), kAccessReadOnlyMessage) << sql;
  EXPECT_EQ(errorOf([&] { conn.backend().prepare("select * from Shippers"); }), kAccessReadOnlyMessage);
  conn.execute("select * from Shippers");  // reading through execute is fine

  DataSet grid("ADODataSet1new", &conn);
  grid.setBrowsable(true);
  grid.setCommandText("select * from Shippers");
  grid.open();
  ASSERT_NE(grid.browser(), nullptr);
  TableBrowser& rows = *grid.browser();
  EXPECT_EQ(rows.readOnlyReason(), kAccessReadOnlyMessage);
  EXPECT_EQ(errorOf([&] { rows.update(RowKey{Value::fromInt(0)}, {{1, Value::fromText("x")}}); }),
            kAccessReadOnlyMessage);
  EXPECT_EQ(errorOf([&] { rows.insert({{1, Value::fromText("x")}}); }), kAccessReadOnlyMessage);
  EXPECT_EQ(errorOf([&] { rows.remove(RowKey{Value::fromInt(0)}); }), kAccessReadOnlyMessage);
  grid.close();
  conn.close();

  EXPECT_TRUE(test::readFile(path) == before) << "the file's bytes changed";
}

TEST(AccessBackend, BadFilesFailWithAClearMessage) {
  test::TempDir dir;
  EXPECT_EQ(openError(dir.file("missing.mdb")), "找不到 Access 文件“" + dir.file("missing.mdb") + "”");

  test::writeFile(dir.file("empty.mdb"), "");
  EXPECT_EQ(openError(dir.file("empty.mdb")), "Access 文件“" + dir.file("empty.mdb") + "”是空文件");

  test::writeFile(dir.file("text.mdb"), "Name,Phone\nSpeedy,555\n");
  EXPECT_EQ(openError(dir.file("text.mdb")), "“" + dir.file("text.mdb") + "”不是 Access 数据库文件");
  test::makeSqlite(dir.file("lite.mdb"), "create table t(a);");
  EXPECT_EQ(openError(dir.file("lite.mdb")), "“" + dir.file("lite.mdb") + "”不是 Access 数据库文件");
  EXPECT_NE(openError(dir.path()).find("是文件夹"), std::string::npos);

  const std::string whole = test::readFile(nwind());
  test::writeFile(dir.file("cut.mdb"), whole.substr(0, 100000));
  EXPECT_NE(openError(dir.file("cut.mdb")).find("不完整（文件被截断）"), std::string::npos);
  // Cut at a page boundary the file looks whole until a page is missing.
  test::writeFile(dir.file("cut-page.mdb"), whole.substr(0, 2048 * 300));
  std::string cut = openError(dir.file("cut-page.mdb"));
  if (cut.empty()) {
    auto b = openAccessBackend(dir.file("cut-page.mdb"));
    cut = errorOf([&] {
      for (const std::string& t : b->tableNames()) test::readAll(*b, "select * from [" + t + "]");
    });
  }
  EXPECT_TRUE(cut.find("不完整") != std::string::npos || cut.find("已损坏") != std::string::npos) << cut;

  // An ACE file encrypted with a password keeps a non-zero key in its
  // (RC4-masked) header; flipping a byte of the key field makes one.
  std::string ace = test::readFile(test::testData("access/ASampleDatabase.accdb"));
  ace[0x3E] = static_cast<char>(ace[0x3E] ^ 0x5A);
  test::writeFile(dir.file("locked.accdb"), ace);
  EXPECT_NE(openError(dir.file("locked.accdb")).find("已加密"), std::string::npos);

  // Through the connection string as the main window opens files.
  Connection conn("ADOConnection2old");
  conn.setConnectionString(buildConnectionString(dir.file("cut.mdb")));
  EXPECT_NE(errorOf([&] { conn.open(); }).find("不完整"), std::string::npos);
  EXPECT_FALSE(conn.connected());
  EXPECT_TRUE(test::noChildProcesses());
}

TEST(AccessBackend, GridWindowsFollowTheTableOrder) {
  auto b = openAccessBackend(nwind());
  const auto all = test::readAll(*b, "select * from [Order Details]");
  auto browser = b->browse("select * from Order Details");
  ASSERT_NE(browser, nullptr);
  EXPECT_EQ(browser->rowCount(), 2155);
  EXPECT_EQ(browser->fields().size(), 5u);
  auto window = [&](int64_t first, int count) {
    std::vector<BrowseRow> out;
    browser->fetch(first, count, out);
    for (size_t i = 0; i < out.size(); ++i) {
      EXPECT_EQ(out[i].values, all[static_cast<size_t>(first) + i]) << "row " << first + i;
      EXPECT_EQ(out[i].key, RowKey{Value::fromInt(first + static_cast<int64_t>(i))});
    }
    return out.size();
  };
  EXPECT_EQ(window(0, 100), 100u);
  EXPECT_EQ(window(100, 100), 100u);     // reading on
  EXPECT_EQ(window(50, 10), 10u);        // back: a new reader
  EXPECT_EQ(window(2100, 100), 55u);     // far ahead, to the end
  EXPECT_EQ(window(2155, 10), 0u);
  EXPECT_EQ(window(1000, 3), 3u);
  EXPECT_EQ(b->browse("select * from Orders where OrderID = 1"), nullptr);
  EXPECT_NE(errorOf([&] { b->browse("select * from Nothing"); }).find("没有表"), std::string::npos);

  // The main window's preview reads through the same browser.
  Connection conn("ADOConnection2old");
  conn.setConnectionString(buildConnectionString(nwind()));
  DataSet preview("ADODataSet2old", &conn);
  preview.setBrowsable(true);
  preview.setCommandText("select * from Order Details");
  preview.open();
  size_t n = 0;
  for (; !preview.eof(); preview.next(), ++n) ASSERT_EQ(preview.fieldByName("Quantity").value(), all[n][3]);
  EXPECT_EQ(n, all.size());
}

TEST(AccessBackend, ReadersEndWithTheirCursor) {
  auto b = openAccessBackend(nwind());
  {
    auto cursor = b->query("select * from Orders");
    std::vector<Value> row;
    ASSERT_TRUE(cursor->next(row));
  }
  EXPECT_TRUE(test::noChildProcesses());
  auto browser = b->browse("select * from Orders");
  std::vector<BrowseRow> out;
  browser->fetch(0, 5, out);
  browser.reset();
  EXPECT_TRUE(test::noChildProcesses());
}

// The text driver quotes text only; mdb-export also quotes dates.
TEST(AccessBackend, ExportMatchesMdbExport) {
  test::TempDir dir;
  Connection conn("ADOConnection2old");
  conn.setConnectionString(buildConnectionString(nwind()));
  conn.execute("Select * Into [Text;Database=" + dir.path() + "/].orders.TXT From Orders");
  auto ours = csvFields(test::readFile(dir.file("orders.TXT")));
  auto theirs = csvFields(test::runCommand("mdb-export -D '%Y-%m-%d %H:%M:%S' -T '%Y-%m-%d %H:%M:%S' " +
                                           test::shellQuote(nwind()) + " Orders"));
  EXPECT_EQ(ours.size(), 831u);
  EXPECT_EQ(ours, theirs);
}

// A row that grew too big for its page moves; its old place keeps the new
// address (flag 0x4000) and the new place is marked deleted (0x8000), so
// the row is read once, where it was. Jet 3 here; Jet 4 in a real file in
// the values tests.
TEST(AccessBackend, MovedRowsAreFollowed) {
  test::TempDir dir;
  const std::string path = test::copyTestData(dir, "access/types_jet3.mdb");
  std::string bytes = test::readFile(path);
  const size_t pageSize = 2048;
  size_t page = 0;
  for (size_t p = 1; p * pageSize < bytes.size(); ++p)
    if (bytes[p * pageSize] == 1 && bytes.substr(p * pageSize, pageSize).find("hijklmnop") != std::string::npos)
      page = p;
  ASSERT_NE(page, 0u);
  const size_t base = page * pageSize;
  auto u16 = [&](size_t at) {
    return static_cast<unsigned>(static_cast<unsigned char>(bytes[at]) |
                                 (static_cast<unsigned char>(bytes[at + 1]) << 8));
  };
  auto put16 = [&](size_t at, unsigned v) {
    bytes[at] = static_cast<char>(v & 0xFF);
    bytes[at + 1] = static_cast<char>(v >> 8);
  };
  ASSERT_EQ(u16(base + 8), 2u);  // Jet 3: the row count, then the row offsets
  const unsigned start0 = u16(base + 10) & 0x1FFF, start1 = u16(base + 12) & 0x1FFF;
  ASSERT_NE(bytes.substr(base + start1, start0 - start1).find("hijklmnop"), std::string::npos);
  bytes[base + start0] = 1;  // row 0 now says: I am row 1 of this page
  bytes[base + start0 + 1] = static_cast<char>(page & 0xFF);
  bytes[base + start0 + 2] = static_cast<char>((page >> 8) & 0xFF);
  bytes[base + start0 + 3] = static_cast<char>(page >> 16);
  put16(base + 10, u16(base + 10) | 0x4000);
  put16(base + 12, u16(base + 12) | 0x8000);
  test::writeFile(path, bytes);

  auto b = openAccessBackend(path);
  auto rows = test::readAll(*b, "select * from Table1");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], Value::fromText("abcdefg"));
  EXPECT_EQ(rows[0][4], Value::fromInt(333333333));
  auto browser = b->browse("select * from Table1");
  EXPECT_EQ(browser->rowCount(), 1);
}

TEST(AccessBackend, ASilentOrDyingReaderIsStopped) {
  test::TempDir dir;
  test::ScopedEnv quick("VOVARIZE_MDB_TIMEOUT_MS", "300");
  const std::string reader = dir.file("reader");

  makeScript(reader, "exec sleep 30");
  {
    test::ScopedEnv use("VOVARIZE_MDB_READER", reader);
    auto start = std::chrono::steady_clock::now();
    EXPECT_NE(openError(nwind()).find("长时间没有响应"), std::string::npos);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << "not stopped";
  }
  makeScript(reader, "kill -SEGV $$");
  {
    test::ScopedEnv use("VOVARIZE_MDB_READER", reader);
    EXPECT_NE(openError(nwind()).find("异常终止，信号 11"), std::string::npos);
  }
  makeScript(reader, "echo hello");
  {
    test::ScopedEnv use("VOVARIZE_MDB_READER", reader);
    EXPECT_NE(openError(nwind()).find("不符合约定"), std::string::npos);
  }
  {
    test::ScopedEnv use("VOVARIZE_MDB_READER", dir.file("no-such-reader"));
    EXPECT_NE(openError(nwind()).find("无法启动"), std::string::npos);
  }
  EXPECT_TRUE(test::noChildProcesses());
}

// A stop asked for by another thread, with no signal to cut the wait
// short, ends a wait on a busy reader within moments, not at the reader's
// time-out, and ends the reader too.
TEST(AccessBackend, AStopRequestEndsAWaitOnTheReader) {
  test::TempDir dir;
  test::ScopedEnv patient("VOVARIZE_MDB_TIMEOUT_MS", "600000");
  const std::string reader = dir.file("reader");
  makeScript(reader, "exec sleep 600");
  test::ScopedEnv use("VOVARIZE_MDB_READER", reader);
  std::thread stopper([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    requestInterrupt();
  });
  EXPECT_THROW(openAccessBackend(nwind()), Abort);
  stopper.join();
  clearInterrupt();
  EXPECT_TRUE(test::noChildProcesses());
}

// libmdb dumps a table's damaged property block (here: each "KKD" block
// signature overwritten) as hexadecimal text on standard output. That text
// used to land in the reader's pipe and made every table of the file
// unreadable; the properties play no part in the rows.
TEST(AccessBackend, LibmdbsOwnOutputNeverReachesTheProgram) {
  test::TempDir dir;
  std::string bytes = test::readFile(nwind());
  int blocks = 0;
  for (size_t at = bytes.find(std::string("KKD\0", 4)); at != std::string::npos;
       at = bytes.find(std::string("KKD\0", 4), at + 1), ++blocks)
    bytes[at] = 'Z';
  ASSERT_GT(blocks, 10);
  const std::string damaged = dir.file("props.mdb");
  test::writeFile(damaged, bytes);
  auto good = openAccessBackend(nwind());
  auto bad = openAccessBackend(damaged);
  ASSERT_EQ(bad->tableNames(), good->tableNames());
  for (const std::string& t : good->tableNames()) {
    const std::string sql = "select * from [" + t + "]";
    EXPECT_EQ(test::readAll(*bad, sql), test::readAll(*good, sql)) << t;
  }
}

// A reader that says it is still working but gets no further, or one that
// announces a text longer than the file could hold, is stopped at once,
// like a silent one, and nothing of that size is allocated.
TEST(AccessBackend, AReaderThatTalksWithoutProgressOrAnnouncesTooMuchIsStopped) {
  test::TempDir dir;
  // Far longer than the test runs: only the rules below can stop them.
  test::ScopedEnv patient("VOVARIZE_MDB_TIMEOUT_MS", "600000");
  const std::string reader = dir.file("reader");
  makeScript(reader, "while :; do printf 'P\\007\\000\\000\\000'; sleep 0.05; done");
  {
    test::ScopedEnv use("VOVARIZE_MDB_READER", reader);
    EXPECT_NE(openError(nwind()).find("一直没有进展"), std::string::npos) << openError(nwind());
  }
  // Pages beyond the end of the file are no progress either.
  makeScript(reader, "printf 'P\\000\\000\\000\\001'; exec sleep 600");
  {
    test::ScopedEnv use("VOVARIZE_MDB_READER", reader);
    EXPECT_NE(openError(nwind()).find("一直没有进展"), std::string::npos);
  }
  makeScript(reader, "printf 'T\\377\\377\\377\\177'; exec sleep 600");
  {
    test::ScopedEnv use("VOVARIZE_MDB_READER", reader);
    EXPECT_NE(openError(nwind()).find("超出了文件所能容纳的"), std::string::npos) << openError(nwind());
  }
  EXPECT_TRUE(test::noChildProcesses());
}
