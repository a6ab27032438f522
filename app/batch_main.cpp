// vovarize-batch: replays a mapping list saved in the mapping window, or
// exports an old table to a text file, without the GUI. It opens the
// databases and runs the migration or export exactly as the window does.
//
// Exit codes: 0 done, 1 an error or Ctrl-C (the message on standard error;
// rows already inserted stay), 2 wrong arguments (usage on standard error).
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <exception>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/error_text.h"
#include "data/data_module.h"
#include "data/error.h"
#include "data/error_context.h"
#include "data/interrupt.h"
#include "mapping/mapping_file.h"
#include "mapping/mapping_line.h"
#include "migration/export_table.h"
#include "migration/migrate_table.h"

namespace {

using namespace vov;
using Clock = std::chrono::steady_clock;

const char kUsage[] =
    "用法：\n"
    "  vovarize-batch --old <数据库> --new <数据库> --map <映射列表文件>\n"
    "                 [--filter <条件>] [--old-table <表名>] [--new-table <表名>]\n"
    "  vovarize-batch --old <数据库> --export <表名> --to <文件>\n"
    "\n"
    "<数据库> 是 Access 或 SQLite 文件的路径，或 PostgreSQL 服务器地址\n"
    "（postgresql://用户:密码@主机/数据库），或 MySQL/MariaDB 服务器地址\n"
    "（mysql://用户:密码@主机/数据库）。\n"
    "第一种形式按映射列表文件把老表的行迁移到新表；老表和新表默认取文件中\n"
    "第一条字段对应行所写的表，--filter 默认不筛选（条件写法与映射窗口相同，\n"
    "例如 \"where 年份>2000\"）。第二种形式把老数据库的一个表导出为 CSV 文本文件。\n"
    "迁移中按 Ctrl-C 会在当前行之后停止，已插入的行保留。\n"
    "退出码：0 完成，1 出错或被中断（已插入的行保留），2 参数错误。\n";

struct Options {
  std::map<std::string, std::string> values;
  bool has(const std::string& k) const { return values.count(k) != 0; }
  const std::string& get(const std::string& k) const { return values.at(k); }
};

struct UsageError {
  std::string why;
};

Options parseArguments(int argc, char** argv) {
  static const char* const known[] = {"--old",    "--new",       "--map", "--filter",
                                      "--old-table", "--new-table", "--export", "--to"};
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool inline_ = false;
    size_t eq = arg.find('=');
    if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
      inline_ = true;
    }
    bool isKnown = false;
    for (const char* k : known) isKnown = isKnown || arg == k;
    if (!isKnown) throw UsageError{"不认识的参数“" + echo(arg) + "”"};
    if (!inline_) {
      if (i + 1 >= argc) throw UsageError{"参数“" + echo(arg) + "”后缺少值"};
      value = argv[++i];
    }
    if (o.has(arg)) throw UsageError{"参数“" + echo(arg) + "”重复"};
    o.values[arg] = value;
  }
  if (!o.has("--old")) throw UsageError{"缺少 --old"};
  if (o.has("--export") || o.has("--to")) {
    for (const char* k : {"--new", "--map", "--filter", "--old-table", "--new-table"})
      if (o.has(k)) throw UsageError{std::string("导出时不能使用 ") + k};
    if (!o.has("--export")) throw UsageError{"缺少 --export"};
    if (!o.has("--to")) throw UsageError{"缺少 --to"};
  } else {
    if (!o.has("--new")) throw UsageError{"缺少 --new"};
    if (!o.has("--map")) throw UsageError{"缺少 --map"};
  }
  return o;
}

// The first Ctrl-C (or SIGTERM) asks the running work to stop
// (data/interrupt.h): a migration after the row in hand, keeping the rows
// before it; an export at once, leaving no file. A second one ends the
// program.
void onInterrupt(int) { requestInterrupt(); }

