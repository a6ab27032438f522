// Row splitting (row.h).
#include "data/access/format/row.h"

#include <algorithm>

#include "data/access/format/bytes.h"
#include "data/access/format/usage_map.h"

namespace vov::access {

bool crackRow(const TableDef& def, const uint8_t* row, uint32_t length,
              std::vector<FieldSpan>* fields) {
  fields->assign(def.columns.size(), FieldSpan{});
  if (length < 2) return false;
  const uint32_t columns = get16(row);
  const uint32_t maskLen = (columns + 7) / 8;
  if (length < 2 + maskLen + 2) return false;
  const uint8_t* mask = row + length - maskLen;
  const uint32_t varCount = get16(row + length - maskLen - 2);
  const uint64_t tables = uint64_t{maskLen} + 2 + 2 * uint64_t{varCount} + 2;
  if (tables + 2 > length) return false;
  const uint32_t varTableEnd = length - maskLen - 2;  // just past slot 0
  auto varOffset = [&](uint32_t slot) { return get16(row + varTableEnd - 2 * (slot + 1)); };
  const uint32_t eod = get16(row + varTableEnd - 2 * (varCount + 1));
  const uint32_t dataEnd = length - static_cast<uint32_t>(tables);
  if (eod > dataEnd) return false;
  for (size_t i = 0; i < def.columns.size(); ++i) {
    const Column& c = def.columns[i];
    FieldSpan& f = (*fields)[i];
    const bool present = c.number < columns && (mask[c.number / 8] >> (c.number % 8) & 1);
    if (c.type == kColBool) {
      f.null = !present;
      continue;
    }
    if (!present) continue;
    if (c.fixed()) {
      f.start = 2u + c.fixedOffset;
      f.length = c.length;
      if (f.start + f.length > dataEnd) return false;
    } else {
      if (c.varIndex >= varCount) continue;
      f.start = varOffset(c.varIndex);
      const uint32_t end = c.varIndex + 1u < varCount ? varOffset(c.varIndex + 1) : eod;
      if (f.start > end || end > eod || f.start < 2) return false;
      f.length = end - f.start;
    }
    f.null = false;
  }
  return true;
}

uint32_t maxRowSize(uint32_t pageSize) { return pageSize - datapage::kRowTable - 2; }

bool composeRow(const TableDef& def, const std::vector<FieldValue>& fields, uint32_t pageSize,
                std::string* row) {
  uint32_t columns = std::max<uint32_t>(def.maxColumns, static_cast<uint32_t>(def.columns.size()));
  uint32_t slots = def.variableColumns;
  for (const Column& c : def.columns) {
    columns = std::max<uint32_t>(columns, c.number + 1u);
    if (!c.fixed() && c.type != kColBool) slots = std::max<uint32_t>(slots, c.varIndex + 1u);
  }
  const uint32_t fixedEnd = 2 + def.fixedSize();
  // Variable data by slot; a slot no column uses stays empty.
  std::vector<const std::string*> bySlot(slots, nullptr);
  std::string& r = *row;
  r.assign(fixedEnd, '\0');
  put16(reinterpret_cast<uint8_t*>(&r[0]), static_cast<uint16_t>(columns));
  const uint32_t maskLen = (columns + 7) / 8;
  std::string mask(maskLen, '\0');
  for (size_t i = 0; i < def.columns.size(); ++i) {
    const Column& c = def.columns[i];
    const FieldValue& f = fields[i];
    if (c.type == kColBool) {
      if (f.yes) mask[c.number / 8] = static_cast<char>(mask[c.number / 8] | (1 << (c.number % 8)));
      continue;
    }
    if (f.null) continue;
    mask[c.number / 8] = static_cast<char>(mask[c.number / 8] | (1 << (c.number % 8)));
    if (c.fixed()) {
      // A fixed column takes exactly its length; shorter values are padded.
      const size_t n = std::min<size_t>(f.bytes.size(), c.length);
      std::copy(f.bytes.data(), f.bytes.data() + n, &r[2 + c.fixedOffset]);
    } else {
      bySlot[c.varIndex] = &f.bytes;
    }
  }
  std::vector<uint16_t> starts(slots);
  for (uint32_t s = 0; s < slots; ++s) {
    starts[s] = static_cast<uint16_t>(r.size());
    if (bySlot[s]) r += *bySlot[s];
    if (r.size() > pageSize) return false;
  }
  const uint16_t eod = static_cast<uint16_t>(r.size());
  uint8_t two[2];
  put16(two, eod);
  r.append(reinterpret_cast<char*>(two), 2);
  for (uint32_t s = slots; s-- > 0;) {
    put16(two, starts[s]);
    r.append(reinterpret_cast<char*>(two), 2);
  }
  put16(two, static_cast<uint16_t>(slots));
  r.append(reinterpret_cast<char*>(two), 2);
  r += mask;
  return r.size() <= maxRowSize(pageSize);
}

namespace {

std::string rowName(RowPointer at) {
  return "第 " + std::to_string(at.page) + " 页第 " + std::to_string(at.row) + " 行";
}

}  // namespace

void scanRows(PageFile& file, const TableDef& def, const RowFn& fn) {
  const UsageMap owned = UsageMap::read(file, def.ownedPages);
  const uint32_t size = file.pageSize();
  for (uint32_t pg : owned.pages()) {
    if (pg >= file.pageCount()) throw FormatError("表的页面分配表指向文件末尾之外的第 " + std::to_string(pg) + " 页");
    PageRef page = file.get(pg);
    const uint8_t* b = page->bytes.data();
    if (b[0] != kPageData || get32(b + datapage::kOwner) != def.page) continue;
    const uint32_t rows = get16(b + datapage::kRowCount);
    for (uint32_t r = 0; r < rows; ++r) {
      RowExtent e;
      RowPointer at{pg, static_cast<uint8_t>(r)};
      if (!rowExtent(b, size, r, &e)) throw FormatError(rowName(at) + "的位置超出页面");
      if (e.flags & datapage::kDeleted) continue;
      if (!(e.flags & datapage::kLookup)) {
        fn(at, b + e.start, e.end - e.start);
        continue;
      }
      // A moved row may move again; each hop must land on a live row of
      // this table.
      RowPointer to = at;
      PageRef away = page;
      RowExtent ae = e;
      for (int hop = 0;; ++hop) {
        if (hop >= 8 || ae.end - ae.start < 4) throw FormatError(rowName(at) + "的转移地址有误");
        const uint8_t* p = away->bytes.data() + ae.start;
        to = RowPointer{get24(p + 1), p[0]};
        if (to.page == 0 || to.page >= file.pageCount()) throw FormatError(rowName(at) + "转移到文件之外");
        away = file.get(to.page);
        const uint8_t* ab = away->bytes.data();
        if (ab[0] != kPageData || get32(ab + datapage::kOwner) != def.page ||
            !rowExtent(ab, size, to.row, &ae))
          throw FormatError(rowName(at) + "转移到的" + rowName(to) + "不属于这个表");
        if (!(ae.flags & datapage::kLookup)) break;
      }
      fn(at, away->bytes.data() + ae.start, ae.end - ae.start);
    }
  }
}

}  // namespace vov::access
