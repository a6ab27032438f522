// Reading whole Access tables through the backend (reader process, typed
// rows, decoding) against mdb-export writing the same table to /dev/null.
// Both start a process per read and open the file anew, so each round is
// one complete read. Prints the times and their ratio; below 1 the
// backend is faster.
//
//   access_bench [rounds]        (20 by default)
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <vector>

#include "data/access/access_backend.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// One read of the table through the backend; returns the row count.
size_t readTable(vov::Backend& backend, const std::string& table) {
  auto cursor = backend.query("select * from [" + table + "]");
  std::vector<vov::Value> row;
  size_t n = 0;
  while (cursor->next(row)) ++n;
  return n;
}

void mdbExport(const std::string& file, const std::string& table) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> words{"mdb-export", file, table};
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, "mdb-export", &actions, nullptr, argv.data(), environ) != 0) {
    std::perror("mdb-export");
    std::exit(1);
  }
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  waitpid(pid, &status, 0);
  if (status != 0) {
    std::fprintf(stderr, "mdb-export %s %s failed\n", file.c_str(), table.c_str());
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 20;
  struct Case {
    const char* file;
    const char* table;
  };
  // The largest tables of the samples: by rows, and by bytes (photos).
  const Case cases[] = {{"nwind.mdb", "Order Details"}, {"nwind.mdb", "Orders"},
                        {"nwind.mdb", "Employees"},     {"nwind.mdb", "Customers"},
                        {"ASampleDatabase.accdb", "Asset Items"}};
  std::printf("%-24s %-14s %6s %12s %12s %7s\n", "file", "table", "rows", "backend ms",
              "mdb-export ms", "ratio");
  double ours = 0, theirs = 0;
  for (const Case& c : cases) {
    const std::string file = std::string(VOV_TESTDATA) + "/access/" + c.file;
    auto backend = vov::openAccessBackend(file);
    size_t rows = readTable(*backend, c.table);  // warm the page cache
    mdbExport(file, c.table);
    auto t0 = Clock::now();
    for (int i = 0; i < rounds; ++i) readTable(*backend, c.table);
    double a = msSince(t0) / rounds;
    t0 = Clock::now();
    for (int i = 0; i < rounds; ++i) mdbExport(file, c.table);
    double b = msSince(t0) / rounds;
    ours += a;
    theirs += b;
    std::printf("%-24s %-14s %6zu %12.2f %12.2f %7.2f\n", c.file, c.table, rows, a, b, a / b);
  }
  std::printf("%-24s %-14s %6s %12.2f %12.2f %7.2f\n", "all", "", "", ours, theirs, ours / theirs);
  return 0;
}
