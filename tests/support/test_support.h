// Helpers shared by the tests: temporary folders, test data, SQLite files.
#ifndef VOVARIZE_TESTS_SUPPORT_TEST_SUPPORT_H
#define VOVARIZE_TESTS_SUPPORT_TEST_SUPPORT_H

#include <string>
#include <vector>

#include "data/value.h"

namespace vov::test {

// A fresh folder under the system's temporary folder, removed with its
// content when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string file(const std::string& name) const;

 private:
  std::string path_;
};

// The path of a file in the repository's test data ("access/nwind.mdb").
std::string testData(const std::string& relative);

// Copies a test data file into `dir` and returns the copy's path.
std::string copyTestData(const TempDir& dir, const std::string& relative);

// Creates an SQLite file at `path` and runs `sql` in it.
void makeSqlite(const std::string& path, const std::string& sql);

// Runs a query on an SQLite file and returns every row, each value as
// Value::toText (null as "<null>").
std::vector<std::vector<std::string>> sqliteRows(const std::string& path, const std::string& sql);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

// `s` in single quotes for a shell command line.
std::string shellQuote(const std::string& s);

// Runs a shell command under the C.UTF-8 locale and returns what it printed
// on standard output; fails the test when it exits with a code other than 0.
std::string runCommand(const std::string& command);

// ------------------------------------------------------------ real faults

// A limit on the size of every file this process writes, standing in for a
// full disk: a write past `bytes` fails (EFBIG) instead of raising SIGXFSZ.
// The old limit comes back when the object goes.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(long bytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  long savedCur_, savedMax_;
  void (*savedHandler_)(int);
};

// A shell command that runs `script` (sh syntax) with the folder `dir` on a
// disk of `kb` KB: a tmpfs mounted there in a private mount namespace where
// the system allows one (then `*real` is true), else under a file-size limit
// on everything the script writes (as FileSizeLimit).
std::string onSmallDisk(const std::string& dir, int kb, const std::string& script, bool* real);

// Another process holding a transaction on an SQLite file: a read
// transaction (a shared lock) or a write transaction (a reserved lock).
// The constructor returns once the lock is held; it is let go after
// `holdMs` milliseconds, or when the object goes when `holdMs` is 0.
class SqliteLockHolder {
 public:
  enum Kind { Read, Write };
  SqliteLockHolder(const std::string& path, Kind kind, int holdMs = 0);
  ~SqliteLockHolder();
  SqliteLockHolder(const SqliteLockHolder&) = delete;
  SqliteLockHolder& operator=(const SqliteLockHolder&) = delete;

 private:
  int pid_ = -1;
  int release_ = -1;  // closing it lets the holder go
};

// The result of a command run through a shell: exit code and both outputs.
struct CommandResult {
  int code = -1;
  std::string out, err;
};
CommandResult runShell(const std::string& command);

// Runs the built vovarize-batch with `args`.
CommandResult runBatch(const std::vector<std::string>& args);

}  // namespace vov::test

#endif
