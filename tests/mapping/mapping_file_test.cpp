// The mapping list file on disk.
#include <gtest/gtest.h>

#include <sys/stat.h>

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
