// The table writer's index maintenance (table_writer.h's IndexHook) over
// TableIndexes: keys from the composed row before it is written, entries
// once it is placed, pages from the writer's allocator, each index's
// usage map and entry count kept, and the parent rows that relationships
// with enforced integrity require.
#ifndef VOVARIZE_DATA_ACCESS_FORMAT_INDEX_HOOK_H
#define VOVARIZE_DATA_ACCESS_FORMAT_INDEX_HOOK_H

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "data/access/format/page.h"
#include "data/access/format/table_def.h"
#include "data/access/format/table_indexes.h"
#include "data/access/format/table_writer.h"

namespace vov::access {

// The indexes of the tables one write session keeps, by definition page:
// a child table looks its parent keys up there, so rows the session added
// to the parent count. Outlives the hooks registered in it.
class IndexRegistry {
 public:
  TableIndexes* find(uint32_t table) const;
  void add(uint32_t table, TableIndexes* indexes) { tables_[table] = indexes; }
  void remove(uint32_t table) { tables_.erase(table); }

 private:
  std::map<uint32_t, TableIndexes*> tables_;
};

std::unique_ptr<IndexHook> makeIndexHook(PageFile& file, PageAllocator& pages,
                                         const TableDef& def, const std::string& table,
                                         IndexRegistry& registry);

}  // namespace vov::access

#endif
