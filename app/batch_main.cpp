// vovarize-batch: replays a mapping list saved in the mapping window, or
// exports an old table to a text file, without the GUI. It opens the
// databases and runs the migration or export exactly as the window does.
//
// Exit codes: 0 done, 1 an error or Ctrl-C (the message on standard error;
// rows already written stay), 2 wrong arguments (usage on standard error),
// 3 done but rows were set aside.
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
#include "data/replacing_file.h"
#include "data/interrupt.h"
#include "mapping/mapping_file.h"
#include "mapping/mapping_line.h"
#include "migration/export_table.h"
#include "migration/job.h"
#include "migration/migrate_table.h"

namespace {

using namespace vov;
using Clock = std::chrono::steady_clock;

const char kUsage[] =
    "用法：\n"
    "  vovarize-batch --old <数据库> --new <数据库> --map <映射列表文件> [选项]\n"
    "  vovarize-batch --old <数据库> --export <表名> --to <文件>\n"
    "\n"
    "第一种形式按映射列表文件把老表的行迁移到新表，每对表一个事务，结束时列出每对表\n"
    "读取、插入、更新、拒绝的行数，截断的值数和用时。第二种形式把老数据库的一个表\n"
    "导出为 CSV 文本文件。\n"
    "\n"
    "  --old <数据库>        老数据库：Access 或 SQLite 文件的路径，或 PostgreSQL 服务器地址\n"
    "                        （postgresql://用户:密码@主机/数据库），或 MySQL/MariaDB 服务器\n"
    "                        地址（mysql://用户:密码@主机/数据库）。例：--old 老库.mdb\n"
    "  --new <数据库>        新数据库，写法同上。例：--new postgresql://me@localhost/crm\n"
    "  --map <文件>          映射窗口“保存列表”保存的映射列表文件。例：--map 客户.TXT\n"
    "  --filter <条件>       老表行的筛选条件，写法与映射窗口相同；默认不筛选。\n"
    "                        例：--filter \"where 年份>2000\"\n"
    "  --old-table <表名>    老表；默认取列表中第一条字段对应行所写的表。\n"
    "                        例：--old-table 客户\n"
    "  --new-table <表名>    新表；默认同上。例：--new-table 顾客\n"
    "  --all-pairs           列表中有几对表时，按它们在列表中出现的顺序全部迁移；\n"
    "                        没有这个选项时，有几对表的列表会被拒绝。\n"
    "                        例：--map 全部.TXT --all-pairs\n"
    "  --keep-going          和 --all-pairs 一起用：一对表出错后继续迁移后面的表\n"
    "                        （默认在第一对出错的表处停止）。例：--all-pairs --keep-going\n"
    "  --on-error stop|skip  新数据库拒绝某一行时：stop 停止这对表的迁移（默认，之前的行\n"
    "                        保留）；skip 跳过这一行，继续迁移其余的行，被拒绝的行写入\n"
    "                        拒绝行文件。例：--on-error skip\n"
    "  --rejects <文件>      拒绝行文件（CSV：对应表、老表行号、错误信息、老表行的各个值），\n"
    "                        默认是映射列表文件名后加 .rejects.csv；没有被拒绝的行时不留\n"
    "                        这个文件。例：--rejects 拒绝.csv\n"
    "  --mode append|update|upsert\n"
    "                        append 插入新行（默认）；update 按新表的主键找到行并修改，\n"
    "                        找不到的行算作被拒绝；upsert 主键已有的行修改，没有的插入。\n"
    "                        新表的主键字段必须在对应的字段中。例：--mode upsert\n"
    "  --dry-run             试运行：读出全部老表行，按对应关系和截断规则取值，在不写入的\n"
    "                        前提下让新数据库检查每个值，把会被拒绝的行写入拒绝行文件；\n"
    "                        新数据库不会有任何改动。例：--dry-run --mode upsert\n"
    "  --report <文件>       把结束时的报告另存为 JSON 文件。例：--report 报告.json\n"
    "  --export <表名>       要导出的老表。例：--export 客户\n"
    "  --to <文件>           导出到的文本文件。例：--to 客户.csv\n"
    "\n"
    "迁移中按 Ctrl-C 会在当前行之后停止，当前这对表已写入的行保留，后面的表不再迁移。\n"
    "退出码：0 完成；1 出错或被中断（出错之前已写入的行保留）；2 参数错误；\n"
    "3 全部完成，但有行被拒绝（试运行时：有行会被拒绝）。\n"
    "\n"
    "例：\n"
    "  vovarize-batch --old 老库.mdb --new 新库.db --map 全部.TXT --all-pairs \\\n"
    "                 --on-error skip --report 报告.json\n"
    "  vovarize-batch --old 老库.mdb --new postgresql://me@localhost/crm --map 客户.TXT \\\n"
    "                 --mode upsert --dry-run\n"
    "  vovarize-batch --old 老库.mdb --export 客户 --to 客户.csv\n";

struct Options {
  std::map<std::string, std::string> values;
  bool has(const std::string& k) const { return values.count(k) != 0; }
  const std::string& get(const std::string& k) const { return values.at(k); }
};

struct UsageError {
  std::string why;
};

struct KnownOption {
  const char* name;
  bool takesValue;
  bool migrationOnly;
};

const KnownOption kOptions[] = {
    {"--old", true, false},        {"--new", true, true},         {"--map", true, true},
    {"--filter", true, true},      {"--old-table", true, true},   {"--new-table", true, true},
    {"--all-pairs", false, true},  {"--keep-going", false, true}, {"--on-error", true, true},
    {"--rejects", true, true},     {"--mode", true, true},        {"--dry-run", false, true},
    {"--report", true, true},      {"--export", true, false},     {"--to", true, false},
};

Options parseArguments(int argc, char** argv) {
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
    const KnownOption* known = nullptr;
    for (const KnownOption& k : kOptions)
      if (arg == k.name) known = &k;
    if (!known) throw UsageError{"不认识的参数“" + echo(arg) + "”"};
    if (!known->takesValue && inline_) throw UsageError{"参数“" + echo(arg) + "”不带值"};
    if (known->takesValue && !inline_) {
      if (i + 1 >= argc) throw UsageError{"参数“" + echo(arg) + "”后缺少值"};
      value = argv[++i];
    }
    if (o.has(arg)) throw UsageError{"参数“" + echo(arg) + "”重复"};
    o.values[arg] = value;
  }
  if (!o.has("--old")) throw UsageError{"缺少 --old"};
  if (o.has("--export") || o.has("--to")) {
    for (const KnownOption& k : kOptions)
      if (k.migrationOnly && o.has(k.name)) throw UsageError{std::string("导出时不能使用 ") + k.name};
    if (!o.has("--export")) throw UsageError{"缺少 --export"};
    if (!o.has("--to")) throw UsageError{"缺少 --to"};
    return o;
  }
  if (!o.has("--new")) throw UsageError{"缺少 --new"};
  if (!o.has("--map")) throw UsageError{"缺少 --map"};
  if (o.has("--on-error") && o.get("--on-error") != "stop" && o.get("--on-error") != "skip")
    throw UsageError{"--on-error 只能是 stop 或 skip"};
  if (o.has("--mode") && o.get("--mode") != "append" && o.get("--mode") != "update" &&
      o.get("--mode") != "upsert")
    throw UsageError{"--mode 只能是 append、update 或 upsert"};
  if (o.has("--keep-going") && !o.has("--all-pairs"))
    throw UsageError{"--keep-going 只能和 --all-pairs 一起使用"};
  if (o.has("--all-pairs") && (o.has("--old-table") || o.has("--new-table")))
    throw UsageError{"--all-pairs 迁移列表中写明的每一对表，不能再用 --old-table 或 --new-table"};
  const bool skip = o.has("--on-error") && o.get("--on-error") == "skip";
  if (o.has("--rejects") && !skip && !o.has("--dry-run"))
    throw UsageError{"--rejects 只在 --on-error skip 或 --dry-run 时使用"};
  return o;
}

