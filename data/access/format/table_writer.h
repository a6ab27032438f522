// Appending rows to one table of a Jet 4 or ACE file: values encoded as the
// columns store them, long values inline or on LVAL pages, rows placed on
// the table's last page with room (at most 255 a page) or on a new page at
// the end of the file, the usage maps, the database's free-page map, the
// row count, the AutoNumber value and (through IndexHook) the indexes kept
// right. Everything a row needs is checked before any of it is written, so
// a refused row leaves the rows before it whole.
#ifndef VOVARIZE_DATA_ACCESS_FORMAT_TABLE_WRITER_H
#define VOVARIZE_DATA_ACCESS_FORMAT_TABLE_WRITER_H

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "data/access/format/page.h"
#include "data/access/format/row.h"
#include "data/access/format/table_def.h"
#include "data/access/format/usage_map.h"
#include "data/value.h"

namespace vov::access {

// Gives new pages at the end of the file and keeps the database's
// free-page map (page 1) in step.
class PageAllocator {
 public:
  explicit PageAllocator(PageFile& file);
  PageRef newPage();
  // Writes the free-page map back.
  void finish();
  uint32_t pagesAdded() const { return added_; }

 private:
  PageFile& file_;
  UsageMap global_;
  bool changed_ = false;
  uint32_t added_ = 0;
};

// The indexes of the table being written. check() sees the composed row
// before anything is written and raises vov::Error to refuse it; add()
// sees it once it is stored at `at`; finish() writes what is held and sets
// each real index's entry count in `def`.
class IndexHook {
 public:
  virtual ~IndexHook() = default;
  virtual void check(const uint8_t* row, uint32_t length) = 0;
  virtual void add(const uint8_t* row, uint32_t length, RowPointer at) = 0;
  virtual void finish(TableDef& def) = 0;
};

// A row refused for its values (a value that cannot be stored, a duplicate
// key): nothing of it was written, and later rows may still go in.
class RowRefused : public Error {
 public:
  explicit RowRefused(const std::string& why) : Error(why) {}
};

class TableWriter {
 public:
  // Raises vov::Error, before anything is written, for a table this writer
  // must not append to (calculated, attachment, multi-value or hyperlink
  // columns), naming the column and why. `indexes` may be null only for a
  // table without indexes.
  TableWriter(PageFile& file, PageAllocator& pages, uint32_t definitionPage, std::string name,
              std::unique_ptr<IndexHook> indexes);

  const TableDef& def() const { return def_; }
  const std::string& name() const { return name_; }

  // One value per column of def().columns; null pointer or a null value:
  // NULL (an AutoNumber column gets its next value). Raises RowRefused
  // with the reason when the row cannot be stored (nothing of it is
  // written), another Error when the file fails under it.
  void append(const std::vector<const Value*>& values);
  uint64_t appended() const { return appended_; }

  // Raises RowRefused where append() would for the values themselves;
  // writes nothing. Keys and relationships are not looked at: whether they
  // hold depends on the rows appended before.
  void checkValues(const std::vector<const Value*>& values);

  // Writes the maps, the counts and the indexes back.
  void finish();

 private:
  struct LongValueColumn {
    UsageMap owned;
    UsageMap free;
    bool hasFree = false;
    PageRef current;  // the LVAL page being filled
  };
  [[noreturn]] void refuse(const Column& c, const std::string& why) const;
  void encode(const std::vector<const Value*>& values);
  // The row composed from the values, RowRefused when it cannot be.
  void prepare(const std::vector<const Value*>& values, bool withIndexes);
  void compose(const std::vector<const Value*>& values, bool withIndexes);
  void store();
  RowPointer placeLongValueRow(LongValueColumn& lv, const std::string& bytes);
  void storeLongValue(size_t column, std::string& header, const std::string& data);
  RowPointer placeRow(const std::string& row);
  PageRef newDataPage(uint32_t owner);

  PageFile& file_;
  PageAllocator& pages_;
  std::string name_;
  TableDef def_;
  std::unique_ptr<IndexHook> indexes_;
  UsageMap owned_;
  UsageMap free_;
  PageRef current_;  // the data page rows go to
  std::vector<std::unique_ptr<LongValueColumn>> longValues_;  // by column position
  std::vector<FieldValue> fields_;
  std::vector<std::string> longData_;  // by column position: data kept out of the row
  std::string row_;
  std::vector<size_t> out_;  // long values of the row that go to LVAL pages
  uint64_t appended_ = 0;
  std::mt19937_64 random_;
};

}  // namespace vov::access

#endif
