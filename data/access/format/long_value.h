// Long values (Memo, OLE Object): a 12-byte header in the row, then the
// data in the row, in one row of an LVAL page, or in a chain of LVAL rows.
//   0  length (4): bits 0..29 the length, 0x80000000 data follows in the
//      row, 0x40000000 data is the whole of one LVAL row; neither: a chain
//      whose rows each start with the pointer (4) to the next row
//   4  row pointer of the (first) LVAL row   8  unknown (4), 0
#ifndef VOVARIZE_DATA_ACCESS_FORMAT_LONG_VALUE_H
#define VOVARIZE_DATA_ACCESS_FORMAT_LONG_VALUE_H

#include <cstdint>
#include <functional>
#include <string>

#include "data/access/format/bytes.h"
#include "data/access/format/page.h"

namespace vov::access {

namespace longvalue {
constexpr uint32_t kHeaderSize = 12;
constexpr uint32_t kInline = 0x80000000;
constexpr uint32_t kSingle = 0x40000000;
constexpr uint32_t kLengthMask = 0x3FFFFFFF;
}  // namespace longvalue

// Reads a long value whose header starts at `field` (`size` bytes of the
// row). `visit` sees each LVAL page the value uses. FormatError when the
// value points where no data is.
std::string readLongValue(PageFile& file, const uint8_t* field, uint32_t size,
                          const std::function<void(uint32_t page)>& visit = {});

}  // namespace vov::access

#endif
