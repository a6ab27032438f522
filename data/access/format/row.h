// Rows of Jet 4 and ACE tables. A row is laid out as
//   column count (2), fixed-length columns at their fixed offsets (+2),
//   variable-length data, then from the end backwards: the null mask
//   (1 byte per 8 columns; a set bit means "not null", and is a Yes/No
//   column's value), the number of variable columns (2), their start
//   offsets (2 each, slot 0 nearest the count), and the end of the
//   variable data (2). A column's bit in the mask is its number counting
//   deleted columns. Rows of a table without variable columns end with
//   the mask. Jet 3 rows are read too: they have one-byte counts and
//   offsets, and a jump table for rows over 256 bytes (row.cpp).
#ifndef VOVARIZE_DATA_ACCESS_FORMAT_ROW_H
#define VOVARIZE_DATA_ACCESS_FORMAT_ROW_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "data/access/format/table_def.h"

namespace vov::access {

// Where one column's value lies in a row; offsets from the row's start.
struct FieldSpan {
  bool null = true;   // for Yes/No columns: false means the value is Yes
  uint32_t start = 0;
  uint32_t length = 0;
};

// Splits a row into one span per column of `def.columns`, in that order.
// False when the row's own tables point outside it.
bool crackRow(const TableDef& def, const uint8_t* row, uint32_t length,
              std::vector<FieldSpan>* fields, bool jet3 = false);

// What a row holds for one column when it is written: nothing (NULL), or
// the stored bytes (value_codec.h; for memo and OLE the 12-byte long-value
// header and what follows it in the row). Yes/No: `yes`.
struct FieldValue {
  bool null = true;
  bool yes = false;
  std::string bytes;
};

// Lays out a row of `def` from one FieldValue per column of def.columns.
// False when the row would not fit on an empty page.
bool composeRow(const TableDef& def, const std::vector<FieldValue>& fields, uint32_t pageSize,
                std::string* row);

// The most a row may take on a page of `pageSize` bytes, its slot included.
uint32_t maxRowSize(uint32_t pageSize);

// Calls `fn` for every live row of the table, in page order, with the
// bytes of the row (a moved row where it now lives, at its original
// place in the order). `at` is the row's address as index entries name
// it: a moved row keeps its original one. The page stays in memory during
// the call. Raises FormatError for rows that cannot be where the row table
// says.
using RowFn = std::function<void(RowPointer at, const uint8_t* row, uint32_t length)>;
void scanRows(PageFile& file, const TableDef& def, const RowFn& fn);

// The live row an index entry naming `at` stands for (a moved row where it
// now lives): false when no live row of the table is there. `hold` keeps
// its page in memory while `row` is used. FormatError as scanRows.
bool rowAt(PageFile& file, const TableDef& def, RowPointer at, PageRef* hold,
           const uint8_t** row, uint32_t* length);

}  // namespace vov::access

#endif
