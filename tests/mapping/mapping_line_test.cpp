// Mapping lines and progress lines: composing, parsing, the width rule.
#include <gtest/gtest.h>

#include "mapping/display_width.h"
#include "mapping/mapping_line.h"
#include "mapping/progress_line.h"

using namespace vov;

namespace {

std::vector<std::string> parts(const std::string& line) {
  std::vector<std::string> p;
  for (int s = 0; s <= 4; ++s) p.push_back(parseMappingLine(line, s));
  return p;
}

}  // namespace

TEST(MappingLine, FieldLineFilledToTheWidthAndParsedBack) {
  std::string line = composeFieldMappingLine("A", "id", 6, "B", "code");
  EXPECT_EQ(line, "A->id     >> B->code");
  EXPECT_EQ(parts(line), (std::vector<std::string>{"A->id", "A", "id", "B", "code"}));
}

TEST(MappingLine, NamesAreNeverCutAndWidthMinusOneFillsNothing) {
  EXPECT_EQ(composeFieldMappingLine("t", "longname", 3, "u", "f"), "t->longname >> u->f");
  EXPECT_EQ(composeFieldMappingLine("t", "x", -1, "u", "f"), "t->x >> u->f");
  EXPECT_EQ(composeFieldMappingLine("t", "x", 0, "u", "f"), "t->x >> u->f");
  // Widths count display columns: a Chinese name of 4 columns fills to 8
  // with four blanks.
  EXPECT_EQ(composeFieldMappingLine("订单", "名称", 8, "t", "f"), "订单->名称     >> t->f");
}

// Lines of Chinese, Latin and mixed names line up in a fixed-width font,
// as they did on the double-byte system the list files come from.
TEST(MappingLine, MixedNamesLineUp) {
  NameColumnWidth w;
  const std::vector<std::string> names{"客户编号", "CompanyName", "电话Phone", "Ａ"};
  w.raise(names);
  EXPECT_EQ(w.value(), 11);
  std::vector<size_t> arrows;
  for (const std::string& n : names) {
    const std::string line = composeFieldMappingLine("T", n, w.value(), "U", "f");
    arrows.push_back(displayWidth(line.substr(0, line.find(" >> "))));
    EXPECT_EQ(parseMappingLine(line, kOldField), n);
  }
  EXPECT_EQ(arrows, std::vector<size_t>(names.size(), 3 + 11));
}

TEST(DisplayWidth, WideAndFullWidthCountTwo) {
  EXPECT_EQ(displayWidth(""), 0u);
  EXPECT_EQ(displayWidth("abc"), 3u);
  EXPECT_EQ(displayWidth("名称"), 4u);          // CJK ideographs
  EXPECT_EQ(displayWidth("，。"), 4u);          // CJK punctuation
  EXPECT_EQ(displayWidth("ＡＢ"), 4u);          // full-width Latin
  EXPECT_EQ(displayWidth("ｶﾅ"), 2u);            // half-width katakana
  EXPECT_EQ(displayWidth("가"), 2u);            // Hangul syllable
  EXPECT_EQ(displayWidth("éßαЖ"), 4u);          // narrow and ambiguous count one
  EXPECT_EQ(displayWidth("𠀀😀"), 4u);          // beyond the BMP
  EXPECT_EQ(displayWidth("\xFF\xE5\x90"), 3u);  // broken bytes: one each
  EXPECT_FALSE(isWideCharacter(0x4DC0));        // Yijing hexagram, between two wide blocks
  EXPECT_TRUE(isWideCharacter(0x4DBF));
  EXPECT_TRUE(isWideCharacter(0x9FFF));
  EXPECT_TRUE(isWideCharacter(0x3FFFD));
  EXPECT_FALSE(isWideCharacter(0x3FFFE));
  EXPECT_FALSE(isWideCharacter(0x10FFFF));
}

