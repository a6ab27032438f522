// The migration's speed and memory against the fastest ways to do the same
// copy without the tool.
//
// SQLite source (8 columns: integer key, VARCHAR(20), VARCHAR(50) of Chinese
// text, TEXT with every seventh value null, integer, real, date text,
// boolean) into an SQLite table with an auto-increment key, the same
// columns and a VARCHAR(10) filled by a default value; the VARCHAR(50) goes
// into a VARCHAR(30), so it is cut:
//   (a) ATTACH + INSERT INTO ... SELECT inside SQLite,
//   (b) a bare C loop over the SQLite API in one transaction,
//   (c) vovarize-batch with the equivalent mapping list file.
// Then Access: the largest tables of nwind.mdb migrated repeatedly into
// SQLite by vovarize-batch against mdb-export -I sqlite piped into sqlite3
// in one transaction.
//
//   migration_bench [rows] [access rounds]     (1000000 and 20 by default)
//
// Each time is the best of three runs into a fresh copy of the empty
// destination. Peak memory is the child's maximum resident set size.
#include <spawn.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const int kRuns = 5;
const int kCut = 30;

double msSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

[[noreturn]] void die(const std::string& what) {
  std::fprintf(stderr, "migration_bench: %s\n", what.c_str());
  std::exit(1);
}

void exec(sqlite3* db, const std::string& sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK)
    die(sql.substr(0, 60) + ": " + (err ? err : "?"));
}

sqlite3* openDb(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) die("cannot open " + path);
  return db;
}

sqlite3_stmt* prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
    die(sql + ": " + sqlite3_errmsg(db));
  return st;
}

long long scalar(const std::string& path, const std::string& sql,
                 const std::string& attach = std::string()) {
  sqlite3* db = openDb(path);
  if (!attach.empty()) exec(db, "attach '" + attach + "' as l");
  sqlite3_stmt* st = prepare(db, sql);
  long long v = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
  sqlite3_finalize(st);
  sqlite3_close(db);
  return v;
}

