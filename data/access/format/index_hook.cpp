// The writer's index hook; see index_hook.h.
#include "data/access/format/index_hook.h"

#include <vector>

#include "data/access/format/catalog.h"
#include "data/access/format/usage_map.h"

namespace vov::access {

TableIndexes* IndexRegistry::find(uint32_t table) const {
  auto it = tables_.find(table);
  return it == tables_.end() ? nullptr : it->second;
}

namespace {

// A parent index read from the file, for a parent table this session
// does not write.
struct StoredParent {
  std::unique_ptr<FileIndexPages> pages;
  std::unique_ptr<IndexTree> tree;
  size_t index = 0;  // its place among the parent's real indexes
};

class TableIndexHook : public IndexHook {
 public:
  TableIndexHook(PageFile& file, PageAllocator& pages, const TableDef& def,
                 const std::string& table, IndexRegistry& registry)
      : file_(file), pages_(pages), registry_(registry), def_(def), defs_(indexDefs(def_)),
        values_(def_, defs_) {
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
    requireParents();
    registry_.add(def_.page, indexes_.get());
  }
  ~TableIndexHook() override { registry_.remove(def_.page); }

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
  // Relationships where this table is the child (the logical index's
  // relationship byte 2: indexes_jet4.mdb Table1 to Table2 and Table3).
  void requireParents() {
    std::vector<CatalogEntry> catalog;
    for (const LogicalIndex& l : def_.indexes) {
      if (l.kind != kIndexKindForeignKey || l.relationship != 2) continue;
      if (catalog.empty()) catalog = readCatalog(file_);
      TableIndexes::Parent p;
      p.child = realPosition(def_, l.realIndex);
      p.relation = l.name;
      const TableDef parent =
          l.otherTable == def_.page ? def_ : readTableDef(file_, l.otherTable);
      for (const CatalogEntry& e : catalog)
        if (e.definitionPage() == l.otherTable) p.table = e.name;
      size_t index = parent.realIndexes.size();
      for (const LogicalIndex& o : parent.indexes)
        if (o.number == l.otherIndex) index = realPosition(parent, o.realIndex);
      if (index == parent.realIndexes.size())
        throw FormatError("关系“" + l.name + "”指向的索引不在表“" + p.table + "”中");
      const IndexDef key = indexDefs(parent)[index];
      if (key.columns.size() != defs_[p.child].columns.size())
        throw FormatError("关系“" + l.name + "”两边的列数不同");
      for (const IndexedColumn& c : key.columns) p.columns.push_back(c.key);
      auto stored = std::make_shared<StoredParent>();
      stored->pages = std::make_unique<FileIndexPages>(file_);
      stored->tree = std::make_unique<IndexTree>(*stored->pages, parent.page, key.root);
      stored->index = index;
      const uint32_t parentPage = parent.page;
      p.tree = [this, stored, parentPage]() -> IndexTree& {
        if (TableIndexes* live = registry_.find(parentPage)) return live->tree(stored->index);
        return *stored->tree;
      };
      indexes_->requireParent(std::move(p));
    }
  }

  static size_t realPosition(const TableDef& def, uint32_t number) {
    for (size_t i = 0; i < def.realIndexes.size(); ++i)
      if (def.realIndexes[i].number == number) return i;
    throw FormatError("逻辑索引指向不存在的物理索引 " + std::to_string(number));
  }

  PageFile& file_;
  PageAllocator& pages_;
  IndexRegistry& registry_;
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
                                         const TableDef& def, const std::string& table,
                                         IndexRegistry& registry) {
  return std::make_unique<TableIndexHook>(file, pages, def, table, registry);
}

}  // namespace vov::access
