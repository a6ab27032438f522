// vovarize-batch under real faults: a disk that fills, Ctrl-C and SIGTERM
// during an export, and a mapping list that is no list. It must end with a
// message naming the cause, exit 1, and leave no half-written or temporary
// file.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/support/test_support.h"

extern char** environ;

using namespace vov;

namespace {

const std::string kBatch = std::string(VOV_BIN_DIR) + "/vovarize-batch";

class BatchFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    test::makeSqlite(oldDb,
                     "create table src(id integer primary key, t varchar(120));"
                     "with recursive c(x) as (select 1 union all select x + 1 from c where x < 20000)"
                     " insert into src select x, printf('%0100d', x) from c;");
    test::makeSqlite(newDb, "create table dst(id integer, t varchar(120));");
    test::writeFile(mapFile, "src->id >> dst->id\r\nsrc->t >> dst->t\r\n");
    ASSERT_EQ(mkdir(full.c_str(), 0755), 0);
  }

  static std::string q(const std::string& s) { return test::shellQuote(s); }

  std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> names;
    for (auto& e : std::filesystem::directory_iterator(folder))
      names.push_back(e.path().filename().string());
    return names;
  }

  test::TempDir dir;
  std::string oldDb = dir.file("old.db"), newDb = dir.file("new.db");
  std::string mapFile = dir.file("map.TXT");
  std::string full = dir.file("满");
};

}  // namespace

TEST_F(BatchFaults, AnExportOntoAFullDiskSaysSoAndLeavesNoFile) {
  const std::string target = full + "/out.TXT";
  bool real = false;
  test::CommandResult r = test::runShell(test::onSmallDisk(
      full, 64,
      kBatch + " --old " + q(oldDb) + " --export src --to " + q(target) +
          "; echo \"rc=$?\"; ls -A " + q(full),
      &real));
  const std::string reason = real ? "磁盘已满" : "文件超过了系统允许的大小";
  EXPECT_EQ(r.err, "无法写入文件“" + target + "”：" + reason + ".\n");
  EXPECT_EQ(r.out, "rc=1\n") << "no file, temporary or not, is left";
}

// The full disk of the new database: SQLite has already undone the whole
// transaction, and its own error is the one shown, not the commit's.
TEST_F(BatchFaults, AMigrationOntoAFullDiskShowsTheEnginesError) {
  const std::string onDisk = full + "/new.db";
  bool real = false;
  test::CommandResult r = test::runShell(test::onSmallDisk(
      full, 512,
      "cp " + q(newDb) + " " + q(onDisk) + " && " + kBatch + " --old " + q(oldDb) + " --new " +
          q(onDisk) + " --map " + q(mapFile) + " >/dev/null; echo \"rc=$?\"; ls -A " + q(full) +
          "; cp " + q(onDisk) + " " + q(dir.file("after.db")),
      &real));
  EXPECT_EQ(r.out, "rc=1\nnew.db\n") << "no journal is left beside the file";
  // Where no small disk can be mounted (no user namespaces, as in most
  // containers), a file size limit stands in; SQLite meets it only when it
  // writes its pages out at the commit, and the transaction is still its own.
  const std::string head =
      real ? "本次迁移的行均未写入新表（新数据库已自行撤销整个事务）：向新数据库“" + onDisk + "”写入第 "
           : "本次迁移的行均未写入新表：向新数据库“" + onDisk + "”提交时出错：";
  EXPECT_EQ(r.err.compare(0, head.size(), head), 0) << r.err;
  const std::string tail = real ? "database or disk is full.\n" : "";
  EXPECT_TRUE(r.err.size() > tail.size() &&
              r.err.compare(r.err.size() - tail.size(), tail.size(), tail) == 0)
      << r.err;
  EXPECT_EQ(r.err.find("no transaction"), std::string::npos) << r.err;
  EXPECT_EQ(test::sqliteRows(dir.file("after.db"), "select count(*) from dst")[0][0], "0");
}

// Ctrl-C, SIGTERM or a closed terminal while the rows are being written: the temporary file
// goes, and an existing file of that name stays as it was.
TEST_F(BatchFaults, ASignalDuringAnExportLeavesNoFile) {
  test::makeSqlite(oldDb,
                   "with recursive c(x) as (select 20001 union all select x + 1 from c"
                   " where x < 1500000) insert into src select x, 'row ' || x from c;");
  const std::string target = full + "/out.TXT";
  test::writeFile(target, "earlier export");
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sig);
    const std::string errFile = dir.file("err.txt");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<std::string> words{kBatch, "--old", oldDb, "--export", "src", "--to", target};
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, kBatch.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    // Signalled once the temporary file is there, so while rows go in.
    bool writing = false;
    for (int i = 0; i < 20000 && !writing; ++i) {
      writing = entries(full).size() > 1;
      if (!writing) std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    EXPECT_TRUE(writing);
    kill(pid, sig);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by the signal itself";
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(test::readFile(errFile), "导出已中断，没有写入文件“" + target + "”.\n");
    EXPECT_EQ(entries(full), std::vector<std::string>{"out.TXT"});
    EXPECT_EQ(test::readFile(target), "earlier export");
  }
}

