// Helpers of the index tests: a real Access file's pages held in memory,
// growing at the end as the index code asks for pages.
#ifndef VOVARIZE_TESTS_ACCESS_INDEX_INDEX_SUPPORT_H
#define VOVARIZE_TESTS_ACCESS_INDEX_INDEX_SUPPORT_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "data/access/format/index_check.h"
#include "data/access/format/index_tree.h"

namespace vov::test {

class FilePages : public access::IndexPages {
 public:
  // The file of tests/testdata ("access/compindex_ace14.accdb").
  explicit FilePages(const std::string& testFile);
  uint32_t pageSize() const override { return 4096; }
  const uint8_t* read(uint32_t page) override;
  uint8_t* write(uint32_t page) override;
  uint32_t allocate() override;

  uint32_t pageCount() const { return static_cast<uint32_t>(bytes_.size() / 4096); }
  const std::vector<uint32_t>& allocated() const { return allocated_; }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
  std::vector<uint32_t> allocated_;
};

// Rows by address for checking an index without a table: each row one
// column value, kept here (empty: NULL).
class RowsAt {
 public:
  void add(uint32_t page, uint8_t row, const std::string& value);
  void remove(uint32_t page, uint8_t row) { rows_.erase(page << 8 | row); }
  size_t size() const { return rows_.size(); }
  access::RowLookup lookup() const;

 private:
  std::map<uint32_t, std::pair<std::string, std::vector<access::KeyValue>>> rows_;
};

// Jet 4 / ACE files of tests/testdata/access that Access itself wrote.
std::vector<std::string> accessWrittenFiles();

// A Long column's stored bytes.
std::string longBytes(int32_t v);

}  // namespace vov::test

#endif
