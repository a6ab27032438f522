// The index part of the file checker: one physical index walked from its
// root, each entry matched against the row it names.
//
// The walk checks every page (type, owner, bitmap, free space), that all
// leaves are on one level and each level's pages are linked in order,
// that entries ascend strictly across the whole index, and that each node
// entry is the largest entry below its child. Each entry's row is looked
// up by its address: it must be a live row of the table, indexed, and
// hold the entry's key wherever that key can be computed. Entries ascend
// strictly, so no row can have two entries with its own key; two entries
// of one row with keys that cannot both be its key are caught by the key
// comparison. So once the table's indexed rows are counted, a count equal
// to the entries means every row has its entry. Nothing is held per entry:
// a check of a million rows takes what one of a hundred does.
#ifndef VOVARIZE_DATA_ACCESS_FORMAT_INDEX_CHECK_H
#define VOVARIZE_DATA_ACCESS_FORMAT_INDEX_CHECK_H

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "data/access/format/index_tree.h"
#include "data/access/format/table_indexes.h"

namespace vov::access {

// The values, by column number, of the live row of the table an entry
// names; null when no live row of the table stands there.
using RowLookup = std::function<const std::vector<KeyValue>*(RowPointer at)>;

class IndexCheck {
 public:
  // Walks the index and matches every entry with its row (without a
  // lookup: the walk alone); raises FormatError naming the index and the
  // page or row at the first fault.
  IndexCheck(IndexPages& pages, uint32_t owner, const std::string& table, const IndexDef& def,
             const RowLookup& lookup);

  // `indexedRows`: the live rows of the table that must have an entry
  // (all but all-NULL rows of an ignore-nulls index). Raises when some
  // have none, naming the first if `firstMissing` finds it.
  void expectRows(uint64_t indexedRows,
                  const std::function<std::string(IndexTree&)>& firstMissing = {});

  size_t entries() const { return entries_; }
  size_t distinctKeys() const { return distinct_; }
  // Entries whose key was compared byte for byte with their row's, and
  // those whose row's key has no verified encoding (matched by address).
  size_t keysCompared() const { return compared_; }
  size_t keysUnverified() const { return unverified_.size(); }
  // Every page the index uses, for the usage-map check.
  const std::vector<uint32_t>& pages() const { return pages_; }

 private:
  struct Link {
    uint32_t page, previous, next;
  };
  // Returns the largest entry (key and row) below `page`.
  std::string walk(uint32_t page, int depth, std::vector<std::vector<Link>>& levels);
  void entry(std::string_view e);
  [[noreturn]] void fail(const std::string& what) const;

  IndexPages& pagesIn_;
  uint32_t owner_;
  std::string where_;
  IndexDef def_;
  RowLookup lookup_;
  std::vector<uint32_t> pages_;
  std::unordered_set<uint32_t> visited_;
  std::unordered_set<uint32_t> unverified_;  // rows matched by address only
  std::string lastEntry_;
  std::string lastKey_;
  int leafDepth_ = -1;
  size_t entries_ = 0;
  size_t distinct_ = 0;
  size_t compared_ = 0;
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
// The stored count is reported, not judged here: Access itself leaves it
// off the number of distinct keys after deletes and before compacting, so
// the file checker holds a writer to it only where it was exact before.
std::vector<IndexReport> checkTableIndexes(PageFile& file, const TableDef& table,
                                           const std::string& tableName);

}  // namespace vov::access

#endif
