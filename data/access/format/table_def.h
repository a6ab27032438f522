// Table definitions (TDEF pages): a table's columns with their flags, its
// row count and last AutoNumber value, the pointers to its usage maps, and
// its real (physical) and logical indexes. A definition may run over
// several pages; page k > 0 continues it from its byte 8.
//
// Jet 4 / ACE layout, offsets in the joined definition:
//   0 type 0x02, 1 always 1, 2 "VC" or 0, 4 next definition page (4)
//   8 length of the definition (4), 12 unknown (4), 16 row count (4),
//   20 last AutoNumber value given (4), 24 unknown (16), 40 table type (1),
//   41 highest column count (2), 43 variable columns (2), 45 columns (2),
//   47 logical indexes (4), 51 real indexes (4), 55 owned pages map (4),
//   59 free-space map (4), 63 one block per real index (12: unknown 4,
//   entry count 4, unknown 4), then one descriptor per column (25), the
//   column names (2-byte byte length, UTF-16LE), one descriptor per real
//   index (52), one per logical index (28), the index names, and per long-
//   value column its own pair of usage maps (column 2, owned 4, free 4),
//   ended by 0xFFFF.
#ifndef VOVARIZE_DATA_ACCESS_FORMAT_TABLE_DEF_H
#define VOVARIZE_DATA_ACCESS_FORMAT_TABLE_DEF_H

#include <cstdint>
#include <string>
#include <vector>

#include "data/access/format/bytes.h"
#include "data/access/format/page.h"

namespace vov::access {

enum ColumnType : uint8_t {
  kColBool = 0x01,
  kColByte = 0x02,
  kColInt = 0x03,      // 16 bits
  kColLong = 0x04,     // 32 bits
  kColMoney = 0x05,    // Currency: 64-bit ten-thousandths
  kColFloat = 0x06,    // Single
  kColDouble = 0x07,
  kColDateTime = 0x08,
  kColBinary = 0x09,
  kColText = 0x0A,
  kColOle = 0x0B,      // long binary
  kColMemo = 0x0C,     // long text (also Hyperlink)
  kColGuid = 0x0F,
  kColNumeric = 0x10,  // Decimal
  kColComplex = 0x12,  // attachment or multi-value: a key into a hidden table
  kColBigInt = 0x13,
  kColExtDate = 0x14,  // Date/Time Extended
};

// Column descriptor flags (byte 15) and extra flags (byte 16).
constexpr uint8_t kColumnFixed = 0x01;
constexpr uint8_t kColumnAutoNumber = 0x04;
constexpr uint8_t kColumnAutoGuid = 0x40;
constexpr uint8_t kColumnHyperlink = 0x80;
constexpr uint8_t kColumnCompressed = 0x01;   // extra: text stored compressed
constexpr uint8_t kColumnCalculated = 0xC0;   // extra: both bits

struct Column {
  std::string name;  // UTF-8
  uint8_t type = 0;
  uint16_t number = 0;       // its bit in the null mask; counts deleted columns
  uint16_t varIndex = 0;     // variable columns: its slot in a row's offset table
  uint16_t fixedOffset = 0;  // fixed columns: where it lies after the column count
  uint16_t length = 0;       // declared size in bytes (0 for memo and OLE)
  uint8_t flags = 0;
  uint8_t extraFlags = 0;
  uint8_t misc[4] = {};      // precision and scale, or the text order
  // Memo and OLE: the column's own maps of long-value pages (null: none).
  RowPointer longValuePages;
  RowPointer longValueFree;

  bool fixed() const { return flags & kColumnFixed; }
  bool autoNumber() const { return flags & kColumnAutoNumber; }
  bool autoGuid() const { return flags & kColumnAutoGuid; }
  bool hyperlink() const { return type == kColMemo && (flags & kColumnHyperlink); }
  bool compressed() const { return extraFlags & kColumnCompressed; }
  bool calculated() const { return (extraFlags & kColumnCalculated) == kColumnCalculated; }
  bool longValue() const { return type == kColMemo || type == kColOle; }
  // Decimal columns.
  uint8_t precision() const { return misc[0]; }
  uint8_t scale() const { return misc[1]; }
  // Text columns: the sort order (a Windows locale id, 0x0409 for
  // "General") and its version byte (0 legacy, 1 the newer order).
  uint16_t sortOrder() const { return get16(misc); }
  uint8_t sortVersion() const { return misc[3]; }
  // Complex columns: the id that links it to its hidden table.
  uint32_t complexId() const { return get32(misc); }
};

constexpr uint8_t kIndexUnique = 0x01;
constexpr uint8_t kIndexIgnoreNulls = 0x02;
constexpr uint8_t kIndexRequired = 0x08;

struct IndexColumn {
  uint16_t column = 0;  // Column::number
  bool ascending = true;
};

// A physical index: one B-tree of entries.
struct RealIndex {
  uint32_t number = 0;
  std::vector<IndexColumn> columns;
  RowPointer usageMap;   // the index's own pages
  uint32_t firstPage = 0;
  uint8_t flags = 0;
  uint32_t entryCount = 0;  // as stored in the definition
  bool unique() const { return flags & kIndexUnique; }
  bool ignoreNulls() const { return flags & kIndexIgnoreNulls; }
  bool required() const { return flags & kIndexRequired; }
};

constexpr uint8_t kIndexKindNormal = 0;
constexpr uint8_t kIndexKindPrimaryKey = 1;
constexpr uint8_t kIndexKindForeignKey = 2;

// An index as the user sees it; several may share one real index.
struct LogicalIndex {
  std::string name;
  uint32_t number = 0;
  uint32_t realIndex = 0;  // RealIndex::number
  uint8_t kind = kIndexKindNormal;
  uint8_t relationship = 0;   // 0 none, else this table's side of a relation
  uint32_t otherIndex = 0xFFFFFFFF;
  uint32_t otherTable = 0;    // the other table's definition page
};

struct TableDef {
  uint32_t page = 0;               // the first definition page
  std::vector<uint32_t> pages;     // every definition page, in order
  uint32_t rowCount = 0;
  uint32_t lastAutoNumber = 0;    // the last AutoNumber value given; 0 before the first
  uint8_t tableType = 0;
  uint16_t maxColumns = 0;         // columns a row may hold, deleted ones too
  uint16_t variableColumns = 0;
  RowPointer ownedPages;
  RowPointer freePages;
  std::vector<Column> columns;     // in definition order
  std::vector<RealIndex> realIndexes;
  std::vector<LogicalIndex> indexes;

  // The column with that name (ASCII letters compared without case), or null.
  const Column* column(const std::string& name) const;
  // Bytes of the fixed part of a row: the end of the furthest fixed column.
  uint32_t fixedSize() const;
};

// Reads the definition starting at `page`. FormatError when it is not one
// or does not hold together. Jet 3 definitions are not read here.
TableDef readTableDef(PageFile& file, uint32_t page);

// Writes the counts the writer changes (row count, last AutoNumber, each
// real index's entry count) back into the definition pages.
void writeTableCounts(PageFile& file, const TableDef& def);

}  // namespace vov::access

#endif
