// Every physical index of one table, kept right as rows are appended.
//
// For each row the writer first asks prepare() for the row's keys: it
// raises the row's error (a value that has no verified key, a NULL in an
// index that requires values, a duplicate in a unique index, a foreign
// key without its parent row) before anything of the row is written.
// Once the row is placed, insert() adds its entries. Two logical indexes
// that share one physical index share one IndexDef. The stored count of
// an index is the number of distinct keys it holds, as Access leaves it
// after compacting; an insert raises it by one when its key is new.
#ifndef VOVARIZE_DATA_ACCESS_FORMAT_TABLE_INDEXES_H
#define VOVARIZE_DATA_ACCESS_FORMAT_TABLE_INDEXES_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "data/access/format/index_key.h"
#include "data/access/format/index_tree.h"
#include "data/access/format/page.h"
#include "data/access/format/row.h"
#include "data/access/format/table_def.h"

namespace vov::access {

struct IndexedColumn {
  uint16_t number = 0;  // the column's number: its place in the row's values
  std::string name;
  KeyColumn key;
};

// One physical index, as the table definition describes it.
struct IndexDef {
  std::string name;  // a logical index using it, for messages
  std::vector<IndexedColumn> columns;
  uint32_t root = 0;
  bool unique = false;
  bool ignoreNulls = false;  // rows whose key columns are all NULL get no entry
  bool required = false;     // no key column may be NULL
  uint32_t count = 0;        // as stored
};

// The physical indexes of a table, in the definition's order, each named
// by its primary-key or first visible logical index. FormatError when an
// index names a column the table lacks.
std::vector<IndexDef> indexDefs(const TableDef& table);

// The values of a stored row by column number, as keys take them (text
// decoded to UTF-8; long values as their 12-byte reference, which no key
// takes). Only the columns `wanted` names are read.
class StoredRowValues {
 public:
  StoredRowValues(const TableDef& table, const std::vector<IndexDef>& wanted);
  // Raises FormatError for a row that does not split into its columns.
  const std::vector<KeyValue>& read(const uint8_t* row, uint32_t length);

 private:
  const TableDef& table_;
  std::vector<size_t> columns_;  // positions in table_.columns
  std::vector<FieldSpan> spans_;
  std::vector<std::string> text_;
  std::vector<KeyValue> values_;
};

// An index's pages in the paged file. `allocate` gives a new page for the
// index (the writer appends it and marks it in the usage maps); without
// one the index is read-only.
class FileIndexPages : public IndexPages {
 public:
  FileIndexPages(PageFile& file, std::function<uint32_t()> allocate = {})
      : file_(file), allocate_(std::move(allocate)) {}
  uint32_t pageSize() const override { return file_.pageSize(); }
  const uint8_t* read(uint32_t page) override;
  uint8_t* write(uint32_t page) override;
  uint32_t allocate() override;

 private:
  PageFile& file_;
  std::function<uint32_t()> allocate_;
  PageRef held_;
};

// The key of a row in `def`, from values by column number. Raises KeyError.
std::string rowKey(const IndexDef& def, const std::vector<KeyValue>& values);
// Whether a row with these values has an entry in `def`.
bool rowIndexed(const IndexDef& def, const std::vector<KeyValue>& values);

class TableIndexes {
 public:
  // `pages[i]` serves defs[i]; `owner` is the table-definition page.
  TableIndexes(std::string table, uint32_t owner, std::vector<IndexDef> defs,
               std::vector<IndexPages*> pages);

  struct Keys {
    std::vector<std::string> keys;
    std::vector<bool> indexed;
  };
  // The row's keys for every index; raises vov::Error naming table, index,
  // column and character. Changes nothing.
  Keys prepare(const std::vector<KeyValue>& values);
  void insert(const Keys& keys, uint32_t rowPage, uint8_t rowNumber);
  void flush();

  // A relationship this table's rows must keep: where every key column of
  // index `child` holds a value, the parent's index must have that key, as
  // the parent's columns encode it.
  struct Parent {
    size_t child = 0;
    std::string relation;
    std::string table;
    std::vector<KeyColumn> columns;
    // The parent's index; called per row, so a parent written in the same
    // session is seen as it stands.
    std::function<IndexTree&()> tree;
  };
  void requireParent(Parent parent) { parents_.push_back(std::move(parent)); }
  IndexTree& tree(size_t i) { return *trees_[i]; }

  size_t size() const { return defs_.size(); }
  const IndexDef& def(size_t i) const { return defs_[i]; }
  uint32_t count(size_t i) const { return defs_[i].count; }

 private:
  std::string table_;
  std::vector<IndexDef> defs_;
  std::vector<std::unique_ptr<IndexTree>> trees_;
  std::vector<Parent> parents_;
};

}  // namespace vov::access

#endif
