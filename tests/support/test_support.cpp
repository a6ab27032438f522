#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vov::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string tmpl = (fs::temp_directory_path() / "vovarize-test-XXXXXX").string();
  if (!mkdtemp(&tmpl[0])) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& name) const { return path_ + "/" + name; }

std::string testData(const std::string& relative) {
  return std::string(VOV_TESTDATA) + "/" + relative;
}

std::string copyTestData(const TempDir& dir, const std::string& relative) {
  std::string target = dir.file(fs::path(relative).filename().string());
  fs::copy_file(testData(relative), target, fs::copy_options::overwrite_existing);
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
  return target;
}

void makeSqlite(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* err = nullptr;
  int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
  std::string msg = err ? err : "";
  sqlite3_free(err);
  sqlite3_close(db);
  ASSERT_EQ(rc, SQLITE_OK) << msg;
}

std::vector<std::vector<std::string>> sqliteRows(const std::string& path, const std::string& sql) {
  std::vector<std::vector<std::string>> rows;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    ADD_FAILURE() << "cannot open " << path;
    return rows;
  }
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << sqlite3_errmsg(db);
    sqlite3_close(db);
    return rows;
  }
  while (sqlite3_step(st) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int i = 0; i < sqlite3_column_count(st); ++i) {
      if (sqlite3_column_type(st, i) == SQLITE_NULL) {
        row.push_back("<null>");
      } else if (sqlite3_column_type(st, i) == SQLITE_FLOAT) {
        row.push_back(Value::fromReal(sqlite3_column_double(st, i)).toText());
      } else {
        const char* p = static_cast<const char*>(sqlite3_column_blob(st, i));
        row.push_back(p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(st, i))) : "");
      }
    }
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return rows;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string shellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  return q + "'";
}

std::string runCommand(const std::string& command) {
  std::string out;
  // The oracle programs (mdbtools) read their arguments in the locale's
  // character set; a name like "Umsätze" needs a UTF-8 locale, and a bare
  // system has only C.UTF-8.
  FILE* p = popen(("export LC_ALL=C.UTF-8; " + command).c_str(), "r");
  if (!p) {
    ADD_FAILURE() << "cannot run " << command;
    return out;
  }
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = pclose(p);
  EXPECT_EQ(status, 0) << command;
  return out;
}

FileSizeLimit::FileSizeLimit(long bytes) {
  struct rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  savedCur_ = static_cast<long>(saved.rlim_cur);
  savedMax_ = static_cast<long>(saved.rlim_max);
  savedHandler_ = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = static_cast<rlim_t>(bytes);
  EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
}

FileSizeLimit::~FileSizeLimit() {
  struct rlimit saved;
  saved.rlim_cur = static_cast<rlim_t>(savedCur_);
  saved.rlim_max = static_cast<rlim_t>(savedMax_);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, savedHandler_);
}

std::string onSmallDisk(const std::string& dir, int kb, const std::string& script, bool* real) {
  // An unprivileged user may mount inside its own user namespace, where
  // the system allows user namespaces at all.
  static const bool canMount =
      std::system("unshare -rm sh -c 'mount -t tmpfs -o size=16k tmpfs /mnt' >/dev/null 2>&1") == 0;
  *real = canMount;
  if (canMount)
    return "unshare -rm sh -c " +
           shellQuote("mount -t tmpfs -o size=" + std::to_string(kb) + "k tmpfs " +
                      shellQuote(dir) + " && " + script);
  // dash counts the limit in blocks of 512 bytes.
  return "sh -c " + shellQuote("trap '' XFSZ; ulimit -f " + std::to_string(kb * 2) + "; " + script);
}

SqliteLockHolder::SqliteLockHolder(const std::string& path, Kind kind, int holdMs) {
  int ready[2], release[2];
  if (pipe(ready) != 0 || pipe(release) != 0) {
    ADD_FAILURE() << "pipe failed";
    return;
  }
  pid_t pid = fork();
  if (pid == 0) {
    close(ready[0]);
    close(release[1]);
    sqlite3* db = nullptr;
    const char* take = kind == Read ? "begin; select count(*) from sqlite_master;"
                                    : "begin immediate;";
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK ||
        sqlite3_exec(db, take, nullptr, nullptr, nullptr) != SQLITE_OK)
      _exit(1);
    char c = 'r';
    if (write(ready[1], &c, 1) != 1) _exit(1);
    if (holdMs > 0) {
      usleep(static_cast<useconds_t>(holdMs) * 1000);
    } else {
      while (read(release[0], &c, 1) > 0) {
      }
    }
    sqlite3_exec(db, "commit", nullptr, nullptr, nullptr);
    _exit(0);
  }
  close(ready[1]);
  close(release[0]);
  pid_ = pid;
  release_ = release[1];
  char c = 0;
  EXPECT_EQ(read(ready[0], &c, 1), 1) << "the holder did not take its lock on " << path;
  close(ready[0]);
}

SqliteLockHolder::~SqliteLockHolder() {
  if (release_ >= 0) close(release_);
  if (pid_ > 0) {
    int status = 0;
    waitpid(pid_, &status, 0);
  }
}

CommandResult runShell(const std::string& command) {
  CommandResult r;
  char errName[] = "/tmp/vovarize-stderr-XXXXXX";
  int errFd = mkstemp(errName);
  if (errFd < 0) {
    ADD_FAILURE() << "mkstemp failed";
    return r;
  }
  close(errFd);
  FILE* p = popen(("{ " + command + "\n} 2>" + shellQuote(errName)).c_str(), "r");
  if (!p) {
    ADD_FAILURE() << "cannot run " << command;
    unlink(errName);
    return r;
  }
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int status = pclose(p);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.err = readFile(errName);
  unlink(errName);
  return r;
}

CommandResult runBatch(const std::vector<std::string>& args) {
  std::string cmd = shellQuote(std::string(VOV_BIN_DIR) + "/vovarize-batch");
  for (const std::string& a : args) cmd += " " + shellQuote(a);
  return runShell(cmd);
}

}  // namespace vov::test
