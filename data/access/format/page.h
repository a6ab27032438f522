// Pages: the fixed-size blocks every Access file is made of, their types
// and the header of data pages, and the paged file the reader, the checker
// and the writer share. A page is reached through a PageRef, which keeps it
// in memory while held; the cache writes changed pages back when it has to
// make room, so a large append never holds the whole file.
#ifndef VOVARIZE_DATA_ACCESS_FORMAT_PAGE_H
#define VOVARIZE_DATA_ACCESS_FORMAT_PAGE_H

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "data/access/format/file_format.h"
#include "data/error.h"

namespace vov::access {

// A structure of the file that does not hold together. The message says
// where (page, row) and what, for the user.
class FormatError : public Error {
 public:
  explicit FormatError(const std::string& what) : Error(what) {}
};

enum PageType : uint8_t {
  kPageDatabase = 0x00,   // page 0
  kPageData = 0x01,       // rows, long values (LVAL) and usage-map rows
  kPageTableDef = 0x02,
  kPageIndexNode = 0x03,
  kPageIndexLeaf = 0x04,
  kPageUsageMap = 0x05,   // bitmap page of a reference usage map
};

// Data pages (Jet 4 and ACE):
//   0  type (1)   1  always 1   2  free space (2)   4  owner (4)
//   8  unknown (4)   12  row count (2)   14  row offsets (2 each)
// Rows are laid from the end of the page downwards: row 0 ends at the page
// end, row i ends where row i-1 starts. The owner is the table-definition
// page, or "LVAL" for pages of long values.
namespace datapage {
constexpr uint32_t kFreeSpace = 2;
constexpr uint32_t kOwner = 4;
constexpr uint32_t kRowCount = 12;
constexpr uint32_t kRowTable = 14;
constexpr uint32_t kLvalOwner = 0x4C41564C;  // "LVAL"
// Row-offset flags: the row was deleted; the slot holds a 4-byte pointer
// to where the row now lives (a row that grew and moved). A moved row's
// new home carries kDeleted, so that a scan lists it once, at its old
// place; kDeleted with kLookup is a deleted row.
constexpr uint16_t kDeleted = 0x8000;
constexpr uint16_t kLookup = 0x4000;
constexpr uint16_t kOffsetMask = 0x1FFF;
// Rows a page can hold: row numbers are one byte.
constexpr uint32_t kMaxRows = 255;
// Jet 3 (its pages are the only 2 KB ones) lacks the unknown 4 bytes at 8:
// its row count stands at 8 and its row offsets at 10.
inline uint32_t rowCountOffset(uint32_t pageSize) { return pageSize == 2048 ? 8 : kRowCount; }
}  // namespace datapage

struct Page {
  uint32_t number = 0;
  std::vector<uint8_t> bytes;
  bool dirty = false;
};
using PageRef = std::shared_ptr<Page>;

// Where row `row` of a data page lies; false when the row table says
// something impossible (the caller names the damage). Every version.
struct RowExtent {
  uint32_t start = 0;  // offset in the page
  uint32_t end = 0;    // one past the last byte
  uint16_t flags = 0;  // kDeleted, kLookup
};
bool rowExtent(const uint8_t* page, uint32_t pageSize, uint32_t row, RowExtent* out);

// One Access file as pages. Opened read-only or for writing; new pages go
// at the end of the file.
class PageFile {
 public:
  // Raises FormatError for a file that is not an Access database, Error
  // for one that cannot be opened.
  PageFile(const std::string& path, bool writable, size_t cachePages = 4096);
  // The open file `fd` (kept open by the caller; this takes a duplicate),
  // called `name` in messages.
  PageFile(int fd, const std::string& name, bool writable, size_t cachePages = 4096);
  ~PageFile();
  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;

  const FileFormat& format() const { return *format_; }
  uint32_t pageSize() const { return pageSize_; }
  uint32_t pageCount() const { return pageCount_; }
  const std::string& path() const { return path_; }

  // The page; FormatError past the end of the file.
  PageRef get(uint32_t number);
  // Marks a page changed; it is written back later.
  void touch(const PageRef& p) { p->dirty = true; }
  // A new zeroed page at the end of the file, already marked changed.
  PageRef append();
  // Writes every changed page and flushes the file to the disk.
  void flush(bool sync);
  // Peak number of pages held, for tests of the memory bound.
  size_t cachedPages() const { return cache_.size(); }

 private:
  void open();
  void evict();
  void writeBack(Page& p);

  std::string path_;
  int fd_ = -1;
  bool writable_;
  std::unique_ptr<FileFormat> format_;
  uint32_t pageSize_ = 0;
  uint32_t pageCount_ = 0;
  size_t limit_;
  // Least recently used at the front.
  std::list<PageRef> lru_;
  std::unordered_map<uint32_t, std::list<PageRef>::iterator> cache_;
};

}  // namespace vov::access

#endif
