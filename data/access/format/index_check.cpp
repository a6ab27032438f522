// The index checker; see index_check.h.
#include "data/access/format/index_check.h"

#include <algorithm>
#include <cstdio>

#include "data/access/format/bytes.h"
#include "data/access/format/page.h"
#include "data/access/format/row.h"
#include "data/access/format/usage_map.h"

namespace vov::access {

namespace {

constexpr int kMaxDepth = 16;

std::string hex(std::string_view b) {
  std::string s;
  char x[4];
  for (unsigned char c : b) {
    std::snprintf(x, sizeof x, "%02X", c);
    s += x;
  }
  return s;
}

std::string pageName(uint32_t n) { return "索引的第 " + std::to_string(n) + " 页"; }

std::string rowName(uint32_t pointer) {
  return "第 " + std::to_string(pointer >> 8) + " 页第 " + std::to_string(pointer & 0xFF) + " 行";
}

}  // namespace

IndexCheck::IndexCheck(IndexPages& pages, uint32_t owner, const std::string& table,
                       const IndexDef& def)
    : pagesIn_(pages), owner_(owner), where_("表“" + table + "”的索引“" + def.name + "”"),
      def_(def) {
  std::vector<std::vector<Link>> levels;
  walk(def.root, 0, levels);
  // Each level, left to right, is one doubly linked list.
  for (const auto& level : levels) {
    for (size_t i = 0; i < level.size(); ++i) {
      const uint32_t prev = i == 0 ? 0 : level[i - 1].page;
      const uint32_t next = i + 1 == level.size() ? 0 : level[i + 1].page;
      if (level[i].previous != prev || level[i].next != next)
        fail(pageName(level[i].page) + "与同层相邻页的链接不符");
    }
  }
  std::sort(entries_.begin(), entries_.end());
  for (size_t i = 1; i < entries_.size(); ++i)
    if (entries_[i].pointer == entries_[i - 1].pointer)
      fail(rowName(entries_[i].pointer) + "有两个索引条目");
}

void IndexCheck::fail(const std::string& what) const { throw FormatError(where_ + "：" + what); }

std::string IndexCheck::walk(uint32_t n, int depth, std::vector<std::vector<Link>>& levels) {
  if (depth > kMaxDepth) fail("索引树的层数过多");
  if (!visited_.insert(n).second) fail(pageName(n) + "在索引树中出现两次");
  pages_.push_back(n);
  const uint8_t* raw = pagesIn_.read(n);
  IndexPage p;
  if (const char* bad = IndexPage::parse(raw, pagesIn_.pageSize(), &p))
    fail(pageName(n) + "：" + bad);
  if (get32(raw + indexpage::kOwner) != owner_)
    fail(pageName(n) + "不属于该表");
  if (levels.size() <= static_cast<size_t>(depth)) levels.resize(depth + 1);
  levels[depth].push_back({n, p.previous, p.next});
  const std::string page = pageName(n);
  if (p.leaf()) {
    if (leafDepth_ < 0) leafDepth_ = depth;
    else if (leafDepth_ != depth) fail(page + "与其他叶页不在同一层");
    if (p.tail != 0) fail(page + "是叶页却有尾页");
    if (p.empty() && depth > 0) fail(page + "是空的叶页");
    for (size_t i = 0; i < p.size(); ++i) {
      std::string_view e = p.entry(i);
      if (!lastEntry_.empty() && !(std::string_view(lastEntry_) < e))
        fail(page + "的条目 " + std::to_string(i) + " 没有按键的顺序排列");
      lastEntry_.assign(e);
      std::string_view key = e.substr(0, e.size() - indexpage::kRowPointerSize);
      if (distinct_ == 0 || key != lastKey_) ++distinct_;
      lastKey_.assign(key);
      // The row pointer, page then row, big-endian: as page << 8 | row.
      const uint32_t pointer =
          readBigEndian32(reinterpret_cast<const uint8_t*>(e.data()) + key.size());
      entries_.push_back({pointer, static_cast<uint32_t>(keys_.size()),
                          static_cast<uint16_t>(key.size()), false});
      keys_ += key;
    }
    return p.empty() ? std::string() : std::string(p.last());
  }
  if (p.empty() && p.tail == 0) fail(page + "是没有子页的节点页");
  for (size_t i = 0; i < p.size(); ++i) {
    const std::string below = walk(p.child(i), depth + 1, levels);
    if (below != p.sortPart(i))
      fail(page + "的条目 " + std::to_string(i) + " 不是其子页中最大的条目");
  }
  if (p.tail != 0) return walk(p.tail, depth + 1, levels);
  return std::string(p.last());
}

void IndexCheck::row(uint32_t page, uint8_t rowNumber, const std::vector<KeyValue>& values) {
  const uint32_t pointer = (page << 8) | rowNumber;
  Entry probe{pointer, 0, 0, false};
  auto it = std::lower_bound(entries_.begin(), entries_.end(), probe);
  const bool found = it != entries_.end() && it->pointer == pointer;
  if (!rowIndexed(def_, values)) {
    if (found) fail(rowName(pointer) + "的键列都为空，却有索引条目");
    return;
  }
  if (!found) fail(rowName(pointer) + "没有索引条目");
  if (it->matched) fail(rowName(pointer) + "被检查了两次");
  it->matched = true;
  std::string want;
  try {
    want = rowKey(def_, values);
  } catch (const KeyError&) {
    ++unverified_;
    return;
  }
  std::string_view have = std::string_view(keys_).substr(it->keyOffset, it->keyLength);
  if (want != have)
    fail(rowName(pointer) + "的索引键为 " + hex(have) + "，按该行的值应为 " + hex(want));
  ++compared_;
}

void IndexCheck::finish() {
  for (const Entry& e : entries_)
    if (!e.matched) fail("索引条目指向的" + rowName(e.pointer) + "不是表中的行");
}

std::vector<IndexReport> checkTableIndexes(PageFile& file, const TableDef& table,
                                           const std::string& tableName) {
  const std::vector<IndexDef> defs = indexDefs(table);
  FileIndexPages pages(file);
  std::vector<IndexCheck> checks;
  for (size_t i = 0; i < defs.size(); ++i) {
    checks.emplace_back(pages, table.page, tableName, defs[i]);
    std::vector<uint32_t> used = checks.back().pages();
    std::sort(used.begin(), used.end());
    if (UsageMap::read(file, table.realIndexes[i].usageMap).pages() != used)
      throw FormatError("表“" + tableName + "”的索引“" + defs[i].name +
                        "”的页面分配表与索引所用的页不符");
  }
  StoredRowValues values(table, defs);
  scanRows(file, table, [&](RowPointer at, const uint8_t* row, uint32_t length) {
    const std::vector<KeyValue>& v = values.read(row, length);
    for (IndexCheck& c : checks) c.row(at.page, at.row, v);
  });
  std::vector<IndexReport> out;
  for (size_t i = 0; i < checks.size(); ++i) {
    checks[i].finish();
    IndexReport r;
    r.name = defs[i].name;
    r.entries = checks[i].entries();
    r.distinctKeys = checks[i].distinctKeys();
    r.storedCount = defs[i].count;
    r.keysCompared = checks[i].keysCompared();
    r.keysUnverified = checks[i].keysUnverified();
    out.push_back(std::move(r));
  }
  return out;
}

}  // namespace vov::access
