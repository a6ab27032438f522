// Index pages: every index page Access wrote decodes, and the page writer
// gives back Access's own bytes wherever Access shared the longest prefix.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "data/access/format/index_page.h"
#include "tests/access_index/index_support.h"

namespace vov::access {
namespace {

using test::FilePages;

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

TEST(IndexPage, AccessPagesDecodeAndWriteBackTheSameBytes) {
  size_t pages = 0, identical = 0, compressed = 0, nodes = 0;
  for (const std::string& file : test::accessWrittenFiles()) {
    SCOPED_TRACE(file);
    FilePages f(file);
    for (uint32_t n = 1; n < f.pageCount(); ++n) {
      const uint8_t* raw = f.read(n);
      if (raw[0] != indexpage::kNode && raw[0] != indexpage::kLeaf) continue;
      SCOPED_TRACE("page " + std::to_string(n));
      ++pages;
      IndexPage p;
      ASSERT_EQ(IndexPage::parse(raw, 4096, &p), nullptr);
      std::vector<uint8_t> out(4096);
      p.serialize(out.data(), 4096, le16(raw + 4) | (le16(raw + 6) << 16));
      IndexPage again;
      ASSERT_EQ(IndexPage::parse(out.data(), 4096, &again), nullptr);
      ASSERT_EQ(again.size(), p.size());
      for (size_t i = 0; i < p.size(); ++i) EXPECT_EQ(again.entry(i), p.entry(i));
      EXPECT_EQ(again.previous, p.previous);
      EXPECT_EQ(again.next, p.next);
      EXPECT_EQ(again.tail, p.tail);
      // Access does not always share the longest prefix; where it did, or
      // there was nothing to share, the used part must be its bytes.
      const size_t stored = le16(raw + indexpage::kPrefix);
      if (stored != p.sharedPrefix()) continue;
      const size_t used = 4096 - le16(raw + indexpage::kFreeSpace);
      ASSERT_EQ(used, p.encodedSize());
      EXPECT_EQ(std::memcmp(out.data(), raw, used), 0);
      ++identical;
      if (stored > 0) ++compressed;
      if (!p.leaf()) ++nodes;
    }
  }
  EXPECT_GT(pages, 240u);
  EXPECT_GT(identical, 100u);
  EXPECT_GE(compressed, 1u);  // compindex_ace14.accdb page 81
  EXPECT_GE(nodes, 1u);       // and its root, page 80
}

TEST(IndexPage, DamagedPagesAreRefused) {
  FilePages f("access/compindex_ace14.accdb");
  std::vector<uint8_t> page(f.read(81), f.read(81) + 4096);
  IndexPage p;
  ASSERT_EQ(IndexPage::parse(page.data(), 4096, &p), nullptr);
  std::vector<uint8_t> bad = page;
  bad[indexpage::kFreeSpace] ^= 0x01;  // free space no longer where the bitmap ends
  EXPECT_NE(IndexPage::parse(bad.data(), 4096, &p), nullptr);
  bad = page;
  bad[indexpage::kPrefix] = 0xFF;  // longer than the first entry
  bad[indexpage::kPrefix + 1] = 0x00;
  EXPECT_NE(IndexPage::parse(bad.data(), 4096, &p), nullptr);
  bad = page;
  bad[0] = 0x01;
  EXPECT_NE(IndexPage::parse(bad.data(), 4096, &p), nullptr);
}

// Entries added in any order keep the page sorted and its prefix the
// longest all entries share, also when a new entry shortens it.
TEST(IndexPage, SharedPrefixFollowsTheEntries) {
  IndexPage p(true);
  auto entry = [](uint32_t key, uint8_t row) {
    return indexSortPart(std::string("\x7f\x80\x00", 3) + static_cast<char>(key), 90, row);
  };
  for (uint8_t k : {40, 10, 30, 20}) p.insert(p.lowerBound(entry(k, k)), entry(k, k));
  EXPECT_EQ(p.sharedPrefix(), 3u);
  const size_t before = p.encodedSize();
  p.insert(p.size(), indexSortPart(std::string("\x7f\x81", 2), 90, 1));
  EXPECT_EQ(p.sharedPrefix(), 1u);
  EXPECT_GT(p.encodedSize(), before);
  std::vector<uint8_t> out(4096);
  p.serialize(out.data(), 4096, 74);
  IndexPage back;
  ASSERT_EQ(IndexPage::parse(out.data(), 4096, &back), nullptr);
  ASSERT_EQ(back.size(), 5u);
  for (size_t i = 1; i < back.size(); ++i) EXPECT_LT(back.entry(i - 1), back.entry(i));
  EXPECT_EQ(le16(out.data() + indexpage::kPrefix), 1u);
  EXPECT_EQ(4096u - le16(out.data() + indexpage::kFreeSpace), p.encodedSize());
}

}  // namespace
}  // namespace vov::access