// The output read by a program that stops reading early (a pager quit, or
// head): the migration used to die of the broken pipe mid-way, silently,
// with none of its rows kept.
TEST_F(BatchFaults, AReaderOfTheOutputThatStopsEarlyDoesNotStopTheMigration) {
  test::makeSqlite(oldDb,
                   "with recursive c(x) as (select 20001 union all select x + 1 from c"
                   " where x < 400000) insert into src select x, 'row ' || x from c;");
  test::CommandResult r = test::runShell("{ " + kBatch + " --old " + q(oldDb) + " --new " +
                                         q(newDb) + " --map " + q(mapFile) +
                                         "; echo \"rc=$?\" >&2; } | head -1");
  EXPECT_EQ(r.out, "处理进度：1\n");
  EXPECT_EQ(r.err, "rc=0\n");
  EXPECT_EQ(test::sqliteRows(newDb, "select count(*) from dst")[0][0], "400000");
}

// A database named where a text file is to go (the export's file, the
// reject file, the report) used to be replaced by the text, or, as a reject
// file with nothing to hold, deleted, as was any other file of that name.
TEST_F(BatchFaults, TextIsNeverWrittenOverADatabase) {
  const std::string access = test::copyTestData(dir, "access/nwind.mdb");
  const std::string oldBytes = test::readFile(oldDb), accessBytes = test::readFile(access);
  const std::string refused = "”：这是一个 SQLite 或 Access 数据库文件，不能用文本覆盖.\n";
  test::CommandResult r = test::runShell(kBatch + " --old " + q(oldDb) + " --export src --to " + q(oldDb));
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "无法写入文件“" + oldDb + refused);
  r = test::runShell(kBatch + " --old " + q(access) + " --export Shippers --to " + q(access));
  EXPECT_EQ(r.err, "无法写入文件“" + access + refused);

  const std::string migrate = kBatch + " --old " + q(oldDb) + " --new " + q(newDb) + " --map " + q(mapFile);
  r = test::runShell(migrate + " --on-error skip --rejects " + q(access));
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "无法创建拒绝行文件“" + access + refused);
  EXPECT_EQ(test::sqliteRows(newDb, "select count(*) from dst")[0][0], "0") << "refused before any row";
  r = test::runShell(migrate + " --report " + q(oldDb) + " >/dev/null");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "无法写入报告文件“" + oldDb + refused);
  // With no row set aside, only a reject file of an earlier run goes.
  const std::string notes = dir.file("notes.txt");
  test::writeFile(notes, "my notes");
  r = test::runShell(migrate + " --on-error skip --rejects " + q(notes) + " >/dev/null");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(test::readFile(notes), "my notes");
  EXPECT_EQ(test::readFile(oldDb), oldBytes);
  EXPECT_EQ(test::readFile(access), accessBytes);
}

TEST_F(BatchFaults, AMappingListThatIsNoListIsRefused) {
  test::CommandResult r = test::runShell(kBatch + " --old " + q(oldDb) + " --new " + q(newDb) +
                                         " --map /dev/zero");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "列表文件“/dev/zero”太大（超过 16 MB），不是映射列表文件.\n");
  test::writeFile(mapFile, "src->id >> dst->id\r\nsrc->" + std::string(100000, 't') + " >> dst->t\r\n");
  r = test::runShell(kBatch + " --old " + q(oldDb) + " --new " + q(newDb) + " --map " + q(mapFile));
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "列表文件“" + mapFile + "”的第 2 行太长（超过 64 KB），不是映射列表文件.\n");
  EXPECT_EQ(test::sqliteRows(newDb, "select count(*) from dst")[0][0], "0");
}

// A stop request while the Access reader is busy (here a stand-in that
// sends the fields and then takes its time) ends the wait at once, not
// after the reader's time-out, and is no damaged file.
TEST_F(BatchFaults, ASignalWhileTheAccessReaderIsBusyStopsAtOnce) {
  const std::string reader = dir.file("slow-reader");
  test::writeFile(reader,
                  "#!/bin/sh\n"
                  "case \"$1\" in\n"
                  "  tables) printf 'T\\001\\000\\000\\000tE';;\n"
                  "  fields) printf 'F\\001\\000\\001\\000\\000\\000a\\003\\000\\000\\000\\000E';;\n"
                  "  rows) printf 'F\\001\\000\\001\\000\\000\\000a\\003\\000\\000\\000\\000'; exec sleep 600;;\n"
                  "esac\n");
  ASSERT_EQ(chmod(reader.c_str(), 0755), 0);
  const std::string target = full + "/t.TXT";
  // The batch alone gets the signal, as from kill; it must end the reader.
  test::CommandResult r = test::runShell(
      "VOVARIZE_MDB_TIMEOUT_MS=600000 VOVARIZE_MDB_READER=" + q(reader) + " " + kBatch +
      " --old " + q(test::testData("access/nwind.mdb")) + " --export t --to " + q(target) +
      " & pid=$!; sleep 1; kill -TERM $pid; wait $pid; echo \"rc=$?\"");
  EXPECT_EQ(r.out, "rc=1\n");
  EXPECT_EQ(r.err, "导出已中断，没有写入文件“" + target + "”.\n");
  EXPECT_TRUE(entries(full).empty());
}
