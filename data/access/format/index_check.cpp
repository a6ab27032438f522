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
                       const IndexDef& def, const RowLookup& lookup)
    : pagesIn_(pages), owner_(owner), where_("表“" + table + "”的索引“" + def.name + "”"),
      def_(def), lookup_(lookup) {
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
}

void IndexCheck::fail(const std::string& what) const { throw FormatError(where_ + "：" + what); }

std::string IndexCheck::walk(uint32_t n, int depth, std::vector<std::vector<Link>>& levels) {
  if (depth > kMaxDepth) fail("索引树的层数过多");
  if (!visited_.insert(n).second) fail(pageName(n) + "在索引树中出现两次");
  pages_.push_back(n);
  IndexPage p;
  {
    const uint8_t* raw = pagesIn_.read(n);
    if (const char* bad = IndexPage::parse(raw, pagesIn_.pageSize(), &p))
      fail(pageName(n) + "：" + bad);
    if (get32(raw + indexpage::kOwner) != owner_) fail(pageName(n) + "不属于该表");
  }
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
      entry(e);
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

// One leaf entry, in index order: its row must be there, indexed, and hold
// its key.
void IndexCheck::entry(std::string_view e) {
  ++entries_;
  lastEntry_.assign(e);
  std::string_view key = e.substr(0, e.size() - indexpage::kRowPointerSize);
  if (distinct_ == 0 || key != lastKey_) ++distinct_;
  lastKey_.assign(key);
  // The row pointer, page then row, big-endian: as page << 8 | row.
  const uint32_t pointer =
      readBigEndian32(reinterpret_cast<const uint8_t*>(e.data()) + key.size());
  if (!lookup_) return;
  const std::vector<KeyValue>* values = lookup_(RowPointer::decode(pointer));
  if (!values) fail("索引条目指向的" + rowName(pointer) + "不是表中的行");
  if (!rowIndexed(def_, *values)) fail(rowName(pointer) + "的键列都为空，却有索引条目");
  std::string want;
  try {
    want = rowKey(def_, *values);
  } catch (const KeyError&) {
    if (!unverified_.insert(pointer).second) fail(rowName(pointer) + "有两个索引条目");
    return;
  }
  if (want != key)
    fail(rowName(pointer) + "的索引键为 " + hex(key) + "，按该行的值应为 " + hex(want));
  ++compared_;
}

void IndexCheck::expectRows(uint64_t indexedRows,
                            const std::function<std::string(IndexTree&)>& firstMissing) {
  if (indexedRows == entries_) return;
  if (indexedRows < entries_)  // cannot be: each entry has a row of its own
    fail("条目比表中应有条目的行多");
  std::string which;
  if (firstMissing) {
    IndexTree tree(pagesIn_, owner_, def_.root);
    which = firstMissing(tree);
  }
  if (!which.empty()) fail(which + "没有索引条目");
  fail("表中有 " + std::to_string(indexedRows - entries_) + " 行没有索引条目");
}

std::vector<IndexReport> checkTableIndexes(PageFile& file, const TableDef& table,
                                           const std::string& tableName) {
  const std::vector<IndexDef> defs = indexDefs(table);
  FileIndexPages pages(file);
  // Rows each index must hold, counted from the rows' null masks alone.
  std::vector<uint64_t> indexed(defs.size(), 0);
  std::vector<std::vector<size_t>> keyColumns(defs.size());
  for (size_t i = 0; i < defs.size(); ++i)
    for (const IndexedColumn& c : defs[i].columns)
      for (size_t k = 0; k < table.columns.size(); ++k)
        if (table.columns[k].number == c.number) keyColumns[i].push_back(k);
  std::vector<FieldSpan> spans;
  scanRows(file, table, [&](RowPointer at, const uint8_t* row, uint32_t length) {
    if (!crackRow(table, row, length, &spans))
      throw FormatError(rowName(at.encode()) + "无法拆分为各列");
    for (size_t i = 0; i < defs.size(); ++i) {
      bool any = !defs[i].ignoreNulls;
      for (size_t k : keyColumns[i])
        any = any || table.columns[k].type == kColBool || !spans[k].null;
      indexed[i] += any;
    }
  });

  std::vector<IndexReport> out;
  for (size_t i = 0; i < defs.size(); ++i) {
    const IndexDef& def = defs[i];
    StoredRowValues values(table, {def});
    PageRef hold;
    const RowLookup lookup = [&](RowPointer at) -> const std::vector<KeyValue>* {
      const uint8_t* row = nullptr;
      uint32_t length = 0;
      if (!rowAt(file, table, at, &hold, &row, &length)) return nullptr;
      return &values.read(row, length);
    };
    IndexCheck check(pages, table.page, tableName, def, lookup);
    check.expectRows(indexed[i], [&](IndexTree& tree) {
      std::string missing;
      scanRows(file, table, [&](RowPointer at, const uint8_t* row, uint32_t length) {
        const std::vector<KeyValue>& v = values.read(row, length);
        if (!missing.empty() || !rowIndexed(def, v)) return;
        try {
          if (!tree.containsEntry(rowKey(def, v), at.page, at.row)) missing = rowName(at.encode());
        } catch (const KeyError&) {
        }
      });
      return missing;
    });
    std::vector<uint32_t> used = check.pages();
    std::sort(used.begin(), used.end());
    if (UsageMap::read(file, table.realIndexes[i].usageMap).pages() != used)
      throw FormatError("表“" + tableName + "”的索引“" + def.name +
                        "”的页面分配表与索引所用的页不符");
    IndexReport r;
    r.name = def.name;
    r.entries = check.entries();
    r.distinctKeys = check.distinctKeys();
    r.storedCount = def.count;
    r.keysCompared = check.keysCompared();
    r.keysUnverified = check.keysUnverified();
    out.push_back(std::move(r));
  }
  return out;
}

}  // namespace vov::access
