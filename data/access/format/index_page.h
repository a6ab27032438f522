// Index pages (Jet 4 and ACE): the nodes of an index's B-tree.
//
//   0  type: 0x03 node, 0x04 leaf     1  always 1     2  free space (2)
//   4  table-definition page (4)      8  zero (4)
//   12 previous page on this level (4)   16 next page on this level (4)
//   20 tail page (4)   24 shared prefix length (2)   26 1 on node pages
//   27 entry-start bitmap, to 0x1E0   0x1E0 entries
//
// A leaf entry is a key followed by the row it indexes: the page in three
// bytes and the row in one, big-endian. A node entry adds the child page
// (4 bytes, big-endian); its key and row are those of the last entry below
// that child. A node's last child has no entry: the tail field names it.
// Bit i of the bitmap (from the low bit of byte 27) marks an entry that
// starts i bytes after 0x1E0, and the end of the last one; the first entry
// starts at 0x1E0 unmarked. Every entry but the first leaves out the first
// `prefix` bytes, which it shares with the first.
#ifndef VOVARIZE_DATA_ACCESS_FORMAT_INDEX_PAGE_H
#define VOVARIZE_DATA_ACCESS_FORMAT_INDEX_PAGE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vov::access {

namespace indexpage {
constexpr uint8_t kNode = 0x03;
constexpr uint8_t kLeaf = 0x04;
constexpr uint32_t kFreeSpace = 2;
constexpr uint32_t kOwner = 4;
constexpr uint32_t kPrevious = 12;
constexpr uint32_t kNext = 16;
constexpr uint32_t kTail = 20;
constexpr uint32_t kPrefix = 24;
constexpr uint32_t kNodeFlag = 26;
constexpr uint32_t kBitmap = 27;
constexpr uint32_t kEntries = 0x1E0;
constexpr size_t kRowPointerSize = 4;
constexpr size_t kChildSize = 4;
}  // namespace indexpage

// The largest key an entry may hold: two node entries must fit one page.
constexpr size_t kMaxIndexKey = 1800;

// One index page decoded, entries in full.
class IndexPage {
 public:
  explicit IndexPage(bool leaf = true) : leaf_(leaf) {}

  // Decodes page bytes. Returns nullptr, or what is wrong with the page.
  static const char* parse(const uint8_t* page, uint32_t pageSize, IndexPage* out);
  // Writes the page: entries with the longest prefix they share on leaves
  // (none on nodes, as Access writes them), bitmap, header.
  void serialize(uint8_t* page, uint32_t pageSize, uint32_t owner) const;

  bool leaf() const { return leaf_; }
  void setLeaf(bool leaf) { leaf_ = leaf; }
  uint32_t previous = 0, next = 0, tail = 0;

  size_t size() const { return ends_.size(); }
  bool empty() const { return ends_.empty(); }
  std::string_view entry(size_t i) const {
    const uint32_t start = i == 0 ? 0 : ends_[i - 1];
    return std::string_view(bytes_).substr(start, ends_[i] - start);
  }
  // The part entries are ordered by: key and row, without a node's child.
  std::string_view sortPart(size_t i) const {
    std::string_view e = entry(i);
    return leaf_ ? e : e.substr(0, e.size() - indexpage::kChildSize);
  }
  uint32_t child(size_t i) const;  // node pages
  std::string_view last() const { return sortPart(size() - 1); }

  // Index of the first entry whose sort part is not below `x`.
  size_t lowerBound(std::string_view x) const;
  void insert(size_t i, std::string_view entry);
  void erase(size_t i);
  void replaceChild(size_t i, uint32_t child);
  // Moves entries [i, size()) to the end of `to`.
  void moveTail(size_t i, IndexPage& to);
  // Bytes the page needs when written, header included.
  size_t encodedSize() const;
  bool fits(uint32_t pageSize) const { return encodedSize() <= pageSize; }
  // The prefix shared by every entry (0 on nodes).
  size_t sharedPrefix() const;

 private:
  bool leaf_;
  std::string bytes_;            // entries in full, one after another
  std::vector<uint32_t> ends_;   // where each ends in bytes_
};

// "key || row" with the row pointer in index order.
std::string indexSortPart(std::string_view key, uint32_t page, uint8_t row);
// A node entry for `sortPart` pointing at `child`.
std::string nodeEntry(std::string_view sortPart, uint32_t child);
uint32_t readBigEndian32(const uint8_t* p);

}  // namespace vov::access

#endif
