// Usage maps: the bitmaps that say which pages a table owns, which of them
// have free space, which pages hold a column's long values, and (page 1)
// which pages of the file are free. A map lives in one row of a data page,
// in one of two forms:
//   inline     0x00, first page (4), bitmap: bit i of byte j is page
//              first + 8j + i
//   reference  0x01, then page numbers (4 each) of bitmap pages (type 0x05,
//              bitmap from byte 4); bitmap page k covers pages
//              k * (page size - 4) * 8 onwards
// The row keeps its length when the map changes, so it is rewritten in
// place; an inline map that cannot reach a page becomes a reference map.
#ifndef VOVARIZE_DATA_ACCESS_FORMAT_USAGE_MAP_H
#define VOVARIZE_DATA_ACCESS_FORMAT_USAGE_MAP_H

#include <cstdint>
#include <functional>
#include <vector>

#include "data/access/format/bytes.h"
#include "data/access/format/page.h"

namespace vov::access {

class UsageMap {
 public:
  // Reads the map stored at `where`. FormatError when the row or its
  // bitmap pages are not a usage map.
  static UsageMap read(PageFile& file, RowPointer where);

  bool contains(uint32_t page) const;
  // Every page in the map, in ascending order.
  std::vector<uint32_t> pages() const;
  // The first page in the map above `after`; 0 when none.
  uint32_t next(uint32_t after) const;
  size_t size() const { return count_; }

  void add(uint32_t page);
  void remove(uint32_t page);

  // Writes the map back into its row (and bitmap pages). `newPage` gives a
  // fresh page when the map needs another bitmap page.
  void write(PageFile& file, const std::function<PageRef()>& newPage);

  bool reference() const { return reference_; }
  RowPointer where() const { return where_; }
  // Bitmap pages of a reference map: pages in use that no map owns.
  const std::vector<uint32_t>& bitmapPages() const { return refPages_; }
  // Pages an inline map can reach: [first, first + capacity).
  uint32_t inlineFirst() const { return first_; }
  uint32_t inlineCapacity() const { return rowBits_; }

 private:
  void set(uint32_t page, bool on);
  void writeInline(uint8_t* row);
  bool fitsInline(uint32_t first) const;

  RowPointer where_;
  bool reference_ = false;
  uint32_t first_ = 0;      // inline
  uint32_t rowBits_ = 0;    // inline bitmap length in bits
  std::vector<uint32_t> refPages_;  // reference: one per slot, 0 for none
  uint32_t bitsPerPage_ = 0;        // reference
  std::vector<uint64_t> bits_;      // by absolute page number
  size_t count_ = 0;
  uint32_t highest_ = 0;
};

}  // namespace vov::access

#endif
