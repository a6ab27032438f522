// The index part of the file checker: one physical index walked from its
// root, then matched against the table's rows.
//
// The walk checks every page (type, owner, bitmap, free space), that all
// leaves are on one level and each level's pages are linked in order,
// that entries ascend strictly across the whole index, and that each node
// entry is the largest entry below its child. The rows then show that each
// indexed row has exactly one entry, with the key its values give wherever
// that key can be computed, and that no entry is left without a row.
#ifndef VOVARIZE_DATA_ACCESS_FORMAT_INDEX_CHECK_H
#define VOVARIZE_DATA_ACCESS_FORMAT_INDEX_CHECK_H

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "data/access/format/index_tree.h"
#include "data/access/format/table_indexes.h"

namespace vov::access {

class IndexCheck {
 public:
  // Walks the index; raises vov::Error naming the index and the page.
  IndexCheck(IndexPages& pages, uint32_t owner, const std::string& table, const IndexDef& def);

  // One live row of the table, with its values by column number.
  void row(uint32_t page, uint8_t row, const std::vector<KeyValue>& values);
  // After every row: raises when an entry names no row.
  void finish();

  size_t entries() const { return entries_.size(); }
  size_t distinctKeys() const { return distinct_; }
  // Rows whose key was compared byte for byte, and those whose key has no
  // verified encoding (checked by their entry's presence only).
  size_t keysCompared() const { return compared_; }
  size_t keysUnverified() const { return unverified_; }
  // Every page the index uses, for the usage-map check.
  const std::vector<uint32_t>& pages() const { return pages_; }

 private:
  struct Entry {
    uint32_t pointer;    // page << 8 | row
    uint32_t keyOffset;  // in keys_
    uint16_t keyLength;
    bool matched;
    bool operator<(const Entry& o) const { return pointer < o.pointer; }
  };
  struct Link {
    uint32_t page, previous, next;
  };
  // Returns the largest entry (key and row) below `page`.
  std::string walk(uint32_t page, int depth, std::vector<std::vector<Link>>& levels);
  [[noreturn]] void fail(const std::string& what) const;

  IndexPages& pagesIn_;
  uint32_t owner_;
  std::string where_;
  IndexDef def_;
  std::vector<Entry> entries_;
  std::string keys_;  // every entry's key, one after another
  std::vector<uint32_t> pages_;
  std::unordered_set<uint32_t> visited_;
  std::string lastEntry_;
  std::string lastKey_;
  int leafDepth_ = -1;
  size_t distinct_ = 0;
  size_t compared_ = 0;
  size_t unverified_ = 0;
};

// What checking one index found.
struct IndexReport {
  std::string name;
  size_t entries = 0;
  size_t distinctKeys = 0;
  uint32_t storedCount = 0;
  size_t keysCompared = 0;
  size_t keysUnverified = 0;
};

// Checks every index of a table against its rows and each index's usage
// map against the pages it uses. Raises FormatError at the first fault.
// The stored count is reported, not judged: Access itself leaves it off
// the number of distinct keys after deletes and before compacting.
std::vector<IndexReport> checkTableIndexes(PageFile& file, const TableDef& table,
                                           const std::string& tableName);

}  // namespace vov::access

#endif
