// The whole-file checker (checker.h).
#include "data/access/format/checker.h"

#include <algorithm>

#include "data/access/format/bytes.h"
#include "data/access/format/catalog.h"
#include "data/access/format/index_check.h"
#include "data/access/format/long_value.h"
#include "data/access/format/row.h"
#include "data/access/format/table_def.h"
#include "data/access/format/usage_map.h"

namespace vov::access {

namespace {

std::string pageName(uint32_t p) { return "第 " + std::to_string(p) + " 页"; }

class Checker {
 public:
  Checker(PageFile& file, const CheckOptions& options, CheckReport& report)
      : f_(file), options_(options), r_(report), claims_(file.pageCount(), 0) {}

  void run() {
    claim(0, kClaimFixed);
    claim(1, kClaimFixed);
    checkDataPage(1, "数据库的页面分配表");
    std::vector<CatalogEntry> catalog;
    try {
      catalog = readCatalog(f_);
    } catch (const FormatError& e) {
      problem(std::string("目录表无法读取：") + e.what());
      return;
    }
    for (const CatalogEntry& e : catalog) {
      if (e.type != kObjectTable) continue;
      const std::string name = "表“" + e.name + "”";
      try {
        checkTable(e, name);
      } catch (const FormatError& ex) {
        problem(name + "：" + ex.what());
      }
    }
    checkGlobalMap();
  }

 private:
  // What a page is used for; a page used twice is an error.
  enum : uint32_t { kClaimFixed = 1, kClaimMap = 2, kClaimBase = 16 };

  void problem(const std::string& s) {
    if (r_.problems.size() < 100) r_.problems.push_back(s);
  }

  bool claim(uint32_t page, uint32_t who, const std::string& what = {}) {
    if (page >= claims_.size()) {
      problem(what + "用到文件末尾之外的" + pageName(page));
      return false;
    }
    if (claims_[page] != 0 && claims_[page] != who) {
      problem(what + "用到的" + pageName(page) + "已被别处使用");
      return false;
    }
    claims_[page] = who;
    return true;
  }

  // Header, row table and free-space count of a data page.
  bool checkDataPage(uint32_t pg, const std::string& what) {
    PageRef page = f_.get(pg);
    const uint8_t* b = page->bytes.data();
    const uint32_t size = f_.pageSize();
    if (b[0] != kPageData) {
      problem(what + "的" + pageName(pg) + "不是数据页");
      return false;
    }
    const uint32_t rows = get16(b + datapage::kRowCount);
    if (rows > datapage::kMaxRows || datapage::kRowTable + 2 * rows > size) {
      problem(what + "的" + pageName(pg) + "行数不合理");
      return false;
    }
    uint32_t used = 0;
    for (uint32_t i = 0; i < rows; ++i) {
      RowExtent e;
      if (!rowExtent(b, size, i, &e)) {
        problem(what + "的" + pageName(pg) + "第 " + std::to_string(i) + " 行超出页面");
        return false;
      }
      used += e.end - e.start;
    }
    const uint32_t free = size - datapage::kRowTable - 2 * rows - used;
    if (get16(b + datapage::kFreeSpace) != free) {
      problem(what + "的" + pageName(pg) + "记录的空闲字节数 " +
              std::to_string(get16(b + datapage::kFreeSpace)) + " 与实际的 " +
              std::to_string(free) + " 不符");
      return false;
    }
    return true;
  }

  UsageMap readMap(RowPointer at, const std::string& what) {
    if (!claim(at.page, kClaimMap, what)) throw FormatError(what + "无法读取");
    checkDataPage(at.page, what);
    UsageMap m = UsageMap::read(f_, at);
    for (uint32_t p : m.bitmapPages())
      if (p != 0) claim(p, kClaimMap, what);
    return m;
  }

