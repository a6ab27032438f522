// One physical index as a B-tree of index pages (index_page.h): look-up
// and insertion with page splits upward.
//
// Shape, as Access builds it: the root page never moves (a root that
// fills moves its entries into two new pages below it); a node's last
// child is its tail and has no entry, and only the nodes on the right edge
// have one; pages on one level are linked both ways.
#ifndef VOVARIZE_DATA_ACCESS_FORMAT_INDEX_TREE_H
#define VOVARIZE_DATA_ACCESS_FORMAT_INDEX_TREE_H

#include <cstdint>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "data/access/format/index_page.h"

namespace vov::access {

// The pages an index reads and writes.
class IndexPages {
 public:
  virtual ~IndexPages() = default;
  virtual uint32_t pageSize() const = 0;
  // The page's bytes, valid until the next call.
  virtual const uint8_t* read(uint32_t page) = 0;
  // The page's bytes for writing them whole, marked changed.
  virtual uint8_t* write(uint32_t page) = 0;
  // A new page, counted as this index's in the usage maps.
  virtual uint32_t allocate() = 0;
};

class IndexTree {
 public:
  // `owner`: the table-definition page the index's pages name.
  IndexTree(IndexPages& pages, uint32_t owner, uint32_t root);

  // Whether an entry has exactly this key.
  bool containsKey(std::string_view key);
  // Whether the index holds exactly this entry.
  bool containsEntry(std::string_view key, uint32_t rowPage, uint8_t rowNumber);
  // Adds the entry for a row; true when no entry had this key before.
  // Raises FormatError for pages that are not a sound index.
  bool insert(std::string_view key, uint32_t rowPage, uint8_t rowNumber);
  // Writes every changed page.
  void flush();

 private:
  static constexpr size_t kTailSlot = static_cast<size_t>(-1);
  struct Step {
    uint32_t page;
    size_t slot;  // entry followed, or kTailSlot
  };
  struct Cached {
    IndexPage page;
    bool dirty = false;
    std::list<uint32_t>::iterator age;
  };

  IndexPage& load(uint32_t page);
  IndexPage& create(uint32_t page, bool leaf);
  void touch(uint32_t page) { cache_.at(page).dirty = true; }
  // Leaf for `x`; `path` gets the nodes above it. With `raise`, node
  // entries passed beyond their last take `x` as their key.
  uint32_t descend(const std::string& x, std::vector<Step>* path, bool raise);
  bool neighbourHasKey(uint32_t leaf, size_t pos, std::string_view key);
  void split(std::vector<Step>& path, uint32_t page, size_t inserted);
  void splitRoot(size_t inserted);
  size_t splitPoint(const IndexPage& p, size_t inserted) const;
  void trim();

  IndexPages& pages_;
  uint32_t owner_;
  uint32_t root_;
  std::unordered_map<uint32_t, Cached> cache_;
  std::list<uint32_t> ages_;  // most recently used first
};

}  // namespace vov::access

#endif
