// Appending 500,000 rows to the empty table 订单明细 of copies of
// bench_jet4.mdb and bench_ace14.accdb through the Access backend, as the
// migration does (one parameterised insert a row, one transaction, the
// commit with its whole-file check and rename), then reading the written
// table back through the backend against mdb-export. Each size runs in a
// process of its own, so its peak memory is its own.
//
//   access_write_bench [rows ...]      (100000 and 500000 by default)
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "data/access/access_backend.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

const char* const kNames[] = {"华东贸易", "北方机械", "远航物流", "永盛商行", "长江电器", "新华书店"};

// The rows: an AutoNumber key left to the table, two Chinese texts, a memo
// every seventh of which is NULL, a long, a currency, a double, a date and
// a yes/no.
void fill(int64_t i, std::vector<vov::Value>& p) {
  p[0] = vov::Value::fromText("KH" + std::to_string(100000 + i % 90000) + kNames[i % 6]);
  p[1] = vov::Value::fromText(std::string(kNames[(i / 6) % 6]) + "有限公司第" + std::to_string(i) + "分部");
  p[2] = i % 7 == 0 ? vov::Value() : vov::Value::fromText("订单备注：第 " + std::to_string(i) + " 号，按时交货");
  p[3] = vov::Value::fromInt(i % 1000);
  p[4] = vov::Value::fromDecimal(std::to_string(i % 100000) + "." + std::to_string(10 + i % 90));
  p[5] = vov::Value::fromReal(static_cast<double>(i) * 0.25);
  p[6] = vov::Value::fromDateTime(vov::DateTime{2020 + static_cast<int>(i % 5), 1 + static_cast<int>(i % 12),
                                               1 + static_cast<int>(i % 28), static_cast<int>(i % 24),
                                               static_cast<int>(i % 60), 0, 0});
  p[7] = vov::Value::fromBool(i % 2 == 0);
}

double commitMs = 0;

double append(const std::string& file, int64_t rows) {
  auto backend = vov::openAccessBackend(file);
  auto t0 = Clock::now();
  auto insert = backend->prepare(
      "insert into [订单明细]([客户代码],[客户名称],[备注],[数量],[单价],[重量],[日期],[已付]) "
      "values(?,?,?,?,?,?,?,?)");
  std::vector<vov::Value> p(8);
  backend->begin();
  for (int64_t i = 0; i < rows; ++i) {
    fill(i, p);
    insert->execute(p);
  }
  auto t1 = Clock::now();
  backend->commit();
  commitMs = msSince(t1);
  return msSince(t0);
}

size_t readTable(const std::string& file) {
  auto backend = vov::openAccessBackend(file);
  auto cursor = backend->query("select * from [订单明细]");
  std::vector<vov::Value> row;
  size_t n = 0;
  while (cursor->next(row)) ++n;
  return n;
}

void mdbExport(const std::string& file) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> words{"mdb-export", file, "订单明细"};
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, "mdb-export", &actions, nullptr, argv.data(), environ) != 0) std::exit(1);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  waitpid(pid, &status, 0);
  if (status != 0) std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("LC_ALL", "C.UTF-8", 1);
  std::vector<int64_t> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::atoll(argv[i]));
  if (sizes.empty()) sizes = {100000, 500000};
  const std::string dir = std::filesystem::temp_directory_path() / ("vovarize-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::printf("%-18s %8s %10s %10s %9s %9s %13s %7s\n", "file", "rows", "append ms", "commit ms",
              "peak MB", "read ms", "mdb-export ms", "ratio");
  for (const char* name : {"bench_jet4.mdb", "bench_ace14.accdb"}) {
    for (int64_t rows : sizes) {
      const std::string file = dir + "/" + name;
      std::filesystem::copy_file(std::string(VOV_TESTDATA) + "/access/" + name, file,
                                 std::filesystem::copy_options::overwrite_existing);
      std::filesystem::permissions(file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
      int pipefd[2];
      if (pipe(pipefd) != 0) return 1;
      pid_t child = fork();
      if (child == 0) {
        double ms = 0;
        try {
          ms = append(file, rows);
        } catch (const std::exception& e) {
          std::fprintf(stderr, "%s: %s\n", name, e.what());
          _exit(1);
        }
        double both[2] = {ms, commitMs};
        if (write(pipefd[1], both, sizeof both) != sizeof both) _exit(1);
        _exit(0);
      }
      close(pipefd[1]);
      double both[2] = {-1, 0};
      if (read(pipefd[0], both, sizeof both) != sizeof both) both[0] = -1;
      const double ms = both[0];
      close(pipefd[0]);
      int status = 0;
      rusage usage{};
      wait4(child, &status, 0, &usage);
      if (status != 0 || ms < 0) return 1;
      const double peakMb = usage.ru_maxrss / 1024.0;
      // Reading the written table: the backend against mdb-export.
      readTable(file);
      auto t0 = Clock::now();
      const size_t got = readTable(file);
      const double readMs = msSince(t0);
      t0 = Clock::now();
      mdbExport(file);
      const double exportMs = msSince(t0);
      if (got != static_cast<size_t>(rows)) {
        std::fprintf(stderr, "%s: read %zu rows of %lld\n", name, got, static_cast<long long>(rows));
        return 1;
      }
      std::printf("%-18s %8lld %10.0f %10.0f %9.1f %9.0f %13.0f %7.2f\n", name,
                  static_cast<long long>(rows), ms, both[1], peakMb, readMs, exportMs, readMs / exportMs);
    }
  }
  std::filesystem::remove_all(dir);
  return 0;
}