  void checkTable(const CatalogEntry& entry, const std::string& name) {
    const uint32_t tdef = entry.definitionPage();
    if (tdef < 3 && tdef != kCatalogPage) {
      problem(name + "的定义页号不合理");
      return;
    }
    const TableDef def = readTableDef(f_, tdef);
    const uint32_t who = kClaimBase + tdef * 4;
    tables_[tdef] = name;
    for (uint32_t p : def.pages) claim(p, who, name + "的定义");
    ++r_.tables;

    const UsageMap owned = readMap(def.ownedPages, name + "的页面分配表");
    const UsageMap free = readMap(def.freePages, name + "的空闲页表");
    for (uint32_t p : owned.pages()) {
      if (!claim(p, who, name)) continue;
      PageRef page = f_.get(p);
      if (page->bytes[0] != kPageData || get32(page->bytes.data() + datapage::kOwner) != tdef) {
        problem(name + "的页面分配表列出的" + pageName(p) + "不是它的数据页");
        continue;
      }
      checkDataPage(p, name);
    }
    for (uint32_t p : free.pages())
      if (!owned.contains(p)) problem(name + "的空闲页表列出了不属于它的" + pageName(p));

    // Each memo/OLE column's pages, and each index's pages.
    std::vector<UsageMap> lvMaps(def.columns.size());
    std::vector<bool> hasLvMap(def.columns.size(), false);
    for (size_t i = 0; i < def.columns.size(); ++i) {
      const Column& c = def.columns[i];
      if (!c.longValue() || c.longValuePages.null()) continue;
      const std::string what = name + "的列“" + c.name + "”的长数据页表";
      lvMaps[i] = readMap(c.longValuePages, what);
      hasLvMap[i] = true;
      for (uint32_t p : lvMaps[i].pages()) {
        if (!claim(p, who + 1, what)) continue;
        PageRef page = f_.get(p);
        if (page->bytes[0] != kPageData ||
            get32(page->bytes.data() + datapage::kOwner) != datapage::kLvalOwner) {
          problem(what + "列出的" + pageName(p) + "不是长数据页");
          continue;
        }
        checkDataPage(p, what);
      }
      if (!c.longValueFree.null()) {
        const UsageMap lvFree = readMap(c.longValueFree, what);
        for (uint32_t p : lvFree.pages())
          if (!lvMaps[i].contains(p)) problem(what + "的空闲页表列出了不属于它的" + pageName(p));
      }
    }
    for (const RealIndex& ix : def.realIndexes) {
      if (ix.usageMap.null()) continue;
      const std::string what = name + "的索引页表";
      const UsageMap m = readMap(ix.usageMap, what);
      for (uint32_t p : m.pages()) {
        if (!claim(p, who + 2, what)) continue;
        const uint8_t t = f_.get(p)->bytes[0];
        if (t != kPageIndexNode && t != kPageIndexLeaf)
          problem(what + "列出的" + pageName(p) + "不是索引页");
      }
    }

    checkRows(def, name, owned, lvMaps, hasLvMap);
    if (!def.realIndexes.empty()) {
      try {
        const std::vector<IndexReport> reports = checkTableIndexes(f_, def, entry.name);
        for (size_t i = 0; i < reports.size(); ++i) {
          const IndexReport& x = reports[i];
          const std::pair<uint32_t, size_t> id{def.page, i};
          if (x.storedCount == x.distinctKeys) {
            r_.exactIndexCounts.push_back(id);
            continue;
          }
          const std::string s = name + "的索引“" + x.name + "”记录的键数 " +
                                std::to_string(x.storedCount) + " 与实际的 " +
                                std::to_string(x.distinctKeys) + " 个不同的键不符";
          if (std::count(options_.exactIndexCounts.begin(), options_.exactIndexCounts.end(), id))
            problem(s);
          else
            r_.notes.push_back(s);
        }
      } catch (const FormatError& e) {
        problem(name + "的索引：" + e.what());
      }
    }
  }