void catchInterrupts() {
  struct sigaction sa {};
  sa.sa_handler = onInterrupt;
  sa.sa_flags = SA_RESETHAND;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

long long millisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The row counter on standard output, at most four times a second: on a
// terminal one line rewritten in place, otherwise one line each time.
class ProgressPrinter {
 public:
  ProgressPrinter() : terminal_(isatty(STDOUT_FILENO) != 0) {}

  void report(int32_t counter) {
    counter_ = counter;
    checkInterrupt();
    // The clock is read once every 256 rows; the first count shows at once.
    if (counter != 1 && counter % 256 != 0) return;
    Clock::time_point now = Clock::now();
    if (now - lastPrint_ < std::chrono::milliseconds(250)) return;
    lastPrint_ = now;
    print();
  }

  // Shows the last count if the throttle held it back.
  void flush() {
    if (counter_ < 0) return;
    if (printed_ != counter_) print();
    if (terminal_) std::fputc('\n', stdout);
    std::fflush(stdout);
  }

  int32_t counter() const { return counter_ < 0 ? 0 : counter_; }

 private:
  void print() {
    std::printf(terminal_ ? "\r处理进度：%d" : "处理进度：%d\n", counter_);
    std::fflush(stdout);
    printed_ = counter_;
  }

  bool terminal_;
  int32_t counter_ = -1;
  int32_t printed_ = -1;
  Clock::time_point lastPrint_{};
};

// The first field mapping line names the tables; a default-value line can
// still name the new one.
std::string tableFromLines(const std::vector<std::string>& lines, int selector) {
  for (const std::string& l : lines)
    if (!parseMappingLine(l, kOldField).empty()) return parseMappingLine(l, selector);
  if (selector == kNewTable)
    for (const std::string& l : lines) {
      std::string t = parseMappingLine(l, kNewTable);
      if (!t.empty()) return t;
    }
  return std::string();
}

std::function<std::string()> tableSource(const Options& o, const char* option,
                                         const std::vector<std::string>& lines, int selector,
                                         const char* side) {
  if (o.has(option)) return [name = o.get(option)] { return name; };
  std::string name = tableFromLines(lines, selector);
  return [name, option = std::string(option), side = std::string(side)] {
    if (name.empty())
      throw Error("映射列表文件没有写明" + side + "，请用 " + option + " 指定");
    return name;
  };
}

int migrate(const Options& o) {
  const std::string& mapPath = o.get("--map");
  std::vector<std::string> lines = loadMappingList(mapPath);
  if (lines.empty()) throw Error("映射列表文件“" + mapPath + "”中没有映射行");

  TDataModule2 dm;
  TDataModule2::openSide(dm.ADOConnection2old, dm.ADODataSet2old, o.get("--old"));
  TDataModule2::openSide(dm.ADOConnection1new, dm.ADODataSet1new, o.get("--new"));

  ProgressPrinter printer;
  MigrationRequest request;
  request.oldTable = tableSource(o, "--old-table", lines, kOldTable, "老表");
  request.newTable = tableSource(o, "--new-table", lines, kNewTable, "新表");
  request.lines = std::move(lines);
  request.filter = o.has("--filter") ? o.get("--filter") : std::string(kDefaultFilterText);
  request.progress = [&printer](int32_t n) { printer.report(n); };
  // Nobody is there to answer: the warning is printed and the run goes on.
  request.confirmCaveat = [](const std::string& caveat) {
    std::fprintf(stderr, "注意：%s。\n", caveat.c_str());
    return true;
  };

  Clock::time_point start = Clock::now();
  catchInterrupts();
  try {
    migrateTable(dm, request);
  } catch (const Abort&) {
    printer.flush();
    throw Error("迁移已中断，已插入的 " + std::to_string(printer.counter()) + " 行保留在新表中");
  } catch (...) {
    printer.flush();
    throw;
  }
  long long ms = millisecondsSince(start);
  printer.flush();
  std::printf("处理进度：%d完毕！用时%lld毫秒\n", printer.counter(), ms);
  return 0;
}

int exportOldTable(const Options& o) {
  TDataModule2 dm;
  TDataModule2::openSide(dm.ADOConnection2old, dm.ADODataSet2old, o.get("--old"));
  Clock::time_point start = Clock::now();
  catchInterrupts();
  try {
    exportTable(dm.ADOConnection2old, o.get("--export"), o.get("--to"));
  } catch (const Abort&) {
    throw Error("导出已中断，没有写入文件“" + o.get("--to") + "”");
  }
  std::printf("导出完成！用时%lld毫秒\n", millisecondsSince(start));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  Options options;
  try {
    options = parseArguments(argc, argv);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "%s\n\n%s", e.why.c_str(), kUsage);
    return 2;
  }
  try {
    return options.has("--export") ? exportOldTable(options) : migrate(options);
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", vov::errorBoxText(e.what()).c_str());
    return 1;
  }
}