void makeSource(const std::string& path, long rows) {
  static const char* const words[] = {"华东", "贸易", "有限", "公司", "北京", "上海", "广州",
                                      "深圳", "电子", "科技", "食品", "服装", "机械", "物流"};
  fs::remove(path);
  sqlite3* db = openDb(path);
  exec(db, "create table src(id integer primary key, code varchar(20), name varchar(50),"
           " note text, qty integer, price real, day text, flag boolean)");
  exec(db, "begin");
  sqlite3_stmt* ins = prepare(db, "insert into src values(?,?,?,?,?,?,?,?)");
  char buf[64];
  for (long i = 1; i <= rows; ++i) {
    std::snprintf(buf, sizeof buf, "C%08ld-%04ld", i, i % 9973);
    sqlite3_bind_int64(ins, 1, i);
    sqlite3_bind_text(ins, 2, buf, -1, SQLITE_TRANSIENT);
    // 12 to 34 Chinese characters; the longest are cut to 30.
    std::string name;
    for (long w = 0; w < 6 + i % 12; ++w) name += words[(i * 7 + w * 3) % 14];
    sqlite3_bind_text(ins, 3, name.c_str(), -1, SQLITE_TRANSIENT);
    if (i % 7 == 0) {
      sqlite3_bind_null(ins, 4);
    } else {
      std::string note = "备注 " + std::to_string(i) + " remark text of medium length";
      sqlite3_bind_text(ins, 4, note.c_str(), -1, SQLITE_TRANSIENT);
    }
    sqlite3_bind_int64(ins, 5, i % 1000);
    sqlite3_bind_double(ins, 6, (i % 100000) / 100.0);
    std::snprintf(buf, sizeof buf, "20%02ld-%02ld-%02ld 12:%02ld:00", i % 25, 1 + i % 12,
                  1 + i % 28, i % 60);
    sqlite3_bind_text(ins, 7, buf, -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(ins, 8, i % 2);
    if (sqlite3_step(ins) != SQLITE_DONE) die(sqlite3_errmsg(db));
    sqlite3_reset(ins);
  }
  sqlite3_finalize(ins);
  exec(db, "commit");
  sqlite3_close(db);
}

const char kDestination[] =
    "create table dst(k integer primary key autoincrement, id integer, code varchar(20),"
    " name varchar(30), note text, qty integer, price real, day text, flag boolean,"
    " origin varchar(10))";

const char kMapping[] =
    "src->id    >> dst->id\r\n"
    "src->code  >> dst->code\r\n"
    "src->name  >> dst->name\r\n"
    "src->note  >> dst->note\r\n"
    "src->qty   >> dst->qty\r\n"
    "src->price >> dst->price\r\n"
    "src->day   >> dst->day\r\n"
    "src->flag  >> dst->flag\r\n"
    "迁移 >> dst->origin\r\n";

void freshDestination(const std::string& path, const std::string& schema) {
  fs::remove(path);
  fs::remove(path + "-journal");
  sqlite3* db = openDb(path);
  exec(db, schema);
  sqlite3_close(db);
}

void copyBySelect(const std::string& source, const std::string& dest) {
  sqlite3* db = openDb(dest);
  exec(db, "attach '" + source + "' as old");
  exec(db, "begin");
  exec(db, "insert into dst(id, code, name, note, qty, price, day, flag, origin)"
           " select id, code, substr(name, 1, 30), note, qty, price, day, flag, '迁移'"
           " from old.src");
  exec(db, "commit");
  sqlite3_close(db);
}

// Bytes of the first `n` characters of UTF-8 text.
int prefixBytes(const unsigned char* s, int len, int n) {
  int chars = 0;
  for (int i = 0; i < len; ++i)
    if ((s[i] & 0xC0) != 0x80 && chars++ == n) return i;
  return len;
}

void copyByLoop(const std::string& source, const std::string& dest) {
  sqlite3* in = openDb(source);
  sqlite3* out = openDb(dest);
  exec(out, "begin");
  sqlite3_stmt* sel = prepare(in, "select id, code, name, note, qty, price, day, flag from src");
  sqlite3_stmt* ins = prepare(out, "insert into dst(id, code, name, note, qty, price, day, flag,"
                                   " origin) values(?,?,?,?,?,?,?,?,?)");
  while (sqlite3_step(sel) == SQLITE_ROW) {
    for (int i = 0; i < 8; ++i) {
      if (i == 2 && sqlite3_column_type(sel, i) == SQLITE_TEXT) {
        const unsigned char* t = sqlite3_column_text(sel, i);
        int len = sqlite3_column_bytes(sel, i);
        sqlite3_bind_text(ins, i + 1, reinterpret_cast<const char*>(t),
                          prefixBytes(t, len, kCut), SQLITE_STATIC);
      } else {
        sqlite3_bind_value(ins, i + 1, sqlite3_column_value(sel, i));
      }
    }
    sqlite3_bind_text(ins, 9, "迁移", -1, SQLITE_STATIC);
    if (sqlite3_step(ins) != SQLITE_DONE) die(sqlite3_errmsg(out));
    sqlite3_reset(ins);
  }
  sqlite3_finalize(sel);
  sqlite3_finalize(ins);
  exec(out, "commit");
  sqlite3_close(out);
  sqlite3_close(in);
}

struct ChildRun {
  double ms = 0;
  long peakKb = 0;
};

// Runs a program (or "sh -c" text), its output going to `out`.
ChildRun runChild(const std::vector<std::string>& words, const std::string& out = "/dev/null") {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> argv;
  std::vector<std::string> copy = words;
  for (auto& w : copy) argv.push_back(w.data());
  argv.push_back(nullptr);
  Clock::time_point start = Clock::now();
  pid_t pid;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
    die("cannot start " + words[0]);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  ChildRun r;
  r.ms = msSince(start);
  r.peakKb = usage.ru_maxrss;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) die(words[0] + " failed");
  return r;
}

template <typename F>
double bestOf(const std::string& dest, const std::string& schema, F run) {
  double best = 1e300;
  for (int i = 0; i < kRuns; ++i) {
    freshDestination(dest, schema);
    Clock::time_point start = Clock::now();
    run();
    best = std::min(best, msSince(start));
  }
  return best;
}

struct SqliteFigures {
  double a, b, c;
  long peakKb;
};

