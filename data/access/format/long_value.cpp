// Long values (long_value.h).
#include "data/access/format/long_value.h"

namespace vov::access {

std::string readLongValue(PageFile& file, const uint8_t* field, uint32_t size,
                          const std::function<void(uint32_t)>& visit) {
  using namespace longvalue;
  if (size < kHeaderSize) throw FormatError("备注或 OLE 值的头部不完整");
  const uint32_t head = get32(field);
  const uint32_t length = head & kLengthMask;
  if (head & kInline) {
    if (length > size - kHeaderSize) throw FormatError("备注或 OLE 值比它所在的行长");
    return std::string(reinterpret_cast<const char*>(field + kHeaderSize), length);
  }
  std::string data;
  data.reserve(length < (16u << 20) ? length : (16u << 20));
  RowPointer at = RowPointer::decode(get32(field + 4));
  const bool single = head & kSingle;
  // Every hop adds data, so a damaged chain cannot go round for ever.
  while (data.size() < length || (single && data.empty())) {
    if (at.page == 0 || at.page >= file.pageCount())
      throw FormatError("备注或 OLE 值指向不存在的第 " + std::to_string(at.page) + " 页");
    PageRef page = file.get(at.page);
    const uint8_t* b = page->bytes.data();
    RowExtent e;
    if (b[0] != kPageData || get32(b + datapage::kOwner) != datapage::kLvalOwner ||
        !rowExtent(b, file.pageSize(), at.row, &e) || (e.flags & datapage::kDeleted))
      throw FormatError("备注或 OLE 值指向的第 " + std::to_string(at.page) + " 页第 " +
                        std::to_string(at.row) + " 行不是长数据");
    if (visit) visit(at.page);
    const uint32_t n = e.end - e.start;
    if (single) {
      if (n < length) throw FormatError("备注或 OLE 值比它的长数据行长");
      data.assign(reinterpret_cast<const char*>(b + e.start), length);
      return data;
    }
    if (n <= 4) throw FormatError("备注或 OLE 值的长数据链断了");
    const uint32_t take = n - 4 < length - data.size() ? n - 4 : length - static_cast<uint32_t>(data.size());
    data.append(reinterpret_cast<const char*>(b + e.start + 4), take);
    at = RowPointer::decode(get32(b + e.start));
  }
  return data;
}

}  // namespace vov::access
