// The writer's index hook; see index_hook.h.
#include "data/access/format/index_hook.h"

#include <vector>

#include "data/access/format/table_indexes.h"
#include "data/access/format/usage_map.h"

namespace vov::access {

namespace {

class TableIndexHook : public IndexHook {
 public:
  TableIndexHook(PageFile& file, PageAllocator& pages, const TableDef& def,
                 const std::string& table)
      : file_(file), pages_(pages), def_(def), defs_(indexDefs(def_)), values_(def_, defs_) {
    std::vector<IndexPages*> raw;
    for (size_t i = 0; i < def_.realIndexes.size(); ++i) {
      maps_.push_back(UsageMap::read(file_, def_.realIndexes[i].usageMap));
      indexPages_.push_back(std::make_unique<FileIndexPages>(file_, [this, i] {
        PageRef p = pages_.newPage();
        maps_[i].add(p->number);
        return p->number;
      }));
      raw.push_back(indexPages_.back().get());
    }
    indexes_ = std::make_unique<TableIndexes>(table, def_.page, defs_, raw);
  }

  void check(const uint8_t* row, uint32_t length) override {
    keys_ = indexes_->prepare(values_.read(row, length));
  }

  void add(const uint8_t*, uint32_t, RowPointer at) override {
    indexes_->insert(keys_, at.page, at.row);
  }

  void finish(TableDef& def) override {
    indexes_->flush();
    for (size_t i = 0; i < maps_.size(); ++i) {
      maps_[i].write(file_, [this] { return pages_.newPage(); });
      def.realIndexes[i].entryCount = indexes_->count(i);
    }
  }

 private:
  PageFile& file_;
  PageAllocator& pages_;
  const TableDef def_;
  const std::vector<IndexDef> defs_;
  StoredRowValues values_;
  std::vector<UsageMap> maps_;
  std::vector<std::unique_ptr<FileIndexPages>> indexPages_;
  std::unique_ptr<TableIndexes> indexes_;
  TableIndexes::Keys keys_;
};

}  // namespace

std::unique_ptr<IndexHook> makeIndexHook(PageFile& file, PageAllocator& pages,
                                         const TableDef& def, const std::string& table) {
  return std::make_unique<TableIndexHook>(file, pages, def, table);
}

}  // namespace vov::access
