// The mapping list file on disk.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <unistd.h>

#include <chrono>
#include <climits>
#include <filesystem>
#include <thread>

#include "data/error.h"
#include "mapping/mapping_file.h"
#include "mapping/mapping_line.h"
#include "tests/support/test_support.h"

using namespace vov;

TEST(MappingFile, SaveWritesCrLfAfterEveryLineWithoutBom) {
  test::TempDir dir;
  std::string path = dir.file("list.TXT");
  saveMappingList({"A->id     >> B->code", "北京 >> 客户->城市"}, path);
  EXPECT_EQ(test::readFile(path), "A->id     >> B->code\r\n北京 >> 客户->城市\r\n");
  saveMappingList({}, path);
  EXPECT_EQ(test::readFile(path), "") << "an empty list replaces the file with an empty one";
}

TEST(MappingFile, RoundTripKeepsFillingBlanks) {
  test::TempDir dir;
  std::vector<std::string> lines{
      composeFieldMappingLine("Customers", "ID", 12, "客户", "编号"),
      composeFieldMappingLine("Customers", "CompanyName", 12, "客户", "名称"),
      composeDefaultValueLine(" x ", "客户", "来源"),
      "",
  };
  saveMappingList(lines, dir.file("a.TXT"));
  EXPECT_EQ(loadMappingList(dir.file("a.TXT")), lines);
}

TEST(MappingFile, LoadBreakRules) {
  test::TempDir dir;
  std::string p = dir.file("b.TXT");
  test::writeFile(p, "a\rb\nc\r\nd");
  EXPECT_EQ(loadMappingList(p), (std::vector<std::string>{"a", "b", "c", "d"}));
  test::writeFile(p, "a\r\n\r\nb\n\rc\r\n");
  EXPECT_EQ(loadMappingList(p), (std::vector<std::string>{"a", "", "b", "", "c"}))
      << "LF CR is two breaks; a break at the end adds no line";
  test::writeFile(p, std::string("a\r\nb\0c\r\nd", 10));
  EXPECT_EQ(loadMappingList(p), (std::vector<std::string>{"a", "b"})) << "NUL ends the text";
  test::writeFile(p, "");
  EXPECT_TRUE(loadMappingList(p).empty());
  test::writeFile(p, "\n");
  EXPECT_EQ(loadMappingList(p), std::vector<std::string>{""});
  test::writeFile(p, "\xEF\xBB\xBF" "a >> b->c\r\n");
  EXPECT_EQ(loadMappingList(p), std::vector<std::string>{"a >> b->c"}) << "a UTF-8 BOM is dropped";
}

TEST(MappingFile, GbkListFromChineseWindows) {
  test::TempDir dir;
  std::string p = dir.file("gbk.TXT");
  // "客户->名称 >> 订单->名称" and "北京 >> 订单->城市" in GBK.
  test::writeFile(p,
                  "\xBF\xCD\xBB\xA7->\xC3\xFB\xB3\xC6 >> \xB6\xA9\xB5\xA5->\xC3\xFB\xB3\xC6\r\n"
                  "\xB1\xB1\xBE\xA9 >> \xB6\xA9\xB5\xA5->\xB3\xC7\xCA\xD0\r\n");
  EXPECT_EQ(loadMappingList(p),
            (std::vector<std::string>{"客户->名称 >> 订单->名称", "北京 >> 订单->城市"}));
}

TEST(MappingFile, NeitherUtf8NorGbkFailsClearly) {
  test::TempDir dir;
  std::string p = dir.file("bin.TXT");
  test::writeFile(p, "a >> b->c\r\n\xFF\xFE\x80\x80");
  try {
    loadMappingList(p);
    FAIL();
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("编码"), std::string::npos) << e.what();
  }
  EXPECT_THROW(loadMappingList(dir.file("missing.TXT")), Error);
}

TEST(MappingFile, FailedSaveLeavesTheOldFileWhole) {
  test::TempDir dir;
  std::string p = dir.file("list.TXT");
  saveMappingList({"old >> t->f"}, p);
  // A file size limit stands in for a full disk: the write fails midway.
  std::string message;
  {
    test::FileSizeLimit full(16);
    try {
      saveMappingList({"new >> t->f", std::string(100, 'x')}, p);
    } catch (const Error& e) {
      message = e.what();
    }
  }
  EXPECT_EQ(message, "无法写入列表文件“" + p + "”：文件超过了系统允许的大小");
  EXPECT_EQ(test::readFile(p), "old >> t->f\r\n");
  int entries = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1) << "no temporary file is left behind";
}

