#include "tests/access/access_support.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "tests/support/test_support.h"

namespace vov::test {

std::vector<std::string> accessFiles() {
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(testData("access")))
    files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}


namespace {

std::vector<std::string> split(const std::string& s, const std::string& sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    size_t at = s.find(sep, start);
    if (at == std::string::npos) {
      parts.push_back(s.substr(start));
      return parts;
    }
    parts.push_back(s.substr(start, at - start));
    start = at + sep.size();
  }
}

}  // namespace

std::vector<ExportRow> exportRows(const std::string& file, const std::string& table) {
  // Separators no sample value contains; the files hold every control byte.
  const std::string col = "<@C@>", row = "<@R@>", null = "<@N@>";
  std::string out = runCommand("mdb-export -H -Q -d '" + col + "' -R '" + row + "' -0 '" + null +
                               "' -b hex -D '%Y-%m-%d %H:%M:%S' -T '%Y-%m-%d %H:%M:%S' " +
                               shellQuote(file) + " " + shellQuote(table) + " 2>/dev/null");
  std::vector<ExportRow> rows;
  std::vector<std::string> lines = split(out, row);
  lines.pop_back();  // after the last separator
  for (const std::string& line : lines) {
    ExportRow r;
    for (const std::string& v : split(line, col)) {
      if (v == null) r.push_back(std::nullopt);
      else r.push_back(v);
    }
    rows.push_back(std::move(r));
  }
  return rows;
}

std::vector<std::vector<Value>> readAll(Backend& backend, const std::string& sql) {
  std::vector<std::vector<Value>> rows;
  auto cursor = backend.query(sql);
  std::vector<Value> row;
  while (cursor->next(row)) rows.push_back(row);
  return rows;
}

std::string hexUpper(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (unsigned char c : bytes) {
    s += digits[c >> 4];
    s += digits[c & 15];
  }
  return s;
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
  if (const char* old = std::getenv(name)) old_ = old;
  setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
  if (old_) setenv(name_.c_str(), old_->c_str(), 1);
  else unsetenv(name_.c_str());
}

bool noChildProcesses() { return waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD; }

}  // namespace vov::test
