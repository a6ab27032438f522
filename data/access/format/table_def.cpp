// Table definitions (table_def.h).
#include "data/access/format/table_def.h"

#include <algorithm>

#include "data/access/format/utf16.h"

namespace vov::access {

namespace {

constexpr uint32_t kContinuation = 8;  // where a continuation page's bytes start
constexpr size_t kMaxDefPages = 256;

constexpr uint32_t kRowCountAt = 16;
constexpr uint32_t kAutoNumberAt = 20;
constexpr uint32_t kHeaderSize = 63;
constexpr uint32_t kRealIndexBlock = 12;
constexpr uint32_t kColumnSize = 25;
constexpr uint32_t kRealIndexSize = 52;
constexpr uint32_t kLogicalIndexSize = 28;
constexpr uint32_t kIndexColumns = 10;

// The definition's pages joined into one buffer, with the way back from an
// offset in the buffer to a page and an offset in it.
class Joined {
 public:
  Joined(PageFile& file, uint32_t first, std::vector<uint32_t>* pages) : size_(file.pageSize()) {
    uint32_t pg = first;
    while (pg != 0) {
      if (pages->size() >= kMaxDefPages || std::count(pages->begin(), pages->end(), pg))
        throw FormatError(where(first) + "的页链成环或过长");
      PageRef p = file.get(pg);
      if (p->bytes[0] != kPageTableDef || p->bytes[1] != 0x01)
        throw FormatError(pages->empty() ? "第 " + std::to_string(pg) + " 页不是表定义页"
                                         : where(first) + "延续到的第 " + std::to_string(pg) +
                                               " 页不是表定义页");
      pages->push_back(pg);
      if (buf_.empty())
        buf_.assign(p->bytes.begin(), p->bytes.end());
      else
        buf_.insert(buf_.end(), p->bytes.begin() + kContinuation, p->bytes.end());
      pg = get32(p->bytes.data() + 4);
    }
  }

  static std::string where(uint32_t first) {
    return "第 " + std::to_string(first) + " 页的表定义";
  }

  const uint8_t* at(uint32_t off, uint32_t n, uint32_t first) const {
    if (static_cast<uint64_t>(off) + n > buf_.size())
      throw FormatError(where(first) + "比它的页短");
    return buf_.data() + off;
  }
  uint32_t size() const { return static_cast<uint32_t>(buf_.size()); }


