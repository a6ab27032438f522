// UTF-16LE text of Jet 4 and ACE files (utf16.h).
#include "data/access/format/utf16.h"

#include "data/text_util.h"

namespace vov::access {

std::string utf8FromUtf16le(const uint8_t* p, size_t bytes) {
  std::string s;
  s.reserve(bytes);
  const size_t n = bytes / 2;
  for (size_t i = 0; i < n; ++i) {
    uint32_t u = static_cast<uint32_t>(p[2 * i] | (p[2 * i + 1] << 8));
    if (u < 0x80) {  // most stored text: no call per character
      s.push_back(static_cast<char>(u));
      continue;
    }
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n) {
      uint32_t lo = static_cast<uint32_t>(p[2 * i + 2] | (p[2 * i + 3] << 8));
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        appendUtf8(s, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
        ++i;
        continue;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;
    appendUtf8(s, u);
  }
  return s;
}

bool utf16FromUtf8(const std::string& s, std::u16string* out) {
  const size_t mark = out->size();
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const size_t n = s.size();
  for (size_t i = 0; i < n;) {
    uint32_t c = p[i];
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > n) {
      out->resize(mark);
      return false;
    }
    uint32_t cp = len == 1 ? c : len == 2 ? c & 0x1F : len == 3 ? c & 0x0F : c & 0x07;
    for (size_t k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) {
        out->resize(mark);
        return false;
      }
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out->resize(mark);
      return false;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out->push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return true;
}

std::string decodeStoredText(const uint8_t* p, size_t n) {
  if (n < 2 || p[0] != 0xFF || p[1] != 0xFE) return utf8FromUtf16le(p, n);
  std::string units;
  units.reserve(2 * n);
  bool compressed = true;
  for (size_t i = 2; i < n;) {
    if (p[i] == 0) {
      compressed = !compressed;
      ++i;
    } else if (compressed) {
      units.push_back(static_cast<char>(p[i++]));
      units.push_back('\0');
    } else if (i + 1 < n) {
      units.push_back(static_cast<char>(p[i]));
      units.push_back(static_cast<char>(p[i + 1]));
      i += 2;
    } else {
      break;
    }
  }
  return utf8FromUtf16le(reinterpret_cast<const uint8_t*>(units.data()), units.size());
}

}  // namespace vov::access
