// The table writer's index maintenance (table_writer.h's IndexHook) over
// TableIndexes: keys from the composed row before it is written, entries
// once it is placed, pages from the writer's allocator, each index's
// usage map and entry count kept.
#ifndef VOVARIZE_DATA_ACCESS_FORMAT_INDEX_HOOK_H
#define VOVARIZE_DATA_ACCESS_FORMAT_INDEX_HOOK_H

#include <memory>
#include <string>

#include "data/access/format/page.h"
#include "data/access/format/table_def.h"
#include "data/access/format/table_writer.h"

namespace vov::access {

std::unique_ptr<IndexHook> makeIndexHook(PageFile& file, PageAllocator& pages,
                                         const TableDef& def, const std::string& table);

}  // namespace vov::access

#endif
