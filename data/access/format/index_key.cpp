// Key encodings of the column types (index_key.h).
//
// Seen in Access-written entries of the test files: Byte, Long (both
// directions), Date/Time (positive dates, in nwind.mdb, whose Jet 3 index
// entries use the same encoding), Binary, Date/Time Extended (both
// directions), Text and NULLs. Integer, Currency, Single and Double follow
// the two families those show (big-endian integers with the sign bit
// flipped; floating point likewise, negatives with every bit inverted so
// that they sort below zero). No Access-written key of Yes/No, GUID or
// Decimal is in any test file: those are refused.
#include "data/access/format/index_key.h"

#include <cstdio>
#include <cstring>

#include "data/access/format/key_text.h"
#include "data/access/format/table_def.h"
#include "data/text_util.h"

namespace vov::access {

namespace {

constexpr uint8_t kFlagAscending = 0x7F;
constexpr uint8_t kFlagDescending = 0x80;
constexpr uint8_t kNullAscending = 0x00;
constexpr uint8_t kNullDescending = 0xFF;

// Binary data goes in chunks of 8 bytes, each followed by 0x09 while more
// follows; the last is padded with zeros and followed by its length.
constexpr size_t kChunk = 8;
constexpr uint8_t kChunkMore = 0x09;

void requireSize(const KeyValue& v, size_t n) {
  if (v.bytes.size() != n)
    throw KeyError("列值长度为 " + std::to_string(v.bytes.size()) + " 字节，应为 " +
                   std::to_string(n) + " 字节");
}

// Little-endian two's-complement integer of `n` bytes, big-endian with the
// sign bit flipped.
void appendSignedInteger(std::vector<uint8_t>& out, const KeyValue& v, size_t n) {
  requireSize(v, n);
  const size_t at = out.size();
  for (size_t i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(v.bytes[n - 1 - i]));
  out[at] ^= 0x80;
}

void appendFloatingPoint(std::vector<uint8_t>& out, const KeyValue& v, size_t n) {
  requireSize(v, n);
  const size_t at = out.size();
  for (size_t i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(v.bytes[n - 1 - i]));
  if (out[at] & 0x80) {
    for (size_t i = at; i < out.size(); ++i) out[i] = static_cast<uint8_t>(~out[i]);
  } else {
    out[at] ^= 0x80;
  }
}

// Returns where the chunk markers are, which a descending key keeps as
// they are.
void appendChunked(std::vector<uint8_t>& out, const KeyValue& v, std::vector<size_t>* markers) {
  if (v.bytes.empty()) throw KeyError("空的二进制值的索引编码未经核实");
  size_t i = 0;
  const size_t n = v.bytes.size();
  while (n - i > kChunk) {
    out.insert(out.end(), v.bytes.begin() + i, v.bytes.begin() + i + kChunk);
    markers->push_back(out.size());
    out.push_back(kChunkMore);
    i += kChunk;
  }
  const size_t last = n - i;
  out.insert(out.end(), v.bytes.begin() + i, v.bytes.end());
  out.insert(out.end(), kChunk - last, 0);
  out.push_back(static_cast<uint8_t>(last));
}

}  // namespace

bool keyTypeSupported(uint8_t t) {
  switch (t) {
    case kColByte: case kColInt: case kColLong: case kColMoney: case kColFloat:
    case kColDouble: case kColDateTime: case kColBinary: case kColText:
    case kColExtDate:
      return true;
    default:
      return false;
  }
}

std::string describeCharacter(char32_t c) {
  // Control characters are named by their code alone.
  std::string utf8;
  if (c >= 0x20 && c != 0x7F && !(c >= 0x80 && c < 0xA0)) appendUtf8(utf8, c);
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
  if (utf8.empty()) return std::string("字符 ") + code + " ";
  return "字符“" + utf8 + "”（" + code + "）";
}

void appendKeySegment(std::vector<uint8_t>& out, const KeyColumn& column, const KeyValue& value) {
  if (value.null) {
    out.push_back(column.ascending ? kNullAscending : kNullDescending);
    return;
  }
  out.push_back(column.ascending ? kFlagAscending : kFlagDescending);
  const size_t at = out.size();
  std::vector<size_t> markers;
  switch (column.type) {
    case kColByte:
      requireSize(value, 1);
      out.push_back(static_cast<uint8_t>(value.bytes[0]));
      break;
    case kColInt: appendSignedInteger(out, value, 2); break;
    case kColLong: appendSignedInteger(out, value, 4); break;
    case kColMoney: appendSignedInteger(out, value, 8); break;
    case kColFloat: appendFloatingPoint(out, value, 4); break;
    case kColDouble:
    case kColDateTime: appendFloatingPoint(out, value, 8); break;
    case kColBinary:
    case kColExtDate: appendChunked(out, value, &markers); break;
    case kColText: {
      TextOrder order;
      if (!textOrderOf(column.sortOrder, column.sortVersion, &order)) {
        char what[64];
        std::snprintf(what, sizeof what, "文本排序规则 0x%04X（版本 %u）", column.sortOrder,
                      static_cast<unsigned>(column.sortVersion));
        throw KeyError(std::string(what) + "的索引编码未经核实");
      }
      appendTextSortKey(out, order, value.bytes);
      break;
    }
    default: {
      char what[64];
      std::snprintf(what, sizeof what, "列类型 0x%02X 的索引编码未经核实",
                    static_cast<unsigned>(column.type));
      throw KeyError(what);
    }
  }
  if (!column.ascending) {
    size_t m = 0;
    for (size_t i = at; i < out.size(); ++i) {
      if (m < markers.size() && markers[m] == i) {
        ++m;
        continue;
      }
      out[i] = static_cast<uint8_t>(~out[i]);
    }
  }
}

}  // namespace vov::access
