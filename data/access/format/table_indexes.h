// Every physical index of one table, kept right as rows are appended.
//
// For each row the writer first asks prepare() for the row's keys: it
// raises the row's error (a value that has no verified key, a NULL in an
// index that requires values, a duplicate in a unique index) before
// anything of the row is written. Once the row is placed, insert() adds
// its entries. Two logical indexes that share one physical index share
// one IndexDef. The stored count of an index is the number of distinct
// keys it holds, as Access leaves it after compacting; an insert raises it
// by one when its key is new.
#ifndef VOVARIZE_DATA_ACCESS_FORMAT_TABLE_INDEXES_H
#define VOVARIZE_DATA_ACCESS_FORMAT_TABLE_INDEXES_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "data/access/format/index_key.h"
#include "data/access/format/index_tree.h"

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

  size_t size() const { return defs_.size(); }
  const IndexDef& def(size_t i) const { return defs_[i]; }
  uint32_t count(size_t i) const { return defs_[i].count; }

 private:
  std::string table_;
  std::vector<IndexDef> defs_;
  std::vector<std::unique_ptr<IndexTree>> trees_;
};

}  // namespace vov::access

#endif