// The first Ctrl-C (or SIGTERM, or the terminal closing) asks the running
// work to stop (data/interrupt.h): a migration after the row in hand,
// keeping the rows before it; an export at once, leaving no file. A second
// one ends the program.
void onInterrupt(int) { requestInterrupt(); }

void catchInterrupts() {
  struct sigaction sa {};
  sa.sa_handler = onInterrupt;
  sa.sa_flags = SA_RESETHAND;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
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

  // For the next table pair.
  void reset() {
    counter_ = -1;
    printed_ = -1;
    lastPrint_ = Clock::time_point{};
  }

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

WriteMode modeOf(const Options& o) {
  if (!o.has("--mode") || o.get("--mode") == "append") return WriteMode::Append;
  return o.get("--mode") == "update" ? WriteMode::Update : WriteMode::Upsert;
}

std::string pairList(const std::vector<TablePair>& pairs) {
  std::string s;
  for (const TablePair& p : pairs) s += (s.empty() ? "" : "、") + pairName(p);
  return s;
}

int migrate(const Options& o) {
  const std::string& mapPath = o.get("--map");
  std::vector<std::string> lines = loadMappingList(mapPath);
  if (lines.empty()) throw Error("映射列表文件“" + mapPath + "”中没有映射行");
  std::vector<TablePair> pairs = tablePairs(lines);
  if (pairs.size() > 1 && !o.has("--all-pairs"))
    throw UsageError{"映射列表文件“" + mapPath + "”中有 " + std::to_string(pairs.size()) +
                     " 对表：" + pairList(pairs) + "。要按顺序全部迁移，请加 --all-pairs"};
  if (pairs.size() == 1) {
    if (o.has("--old-table")) pairs[0].oldTable = o.get("--old-table");
    if (o.has("--new-table")) pairs[0].newTable = o.get("--new-table");
  }

  TDataModule2 dm;
  TDataModule2::openSide(dm.ADOConnection2old, dm.ADODataSet2old, o.get("--old"));
  TDataModule2::openSide(dm.ADOConnection1new, dm.ADODataSet1new, o.get("--new"));
  if (pairs[0].oldTable.empty()) throw Error("映射列表文件没有写明老表，请用 --old-table 指定");
  if (pairs[0].newTable.empty()) throw Error("映射列表文件没有写明新表，请用 --new-table 指定");

  JobOptions options;
  options.filter = o.has("--filter") ? o.get("--filter") : std::string(kDefaultFilterText);
  options.mode = modeOf(o);
  options.onRowError =
      o.has("--on-error") && o.get("--on-error") == "skip" ? OnRowError::Skip : OnRowError::Stop;
  options.dryRun = o.has("--dry-run");
  options.keepGoing = o.has("--keep-going");
  options.rejectFile = o.has("--rejects") ? o.get("--rejects") : mapPath + ".rejects.csv";

  ProgressPrinter printer;
  const bool several = pairs.size() > 1 || o.has("--all-pairs");
  JobEvents events;
  events.pairStarts = [&](size_t i, const TablePair& p) {
    printer.reset();
    if (several) std::printf("[%zu/%zu] %s\n", i + 1, pairs.size(), pairName(p).c_str());
    std::fflush(stdout);
  };
  events.progress = [&printer](int32_t n) { printer.report(n); };
  // Nobody is there to answer: the warning is printed and the run goes on.
  events.confirmCaveat = [](const std::string& caveat) {
    std::fprintf(stderr, "注意：%s。\n", caveat.c_str());
    return true;
  };
  events.pairEnds = [&](const PairReport& r) {
    printer.flush();
    if (r.state == PairState::Done) {
      std::printf("处理进度：%d完毕！用时%lld毫秒\n", printer.counter(),
                  static_cast<long long>(r.milliseconds));
    } else if (r.state == PairState::Interrupted) {
      std::fflush(stdout);
      const std::string why =
          options.dryRun ? std::string("试运行已中断，没有写入任何行")
                         : std::string("迁移已中断，已") +
                               (options.mode == WriteMode::Append ? "插入" : "写入") + "的 " +
                               std::to_string(r.counts.written) + " 行保留在新表中";
      std::fprintf(stderr, "%s\n", errorBoxText(why).c_str());
    } else {
      std::fflush(stdout);
      std::fprintf(stderr, "%s\n", errorBoxText(r.error).c_str());
    }
    std::fflush(stdout);
  };

  catchInterrupts();
  JobReport report = runJob(dm, pairs, options, events);
  std::printf("\n%s", reportTable(report).c_str());
  if (report.rejectedRows() > 0 && report.rejectFileError.empty())
    std::printf("%s的行写在“%s”中\n", options.dryRun ? "会被拒绝" : "被拒绝",
                options.rejectFile.c_str());
  std::fflush(stdout);
  bool shown = false;
  for (const PairReport& p : report.pairs)
    shown = shown || p.error.find(report.rejectFileError) != std::string::npos;
  if (!report.rejectFileError.empty() && !shown)
    std::fprintf(stderr, "%s\n", errorBoxText(report.rejectFileError).c_str());
  if (o.has("--report")) {
    ReplacingFile file(o.get("--report"), "报告文件");
    file.write(reportJson(report));
    file.commit();
  }
  return report.exitCode();
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
  // Whoever reads the output may stop reading (a pager quit early): the
  // work goes on, and only the printing fails.
  std::signal(SIGPIPE, SIG_IGN);
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
  } catch (const UsageError& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n（vovarize-batch --help 列出全部参数）\n", e.why.c_str());
    return 2;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", vov::errorBoxText(e.what()).c_str());
    return 1;
  }
}