  void checkRows(const TableDef& def, const std::string& name, const UsageMap& owned,
                 const std::vector<UsageMap>& lvMaps, const std::vector<bool>& hasLvMap) {
    uint64_t live = 0;
    int64_t maxAuto = 0;
    const Column* autoCol = nullptr;
    size_t autoPos = 0;
    for (size_t i = 0; i < def.columns.size(); ++i)
      if (def.columns[i].autoNumber() && def.columns[i].type == kColLong) {
        autoCol = &def.columns[i];
        autoPos = i;
      }
    std::vector<FieldSpan> spans;
    scanRows(f_, def, [&](RowPointer at, const uint8_t* row, uint32_t len) {
      ++live;
      const std::string where = name + "的" + pageName(at.page) + "第 " + std::to_string(at.row) + " 行";
      if (!owned.contains(at.page)) problem(where + "所在的页不在表的页面分配表中");
      if (len < 2 || get16(row) > std::max(def.maxColumns, static_cast<uint16_t>(def.columns.size()))) {
        problem(where + "的列数不合理");
        return;
      }
      if (!crackRow(def, row, len, &spans)) {
        problem(where + "无法拆分为各列");
        return;
      }
      for (size_t i = 0; i < def.columns.size(); ++i) {
        const Column& c = def.columns[i];
        const FieldSpan& s = spans[i];
        if (s.null || c.type == kColBool) continue;
        if (c.fixed() && s.length != c.length) problem(where + "的列“" + c.name + "”长度不对");
        if (c.longValue()) {
          try {
            readLongValue(f_, row + s.start, s.length, [&](uint32_t p) {
              if (hasLvMap[i] && !lvMaps[i].contains(p))
                problem(where + "的列“" + c.name + "”的长数据在不属于该列的" + pageName(p));
            });
          } catch (const FormatError& e) {
            problem(where + "的列“" + c.name + "”：" + e.what());
          }
        }
      }
      if (autoCol && !spans[autoPos].null && spans[autoPos].length == 4)
        maxAuto = std::max<int64_t>(maxAuto, static_cast<int32_t>(get32(row + spans[autoPos].start)));
    });
    r_.rows += live;
    if (def.rowCount != live) {
      const std::string s = name + "记录的行数 " + std::to_string(def.rowCount) + " 与实际的 " +
                            std::to_string(live) + " 行不符";
      if (std::count(options_.exactRowCounts.begin(), options_.exactRowCounts.end(), def.page))
        problem(s);
      else
        r_.notes.push_back(s);
    }
    if (autoCol && maxAuto > static_cast<int64_t>(def.lastAutoNumber))
      problem(name + "的自动编号计数 " + std::to_string(def.lastAutoNumber) + " 小于已有的最大值 " +
              std::to_string(maxAuto));
  }

  // A page in use must never be offered as free.
  void checkGlobalMap() {
    UsageMap global;
    try {
      global = UsageMap::read(f_, RowPointer{1, 0});
    } catch (const FormatError& e) {
      problem(std::string("数据库的页面分配表无法读取：") + e.what());
      return;
    }
    for (uint32_t p = 0; p < claims_.size(); ++p) {
      if (claims_[p] != 0) {
        if (global.contains(p)) problem("数据库的页面分配表把在用的" + pageName(p) + "标为空闲");
        continue;
      }
      if (global.contains(p)) continue;
      // A page of a table that its map does not list hides its rows.
      PageRef page = f_.get(p);
      const uint8_t* b = page->bytes.data();
      if (b[0] != kPageData || !tables_.count(get32(b + datapage::kOwner))) continue;
      const uint32_t rows = get16(b + datapage::kRowCount);
      for (uint32_t i = 0; i < rows; ++i) {
        RowExtent e;
        if (rowExtent(b, f_.pageSize(), i, &e) && !(e.flags & datapage::kDeleted)) {
          problem(pageName(p) + "上有" + tables_[get32(b + datapage::kOwner)] +
                  "的行，但表的页面分配表没有列出这一页");
          break;
        }
      }
    }
  }

  PageFile& f_;
  const CheckOptions& options_;
  CheckReport& r_;
  std::vector<uint32_t> claims_;
  std::map<uint32_t, std::string> tables_;  // definition page -> name
};

}  // namespace

CheckReport checkFile(PageFile& file, const CheckOptions& options) {
  CheckReport report;
  if (file.format().version() == Version::Jet3) {
    report.problems.push_back("Jet 3 文件不在检查范围内");
    return report;
  }
  Checker(file, options, report).run();
  return report;
}

}  // namespace vov::access