TEST(MappingFile, FailedRenameLeavesNoTemporaryFile) {
  test::TempDir dir;
  std::string target = dir.file("list.TXT");
  ASSERT_EQ(mkdir(target.c_str(), 0755), 0);
  test::writeFile(target + "/inside", "x");
  EXPECT_THROW(saveMappingList({"x"}, target), Error);
  int entries = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1) << "only the folder that stood in the way";
}

TEST(MappingFile, FailedSaveIntoAMissingFolder) {
  test::TempDir dir;
  EXPECT_THROW(saveMappingList({"x"}, dir.file("no/such/list.TXT")), Error);
}

// A list is small: a device that never ends, a huge file or an endless line
// are refused with a message instead of being read until memory runs out.
TEST(MappingFile, LoadRefusesWhatCannotBeAList) {
  test::TempDir dir;
  try {
    loadMappingList("/dev/zero");
    FAIL() << "/dev/zero was read as a list";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "列表文件“/dev/zero”太大（超过 16 MB），不是映射列表文件");
  }
  const std::string line = "a->b >> c->d\r\n";
  std::string big;
  while (big.size() + line.size() <= kMaxMappingListBytes) big += line;
  test::writeFile(dir.file("largest.TXT"), big);
  EXPECT_EQ(loadMappingList(dir.file("largest.TXT")).size(), big.size() / line.size());
  test::writeFile(dir.file("too big.TXT"), big + std::string(line.size(), 'x'));
  EXPECT_THROW(loadMappingList(dir.file("too big.TXT")), Error);

  const std::string longest(kMaxMappingLineBytes, 'n');
  test::writeFile(dir.file("long.TXT"), "x >> t->f\n" + longest + "\n");
  EXPECT_EQ(loadMappingList(dir.file("long.TXT")).at(1), longest);
  test::writeFile(dir.file("too long.TXT"), "x >> t->f\n\n" + longest + "n");
  try {
    loadMappingList(dir.file("too long.TXT"));
    FAIL() << "a line over the limit was read";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()),
              "列表文件“" + dir.file("too long.TXT") + "”的第 3 行太长（超过 64 KB），不是映射列表文件");
  }
}

// A named pipe nobody writes to is an empty list at once, not an endless
// wait; one with a writer (as from a shell's process substitution) is read.
TEST(MappingFile, LoadFromAPipeDoesNotWaitForAWriter) {
  test::TempDir dir;
  const std::string fifo = dir.file("list.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_TRUE(loadMappingList(fifo).empty());
  // Opened for both, the pipe takes the line without a reader; the list is
  // read whole once the writer closes it.
  const int fd = open(fifo.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "a->b >> c->d\r\n", 14), 14);
  std::thread closer([fd] {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    close(fd);
  });
  const std::vector<std::string> lines = loadMappingList(fifo);
  closer.join();
  EXPECT_EQ(lines, std::vector<std::string>{"a->b >> c->d"});
}

// Saving replaces a plain file only: a link keeps leading to the saved
// list, and a pipe or a folder in the list's place is refused untouched.
TEST(MappingFile, SaveKeepsLinksAndRefusesWhatIsNoFile) {
  test::TempDir dir;
  const std::string real = dir.file("real.TXT"), link = dir.file("link.TXT");
  test::writeFile(real, "old");
  ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
  saveMappingList({"a->b >> c->d"}, link);
  EXPECT_EQ(test::readFile(real), "a->b >> c->d\r\n");
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));

  const std::string fifo = dir.file("pipe.TXT"), folder = dir.file("folder.TXT");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  for (const auto& [target, reason] :
       {std::pair{fifo, "这不是普通文件（而是设备、管道或套接字）"}, std::pair{folder, "这是一个文件夹"}}) {
    try {
      saveMappingList({"x"}, target);
      ADD_FAILURE() << "saved over " << target;
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), "无法写入列表文件“" + target + "”：" + reason);
    }
  }
  ASSERT_EQ(stat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  ASSERT_EQ(stat(folder.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  int entries = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 4) << "no temporary file is left behind";
}

// The temporary file beside it must not need a longer name than the system
// allows: a list whose name is as long as allowed is saved too.
TEST(MappingFile, SaveUnderTheLongestNameAllowed) {
  test::TempDir dir;
  const std::string p = dir.file(std::string(NAME_MAX - 4, 'n') + ".TXT");
  saveMappingList({"a->b >> c->d"}, p);
  EXPECT_EQ(test::readFile(p), "a->b >> c->d\r\n");
  saveMappingList({"e->f >> g->h"}, p);
  EXPECT_EQ(test::readFile(p), "e->f >> g->h\r\n");
}
