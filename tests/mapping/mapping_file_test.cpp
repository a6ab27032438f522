// The mapping list file on disk.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <unistd.h>

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
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit small = saved;
  small.rlim_cur = 16;
  auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool threw = false;
  try {
    saveMappingList({"new >> t->f", std::string(100, 'x')}, p);
  } catch (const Error&) {
    threw = true;
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);
  EXPECT_TRUE(threw);
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
