// Little-endian reads and writes on page bytes. The Access format stores
// every number little-endian except inside index keys.
#ifndef VOVARIZE_DATA_ACCESS_FORMAT_BYTES_H
#define VOVARIZE_DATA_ACCESS_FORMAT_BYTES_H

#include <cstddef>
#include <cstdint>

namespace vov::access {

inline uint16_t get16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t get24(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16);
}
inline uint32_t get32(const uint8_t* p) {
  return get24(p) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t get64(const uint8_t* p) {
  return static_cast<uint64_t>(get32(p)) | (static_cast<uint64_t>(get32(p + 4)) << 32);
}

inline void put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void put24(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
}
inline void put32(uint8_t* p, uint32_t v) {
  put24(p, v);
  p[3] = static_cast<uint8_t>(v >> 24);
}
inline void put64(uint8_t* p, uint64_t v) {
  put32(p, static_cast<uint32_t>(v));
  put32(p + 4, static_cast<uint32_t>(v >> 32));
}

// A row address as the format stores it: page number in the upper three
// bytes, row number on that page in the lowest byte.
struct RowPointer {
  uint32_t page = 0;
  uint8_t row = 0;
  static RowPointer decode(uint32_t v) { return {v >> 8, static_cast<uint8_t>(v & 0xFF)}; }
  uint32_t encode() const { return (page << 8) | row; }
  bool null() const { return page == 0 && row == 0; }
};

}  // namespace vov::access

#endif