TEST(MappingLine, WidthIsARunningMaximumOfDisplayWidths) {
  NameColumnWidth w;
  EXPECT_EQ(w.value(), -1);
  w.raise({"id", "名称"});  // 2 and 4 columns
  EXPECT_EQ(w.value(), 4);
  w.raise({"a"});
  EXPECT_EQ(w.value(), 4) << "never lowered";
  w.raise({"twenty_bytes_name_xx"});
  EXPECT_EQ(w.value(), 20);
  w.reset();
  EXPECT_EQ(w.value(), -1);
  w.raise({});
  EXPECT_EQ(w.value(), -1);
  w.raise({""});
  EXPECT_EQ(w.value(), 0);
}

TEST(MappingLine, BlanksInsideNamesSurviveBlanksAroundDoNot) {
  std::string line = composeFieldMappingLine("Order Details", "first name", 14, "新 表", "unit price");
  EXPECT_EQ(parts(line),
            (std::vector<std::string>{"Order Details->first name", "Order Details", "first name",
                                      "新 表", "unit price"}));
  EXPECT_EQ(parseMappingLine("T-> x  >> U->y", kOldField), "x");
}

TEST(MappingLine, DefaultValueLines) {
  std::string line = composeDefaultValueLine("  北京  ", "客户", "城市");
  EXPECT_EQ(line, "  北京   >> 客户->城市");
  EXPECT_EQ(parts(line), (std::vector<std::string>{"北京", "", "", "客户", "城市"}));
  // ">>" inside the value: the left side ends at the first ">>".
  line = composeDefaultValueLine("a>>b", "T", "f");
  EXPECT_EQ(line, "a>>b >> T->f");
  EXPECT_EQ(parseMappingLine(line, kLeftSide), "a");
  EXPECT_EQ(parseMappingLine(line, kOldField), "");
  EXPECT_EQ(parseMappingLine(line, kNewTable), "b >> T") << "the right side's first \"->\"";
  EXPECT_EQ(parseMappingLine(line, kNewField), "f");
}

TEST(MappingLine, LinesWithoutTheMarkers) {
  EXPECT_EQ(parts("no markers here"), (std::vector<std::string>(5)));
  EXPECT_EQ(parts(""), (std::vector<std::string>(5)));
  EXPECT_EQ(parts("left >> right"), (std::vector<std::string>{"left", "", "", "", ""}));
  EXPECT_EQ(parseMappingLine("a->b >> c->d", 5), "");
  EXPECT_EQ(parseMappingLine("a->b >> c->d", -1), "");
}

TEST(MappingLine, TrimRemovesControlBytesButNotUtf8) {
  EXPECT_EQ(trimControl("\t\r\n x \x01"), "x");
  EXPECT_EQ(trimControl(" 中 "), "中");
  EXPECT_EQ(trimControl("\xC2\xA0x\xC2\xA0"), "\xC2\xA0x\xC2\xA0") << "bytes of 128 and above stay";
  EXPECT_EQ(trimControl("   "), "");
}

TEST(ProgressLine, ComposeAndParse) {
  EXPECT_EQ(composeProgressLine("Orders", "订单", PairOutcome::Done), "Orders => 订单=>完成");
  EXPECT_EQ(composeProgressLine("Orders", "订单", PairOutcome::Skipped), "Orders => 订单=>跳过");
  std::string o, n;
  parseProgressLine("Order Details => 订单 明细=>跳过", &o, &n);
  EXPECT_EQ(o, "Order Details");
  EXPECT_EQ(n, "订单 明细");
  parseProgressLine("no arrow", &o, &n);
  EXPECT_EQ(o, "");
  EXPECT_EQ(n, "");
  // A name holding "=>" is split at its own "=>".
  parseProgressLine(composeProgressLine("a=>b", "c", PairOutcome::Done), &o, &n);
  EXPECT_EQ(o, "a");
  EXPECT_EQ(n, "b");
  parseProgressLine("x => y", &o, &n);  // no outcome marker
  EXPECT_EQ(o, "x");
  EXPECT_EQ(n, "");
}
