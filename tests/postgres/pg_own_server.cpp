#include "tests/postgres/pg_own_server.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tests/support/pg_test_server.h"

namespace vov::test {

namespace {

std::string firstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// The parent of process `pid`, from /proc (-1 when it is gone).
long parentOf(long pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The name in parentheses may hold blanks; the fields after it do not.
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream rest(stat.substr(close + 2));
  std::string state;
  long ppid = -1;
  rest >> state >> ppid;
  return ppid;
}

}  // namespace

OwnPgServer::OwnPgServer() : state_(dir_.file("state")) {
  runCommand("bash " + shellQuote(VOV_PG_SERVER_SCRIPT) + " start " + shellQuote(state_) + " " +
             std::to_string(getpid()) + " >/dev/null");
  address_ = firstLine(state_ + "/address");
  dataDir_ = firstLine(state_ + "/dir") + "/data";
  if (address_.empty()) throw std::runtime_error("the test's own PostgreSQL server did not start");
}

OwnPgServer::~OwnPgServer() {
  // A stopped server cannot shut down.
  signalAll(SIGCONT);
  runCommand("bash " + shellQuote(VOV_PG_SERVER_SCRIPT) + " stop " + shellQuote(state_));
}

std::vector<std::vector<std::string>> OwnPgServer::exec(const std::string& sql) const {
  return runSql(address_, sql);
}

void OwnPgServer::signalAll(int sig) const {
  const long main = std::atol(firstLine(dataDir_ + "/postmaster.pid").c_str());
  if (main <= 0) return;
  std::vector<long> pids{main};
  if (DIR* d = opendir("/proc")) {
    while (dirent* e = readdir(d)) {
      const long pid = std::atol(e->d_name);
      if (pid > 0 && parentOf(pid) == main) pids.push_back(pid);
    }
    closedir(d);
  }
  // The children first, so that a stopped main process does not see them
  // go and restart them.
  for (size_t i = pids.size(); i-- > 0;) kill(static_cast<pid_t>(pids[i]), sig);
}

}  // namespace vov::test
