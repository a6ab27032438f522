// Row splitting (row.h).
#include "data/access/format/row.h"

#include <algorithm>

#include "data/access/format/bytes.h"
#include "data/access/format/usage_map.h"

namespace vov::access {

namespace {

// The variable columns' offsets of one row, slot 0 first; the last entry is
// the end of the variable data. Offsets are relative to the row's start.
struct VarTable {
  uint32_t count = 0;            // variable columns the row has room for
  std::vector<uint32_t> at;      // count + 1 offsets
  uint32_t start = 0;            // where the table itself begins in the row
};

bool readJet4Table(const uint8_t* row, uint32_t length, uint32_t maskLen, VarTable* t) {
  if (length < 2 + maskLen + 2) return false;
  uint32_t pos = length - maskLen - 2;
  t->count = get16(row + pos);
  if (uint64_t{2} * (t->count + 1) + 2 > pos) return false;
  t->at.resize(t->count + 1);
  for (uint32_t i = 0; i <= t->count; ++i) {
    pos -= 2;
    t->at[i] = get16(row + pos);
  }
  t->start = pos;
  return true;
}

// Jet 3 offsets are one byte. A row longer than 256 bytes keeps, between
// the offsets and their count, (length - 1) / 256 jump entries, last
// first: entry k names the first slot at or past offset 256 * (k + 1), or
// is 0xFF when no slot is. A slot's offset is its byte plus 256 for each
// entry at or below it.
bool readJet3Table(const uint8_t* row, uint32_t length, uint32_t maskLen, VarTable* t) {
  if (length < 1 + maskLen + 1) return false;
  uint32_t pos = length - maskLen - 1;
  t->count = row[pos];
  const uint32_t jumps = (length - 1) / 256;
  if (uint64_t{jumps} + t->count + 1 + 1 > pos) return false;
  pos -= jumps;
  const uint8_t* jump = row + pos;
  t->at.resize(t->count + 1);
  for (uint32_t i = 0; i <= t->count; ++i) {
    uint32_t high = 0;
    for (uint32_t k = 0; k < jumps; ++k)
      if (jump[k] != 0xFF && jump[k] <= i) high += 256;
    t->at[i] = row[--pos] + high;
  }
  t->start = pos;
  return true;
}

}  // namespace

bool crackRow(const TableDef& def, const uint8_t* row, uint32_t length,
              std::vector<FieldSpan>* fields, bool jet3) {
  fields->assign(def.columns.size(), FieldSpan{});
  const uint32_t head = jet3 ? 1 : 2;
  if (length < head) return false;
  const uint32_t columns = jet3 ? row[0] : get16(row);
  const uint32_t maskLen = (columns + 7) / 8;
  if (length < head + maskLen) return false;
  const uint8_t* mask = row + length - maskLen;
  // A table without variable columns keeps no offsets in its rows.
  VarTable vars;
  uint32_t dataEnd = length - maskLen;
  if (def.variableColumns > 0) {
    if (!(jet3 ? readJet3Table(row, length, maskLen, &vars) : readJet4Table(row, length, maskLen, &vars)))
      return false;
    for (uint32_t i = 0; i <= vars.count; ++i)
      if (vars.at[i] < head || (i > 0 && vars.at[i] < vars.at[i - 1])) return false;
    dataEnd = vars.at[vars.count];
    if (dataEnd > vars.start) return false;
  }
  for (size_t i = 0; i < def.columns.size(); ++i) {
    const Column& c = def.columns[i];
    FieldSpan& f = (*fields)[i];
    // A column added after the row was written is not in it: null.
    const bool present = c.number < columns && (mask[c.number / 8] >> (c.number % 8) & 1);
    if (c.type == kColBool) {
      f.null = !present;
      continue;
    }
    if (!present) continue;
    if (c.fixed()) {
      f.start = head + c.fixedOffset;
      f.length = c.length;
      if (f.start + f.length > dataEnd) return false;
    } else {
      if (c.varIndex >= vars.count) continue;
      f.start = vars.at[c.varIndex];
      f.length = vars.at[c.varIndex + 1u] - f.start;
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
  // Reused from row to row: this runs once per row written.
  thread_local std::vector<const std::string*> bySlot;
  thread_local std::vector<uint16_t> starts;
  thread_local std::string mask;
  bySlot.assign(slots, nullptr);
  std::string& r = *row;
  r.assign(fixedEnd, '\0');
  put16(reinterpret_cast<uint8_t*>(&r[0]), static_cast<uint16_t>(columns));
  const uint32_t maskLen = (columns + 7) / 8;
  mask.assign(maskLen, '\0');
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
  starts.resize(slots);
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

namespace {

// The bytes of the live row a slot stands for; a slot holding the address
// of a moved row leads to where it lives now. Each hop must land on a row
// of this table.
void followSlot(PageFile& file, const TableDef& def, RowPointer at, PageRef page, RowExtent e,
                PageRef* hold, const uint8_t** row, uint32_t* length) {
  for (int hop = 0; e.flags & datapage::kLookup; ++hop) {
    if (hop >= 8 || e.end - e.start < 4) throw FormatError(rowName(at) + "的转移地址有误");
    const uint8_t* p = page->bytes.data() + e.start;
    const RowPointer to{get24(p + 1), p[0]};
    if (to.page == 0 || to.page >= file.pageCount()) throw FormatError(rowName(at) + "转移到文件之外");
    page = file.get(to.page);
    const uint8_t* b = page->bytes.data();
    if (b[0] != kPageData || get32(b + datapage::kOwner) != def.page ||
        !rowExtent(b, file.pageSize(), to.row, &e))
      throw FormatError(rowName(at) + "转移到的" + rowName(to) + "不属于这个表");
  }
  *row = page->bytes.data() + e.start;
  *length = e.end - e.start;
  *hold = std::move(page);
}

}  // namespace

void scanRows(PageFile& file, const TableDef& def, const RowFn& fn) {
  const UsageMap owned = UsageMap::read(file, def.ownedPages);
  const uint32_t size = file.pageSize();
  PageRef hold;
  for (uint32_t pg : owned.pages()) {
    if (pg >= file.pageCount()) throw FormatError("表的页面分配表指向文件末尾之外的第 " + std::to_string(pg) + " 页");
    PageRef page = file.get(pg);
    const uint8_t* b = page->bytes.data();
    if (b[0] != kPageData || get32(b + datapage::kOwner) != def.page) continue;
    const uint32_t rows = get16(b + datapage::rowCountOffset(size));
    for (uint32_t r = 0; r < rows; ++r) {
      RowExtent e;
      const RowPointer at{pg, static_cast<uint8_t>(r)};
      if (!rowExtent(b, size, r, &e)) throw FormatError(rowName(at) + "的位置超出页面");
      if (e.flags & datapage::kDeleted) continue;
      if (!(e.flags & datapage::kLookup)) {
        fn(at, b + e.start, e.end - e.start);
        continue;
      }
      const uint8_t* row = nullptr;
      uint32_t length = 0;
      followSlot(file, def, at, page, e, &hold, &row, &length);
      fn(at, row, length);
    }
  }
}

bool rowAt(PageFile& file, const TableDef& def, RowPointer at, PageRef* hold,
           const uint8_t** row, uint32_t* length) {
  if (at.page >= file.pageCount()) return false;
  PageRef page = file.get(at.page);
  const uint8_t* b = page->bytes.data();
  if (b[0] != kPageData || get32(b + datapage::kOwner) != def.page) return false;
  if (at.row >= get16(b + datapage::rowCountOffset(file.pageSize()))) return false;
  RowExtent e;
  if (!rowExtent(b, file.pageSize(), at.row, &e)) throw FormatError(rowName(at) + "的位置超出页面");
  if (e.flags & datapage::kDeleted) return false;
  followSlot(file, def, at, std::move(page), e, hold, row, length);
  return true;
}

}  // namespace vov::access