SqliteFigures sqliteRound(const std::string& work, const std::string& batch, long rows) {
  const std::string source = work + "/source.db";
  const std::string dest = work + "/dest.db";
  const std::string map = work + "/map.TXT";
  std::printf("\n%ld rows: making the source ...\n", rows);
  std::fflush(stdout);
  makeSource(source, rows);
  std::ofstream(map, std::ios::binary) << kMapping;

  SqliteFigures f{};
  f.a = bestOf(dest, kDestination, [&] { copyBySelect(source, dest); });
  std::printf("  (a) ATTACH + INSERT ... SELECT   %9.0f ms\n", f.a);
  f.b = bestOf(dest, kDestination, [&] { copyByLoop(source, dest); });
  std::printf("  (b) bare C loop                  %9.0f ms\n", f.b);
  const std::string loopCopy = work + "/loop.db";
  fs::copy_file(dest, loopCopy, fs::copy_options::overwrite_existing);
  f.c = 1e300;
  for (int i = 0; i < kRuns; ++i) {
    freshDestination(dest, kDestination);
    ChildRun r = runChild({batch, "--old", source, "--new", dest, "--map", map});
    f.c = std::min(f.c, r.ms);
    f.peakKb = std::max(f.peakKb, r.peakKb);
  }
  std::printf("  (c) vovarize-batch               %9.0f ms, peak memory %.1f MB\n", f.c,
              f.peakKb / 1024.0);
  std::printf("  c/b = %.2f   c/a = %.2f\n", f.c / f.b, f.c / f.a);

  // The same rows, the null memo values null in both.
  long long differ = scalar(dest, "select count(*) from dst d"
                                  " join l.dst b on b.k = d.k where d.id is not b.id or"
                                  " d.code is not b.code or d.name is not b.name or"
                                  " d.note is not b.note or d.qty is not b.qty or"
                                  " d.price is not b.price or d.day is not b.day or"
                                  " d.flag is not b.flag or d.origin is not b.origin",
                            loopCopy);
  long long count = scalar(dest, "select count(*) from dst");
  std::printf("  rows in (c): %lld, rows differing from (b): %lld\n", count, differ);
  if (count != rows || differ != 0) die("(c) did not copy the rows as (b) did");
  fs::remove(loopCopy);
  return f;
}

const char kAccessSchema[] =
    "create table \"Order Details\"(OrderID integer, ProductID integer, UnitPrice real,"
    " Quantity integer, Discount real);"
    "create table Orders(OrderID integer, CustomerID varchar(5), EmployeeID integer,"
    " OrderDate datetime, RequiredDate datetime, ShippedDate datetime, ShipVia integer,"
    " Freight real, ShipName varchar(40), ShipAddress varchar(60), ShipCity varchar(15),"
    " ShipRegion varchar(15), ShipPostalCode varchar(10), ShipCountry varchar(15));"
    "create table Customers(CustomerID varchar(5), CompanyName varchar(40),"
    " ContactName varchar(30), ContactTitle varchar(30), Address varchar(60), City varchar(15),"
    " Region varchar(15), PostalCode varchar(10), Country varchar(15), Phone varchar(24),"
    " Fax varchar(24));";

struct AccessTable {
  const char* name;
  std::vector<const char*> fields;
};

const AccessTable kAccessTables[] = {
    {"Order Details", {"OrderID", "ProductID", "UnitPrice", "Quantity", "Discount"}},
    {"Orders", {"OrderID", "CustomerID", "EmployeeID", "OrderDate", "RequiredDate", "ShippedDate",
                "ShipVia", "Freight", "ShipName", "ShipAddress", "ShipCity", "ShipRegion",
                "ShipPostalCode", "ShipCountry"}},
    {"Customers", {"CustomerID", "CompanyName", "ContactName", "ContactTitle", "Address", "City",
                   "Region", "PostalCode", "Country", "Phone", "Fax"}},
};

std::string shellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

