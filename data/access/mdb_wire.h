// The byte stream from the Access reader process (vovarize-mdb-reader) to
// the Access backend. The reader writes messages to its standard output;
// each starts with a one-byte tag. Integers are little-endian, texts are a
// 32-bit length and UTF-8 bytes.
//
//   'T' text                         one user table name (command "tables")
//   'F' u16 n, n x (text, u8, i32, text)
//                                    the fields: name, FieldType, size, and
//                                    why its values cannot be read (or empty)
//   'R' one value per field          a row (see ValueTag)
//   'C' u64                          a row count (command "count")
//   'P' u32 page                     still working (sent during long scans);
//                                    the page grows from one to the next, so a
//                                    reader that repeats itself is stuck
//   'E'                              done; the reader exits with status 0
//   'X' u8 Failure, text detail      failed; the reader exits with status 2
#ifndef VOVARIZE_DATA_ACCESS_MDB_WIRE_H
#define VOVARIZE_DATA_ACCESS_MDB_WIRE_H

#include <cstdint>
#include <cstring>
#include <string>

namespace vov::mdbwire {

enum Tag : uint8_t {
  kTable = 'T',
  kFields = 'F',
  kRow = 'R',
  kCount = 'C',
  kProgress = 'P',
  kEnd = 'E',
  kFail = 'X',
};

enum ValueTag : uint8_t {
  kNull = 0,
  kFalse = 1,
  kTrue = 2,
  kInt = 3,      // i64
  kReal = 4,     // f64
  kDecimal = 5,  // text: a plain decimal numeral
  kText = 6,     // text
  kBytes = 7,    // text (raw bytes)
  kDate = 8,     // i16 year, u8 month, day, hour, minute, second, u32 nanosecond
};

enum Failure : uint8_t {
  kOpenFailed = 1,  // detail: the errno number
  kEmptyFile = 2,
  kNotAccess = 3,
  kTruncated = 4,
  kEncrypted = 5,
  kDamaged = 6,     // detail: what was wrong, in libmdb's words or ours
  kNoSuchTable = 7,
  kBadUsage = 8,
};

// Appends the encoded forms to a string buffer.
inline void putU8(std::string& b, uint8_t v) { b.push_back(static_cast<char>(v)); }

inline void putU16(std::string& b, uint16_t v) {
  putU8(b, static_cast<uint8_t>(v));
  putU8(b, static_cast<uint8_t>(v >> 8));
}

inline void putU32(std::string& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) putU8(b, static_cast<uint8_t>(v >> (8 * i)));
}

inline void putU64(std::string& b, uint64_t v) {
  for (int i = 0; i < 8; ++i) putU8(b, static_cast<uint8_t>(v >> (8 * i)));
}

inline void putF64(std::string& b, double d) {
  uint64_t v;
  std::memcpy(&v, &d, sizeof v);
  putU64(b, v);
}

inline void putText(std::string& b, const char* p, size_t n) {
  putU32(b, static_cast<uint32_t>(n));
  b.append(p, n);
}

inline void putText(std::string& b, const std::string& s) { putText(b, s.data(), s.size()); }

}  // namespace vov::mdbwire

#endif
