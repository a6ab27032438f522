#include "tests/access_index/index_support.h"

#include <gtest/gtest.h>

#include "data/error.h"
#include "tests/support/test_support.h"

namespace vov::test {

FilePages::FilePages(const std::string& testFile) : bytes_(readFile(testData(testFile))) {}

const uint8_t* FilePages::read(uint32_t page) {
  if (page >= pageCount()) throw Error("no page " + std::to_string(page));
  return reinterpret_cast<const uint8_t*>(bytes_.data()) + size_t{page} * 4096;
}

uint8_t* FilePages::write(uint32_t page) { return const_cast<uint8_t*>(read(page)); }

uint32_t FilePages::allocate() {
  const uint32_t page = pageCount();
  bytes_.append(4096, '\0');
  allocated_.push_back(page);
  return page;
}

void RowsAt::add(uint32_t page, uint8_t row, const std::string& value) {
  auto& r = rows_[page << 8 | row];
  r.first = value;
  r.second = {value.empty() ? access::KeyValue{} : access::KeyValue::of(r.first)};
}

access::RowLookup RowsAt::lookup() const {
  return [this](access::RowPointer at) -> const std::vector<access::KeyValue>* {
    auto it = rows_.find(at.encode());
    return it == rows_.end() ? nullptr : &it->second.second;
  };
}

std::vector<std::string> accessWrittenFiles() {
  return {"access/ASampleDatabase.accdb", "access/DateTestDatabase.mdb", "access/calcfields_ace14.accdb",
          "access/compindex_ace14.accdb", "access/emoticons_ace14.accdb",
          "access/extdate_ace17.accdb", "access/overflow_jet4.mdb",
          "access/fixed_numeric_jet4.mdb", "access/indexes_jet4.mdb",
          "access/indexprops_ace14.accdb", "access/indexprops_jet4.mdb",
          "access/types_ace14.accdb", "access/unicode_comp_jet4.mdb"};
}

std::string longBytes(int32_t v) {
  const uint32_t u = static_cast<uint32_t>(v);
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(u >> (8 * i));
  return s;
}

}  // namespace vov::test