 private:
  uint32_t size_;
  std::vector<uint8_t> buf_;
};

std::string name16(const Joined& j, uint32_t* off, uint32_t first) {
  const uint32_t n = get16(j.at(*off, 2, first));
  const uint8_t* p = j.at(*off + 2, n, first);
  *off += 2 + n;
  return utf8FromUtf16le(p, n);
}

bool asciiEqualIgnoreCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

const Column* TableDef::column(const std::string& name) const {
  for (const Column& c : columns)
    if (asciiEqualIgnoreCase(c.name, name)) return &c;
  return nullptr;
}

uint32_t TableDef::fixedSize() const {
  uint32_t end = 0;
  for (const Column& c : columns)
    if (c.fixed() && c.type != kColBool) end = std::max<uint32_t>(end, c.fixedOffset + c.length);
  return end;
}

TableDef readTableDef(PageFile& file, uint32_t page) {
  if (file.format().version() == Version::Jet3)
    throw FormatError("Jet 3 的表定义不在这里读取");
  TableDef def;
  def.page = page;
  Joined j(file, page, &def.pages);
  const uint8_t* h = j.at(0, kHeaderSize, page);
  def.rowCount = get32(h + kRowCountAt);
  def.lastAutoNumber = get32(h + kAutoNumberAt);
  def.tableType = h[40];
  def.maxColumns = get16(h + 41);
  def.variableColumns = get16(h + 43);
  const uint16_t columnCount = get16(h + 45);
  const uint32_t logicalCount = get32(h + 47);
  const uint32_t realCount = get32(h + 51);
  def.ownedPages = RowPointer::decode(get32(h + 55));
  def.freePages = RowPointer::decode(get32(h + 59));
  if (realCount > 1000 || logicalCount > 1000 || columnCount == 0 || columnCount > 4096)
    throw FormatError(Joined::where(page) + "的列数或索引数不合理");

  uint32_t off = kHeaderSize;
  def.realIndexes.resize(realCount);
  for (uint32_t i = 0; i < realCount; ++i, off += kRealIndexBlock) {
    def.realIndexes[i].number = i;
    def.realIndexes[i].entryCount = get32(j.at(off + 4, 4, page));
  }

  def.columns.resize(columnCount);
  for (Column& c : def.columns) {
    const uint8_t* d = j.at(off, kColumnSize, page);
    c.type = d[0];
    c.number = get16(d + 5);
    c.varIndex = get16(d + 7);
    std::copy(d + 11, d + 15, c.misc);
    c.flags = d[15];
    c.extraFlags = d[16];
    c.fixedOffset = get16(d + 21);
    c.length = get16(d + 23);
    off += kColumnSize;
  }
  for (Column& c : def.columns) c.name = name16(j, &off, page);

  for (RealIndex& r : def.realIndexes) {
    const uint8_t* d = j.at(off, kRealIndexSize, page);
    for (uint32_t k = 0; k < kIndexColumns; ++k) {
      const uint16_t col = get16(d + 4 + 3 * k);
      if (col == 0xFFFF) continue;
      r.columns.push_back(IndexColumn{col, d[6 + 3 * k] != 0});
    }
    r.usageMap = RowPointer::decode(get32(d + 34));
    r.firstPage = get32(d + 38);
    r.flags = d[46];
    off += kRealIndexSize;
  }
  def.indexes.resize(logicalCount);
  for (LogicalIndex& l : def.indexes) {
    const uint8_t* d = j.at(off, kLogicalIndexSize, page);
    l.number = get32(d + 4);
    l.realIndex = get32(d + 8);
    l.relationship = d[12];
    l.otherIndex = get32(d + 13);
    l.otherTable = get32(d + 17);
    l.kind = d[23];
    if (l.realIndex >= realCount)
      throw FormatError(Joined::where(page) + "的索引指向不存在的物理索引");
    off += kLogicalIndexSize;
  }
  for (LogicalIndex& l : def.indexes) l.name = name16(j, &off, page);

  // Long-value columns' own page maps, up to the end mark.
  for (;;) {
    const uint16_t col = get16(j.at(off, 2, page));
    if (col == 0xFFFF) break;
    const uint8_t* d = j.at(off + 2, 8, page);
    for (Column& c : def.columns)
      if (c.number == col) {
        c.longValuePages = RowPointer::decode(get32(d));
        c.longValueFree = RowPointer::decode(get32(d + 4));
      }
    off += 10;
  }

  for (const Column& c : def.columns) {
    if (c.number >= std::max<uint16_t>(def.maxColumns, columnCount))
      throw FormatError(Joined::where(page) + "中列“" + c.name + "”的编号超出范围");
    if (c.fixed() && c.type != kColBool &&
        static_cast<uint32_t>(c.fixedOffset) + c.length > file.pageSize())
      throw FormatError(Joined::where(page) + "中列“" + c.name + "”的位置超出一页");
  }
  for (const RealIndex& r : def.realIndexes)
    for (const IndexColumn& ic : r.columns)
      if (std::none_of(def.columns.begin(), def.columns.end(),
                       [&](const Column& c) { return c.number == ic.column; }))
        throw FormatError(Joined::where(page) + "的索引用到不存在的列");
  return def;
}

void writeTableCounts(PageFile& file, const TableDef& def) {
  PageRef first = file.get(def.page);
  put32(first->bytes.data() + kRowCountAt, def.rowCount);
  put32(first->bytes.data() + kAutoNumberAt, def.lastAutoNumber);
  file.touch(first);
  // The per-index blocks may run onto the next page in a long definition.
  const uint32_t size = file.pageSize();
  for (const RealIndex& r : def.realIndexes) {
    uint32_t off = kHeaderSize + kRealIndexBlock * r.number + 4;
    for (int b = 0; b < 4; ++b, ++off) {
      size_t index = 0;
      uint32_t in = off;
      if (off >= size) {
        index = 1 + (off - size) / (size - kContinuation);
        in = kContinuation + (off - size) % (size - kContinuation);
      }
      if (index >= def.pages.size()) throw FormatError(Joined::where(def.page) + "比它的页短");
      PageRef p = file.get(def.pages[index]);
      p->bytes[in] = static_cast<uint8_t>(r.entryCount >> (8 * b));
      file.touch(p);
    }
  }
}

}  // namespace vov::access