void accessRound(const std::string& work, const std::string& batch, const std::string& mdb,
                 int rounds) {
  const std::string dest = work + "/access.db";
  std::vector<std::string> maps;
  for (const AccessTable& t : kAccessTables) {
    std::string text;
    for (const char* f : t.fields)
      text += std::string(t.name) + "->" + f + " >> " + t.name + "->" + f + "\r\n";
    maps.push_back(work + "/" + t.name + ".TXT");
    std::ofstream(maps.back(), std::ios::binary) << text;
  }
  std::printf("\nAccess: %s, tables Order Details, Orders, Customers, %d rounds\n", mdb.c_str(),
              rounds);
  std::fflush(stdout);

  // The engine's own time of each run is the figure vovarize-batch prints
  // at the end ("用时<n>毫秒": from opening the old rows to the commit).
  const std::string out = work + "/batch.out";
  double engine = 0;
  double tool = bestOf(dest, kAccessSchema, [&] {
    engine = 0;
    for (int r = 0; r < rounds; ++r)
      for (size_t t = 0; t < maps.size(); ++t) {
        runChild({batch, "--old", mdb, "--new", dest, "--map", maps[t]}, out);
        std::ifstream in(out);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        size_t at = text.rfind("用时");
        if (at == std::string::npos) die("no elapsed time in the output of vovarize-batch");
        engine += std::atof(text.c_str() + at + std::strlen("用时"));
      }
  });
  long long toolRows = scalar(dest, "select (select count(*) from \"Order Details\") +"
                                    " (select count(*) from Orders) + (select count(*) from Customers)");
  double pipe = bestOf(dest, kAccessSchema, [&] {
    for (int r = 0; r < rounds; ++r)
      for (const AccessTable& t : kAccessTables)
        runChild({"sh", "-c",
                  "{ echo 'begin;'; mdb-export -I sqlite -T '%Y-%m-%d %H:%M:%S' " +
                      shellQuote(mdb) + " " + shellQuote(t.name) + "; echo 'commit;'; } | sqlite3 " +
                      shellQuote(dest)});
  });
  long long pipeRows = scalar(dest, "select (select count(*) from \"Order Details\") +"
                                    " (select count(*) from Orders) + (select count(*) from Customers)");
  double start = 1e300;
  for (int i = 0; i < kRuns; ++i) {
    Clock::time_point t0 = Clock::now();
    for (int r = 0; r < rounds * 3; ++r) runChild({batch, "--help"});
    start = std::min(start, msSince(t0));
  }
  const int runs = rounds * 3;
  std::printf("  vovarize-batch, whole runs         %9.0f ms (%lld rows), %.1f ms a run\n", tool,
              toolRows, tool / runs);
  std::printf("    of which the engine (用时)       %9.0f ms, %.1f ms a run\n", engine,
              engine / runs);
  std::printf("    starting the program alone       %9.0f ms, %.1f ms a run\n", start,
              start / runs);
  std::printf("  mdb-export -I sqlite | sqlite3     %9.0f ms (%lld rows), %.1f ms a run\n", pipe,
              pipeRows, pipe / runs);
  std::printf("  pipeline / vovarize-batch = %.2f, pipeline / engine = %.2f (target: at least 3)\n",
              pipe / tool, pipe / engine);
  if (toolRows != pipeRows) die("the two ways copied different numbers of rows");
}

}  // namespace

int main(int argc, char** argv) {
  long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
  int rounds = argc > 2 ? std::atoi(argv[2]) : 20;
  if (rows < 100000 || rounds < 1) die("usage: migration_bench [rows >= 100000] [access rounds]");

  const std::string bin = fs::canonical("/proc/self/exe").parent_path().string();
  const std::string batch = bin + "/vovarize-batch";
  if (!fs::exists(batch)) die("vovarize-batch not found beside the benchmark");
  std::string work = (fs::temp_directory_path() / "vovarize-bench-XXXXXX").string();
  if (!mkdtemp(&work[0])) die("mkdtemp failed");

  SqliteFigures small = sqliteRound(work, batch, 100000);
  SqliteFigures large = sqliteRound(work, batch, rows);
  std::printf("\nSummary\n");
  std::printf("  c/b at %ld rows: %.2f (target: at most 1.2)\n", rows, large.c / large.b);
  std::printf("  c/a at %ld rows: %.2f\n", rows, large.c / large.a);
  std::printf("  peak memory of (c): %.1f MB at 100000 rows, %.1f MB at %ld rows"
              " (target: under 64 MB, the same at both)\n",
              small.peakKb / 1024.0, large.peakKb / 1024.0, rows);

  accessRound(work, batch, VOV_TESTDATA "/access/nwind.mdb", rounds);
  fs::remove_all(work);
  return 0;
}
