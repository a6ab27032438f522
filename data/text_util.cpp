// UTF-8 helpers. Case folding uses the C library's wide-character tables of
// the C.UTF-8 locale, fixed here so the result does not depend on the
// user's locale settings.
#include "data/text_util.h"

#include <locale.h>
#include <wctype.h>

namespace vov {

static locale_t utf8Locale() {
  static locale_t loc = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", (locale_t)0);
    return l ? l : newlocale(LC_CTYPE_MASK, "C", (locale_t)0);
  }();
  return loc;
}

// Decodes one code point at s[i], advancing i; invalid bytes decode as
// themselves so that comparison stays total.
static char32_t decode(const std::string& s, size_t& i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
  if (extra <= 0 || i + extra >= s.size()) {
    ++i;
    return c;
  }
  char32_t cp = c & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    unsigned char cc = static_cast<unsigned char>(s[i + k]);
    if ((cc & 0xC0) != 0x80) {
      ++i;
      return c;
    }
    cp = (cp << 6) | (cc & 0x3F);
  }
  i += extra + 1;
  return cp;
}

bool equalsIgnoreCase(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  locale_t loc = utf8Locale();
  while (i < a.size() && j < b.size()) {
    char32_t x = decode(a, i), y = decode(b, j);
    if (x != y && towlower_l(static_cast<wint_t>(x), loc) !=
                      towlower_l(static_cast<wint_t>(y), loc))
      return false;
  }
  return i == a.size() && j == b.size();
}

std::u32string foldCase(const std::string& s) {
  std::u32string out;
  out.reserve(s.size());
  locale_t loc = utf8Locale();
  for (size_t i = 0; i < s.size();)
    out.push_back(static_cast<char32_t>(towlower_l(static_cast<wint_t>(decode(s, i)), loc)));
  return out;
}

namespace {

// Decodes one code point of strict UTF-8 at s[i], advancing i; false for a
// malformed, overlong or surrogate sequence.
bool decodeStrict(std::string_view s, size_t& i, char32_t* out) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) {
    ++i;
    *out = c;
    return true;
  }
  int extra;
  char32_t min;
  if ((c >> 5) == 6) { extra = 1; min = 0x80; }
  else if ((c >> 4) == 14) { extra = 2; min = 0x800; }
  else if ((c >> 3) == 30) { extra = 3; min = 0x10000; }
  else return false;
  if (i + extra >= s.size()) return false;
  char32_t cp = c & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    unsigned char cc = static_cast<unsigned char>(s[i + k]);
    if ((cc & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (cc & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  i += extra + 1;
  *out = cp;
  return true;
}

}  // namespace

bool isValidUtf8(const std::string& s) {
  size_t i = 0;
  char32_t cp;
  while (i < s.size())
    if (!decodeStrict(s, i, &cp)) return false;
  return true;
}

bool utf8CodePoints(std::string_view s, std::u32string* out) {
  out->clear();
  size_t i = 0;
  char32_t cp;
  while (i < s.size()) {
    if (!decodeStrict(s, i, &cp)) return false;
    out->push_back(cp);
  }
  return true;
}

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

size_t utf8Length(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

std::string utf8Prefix(const std::string& s, size_t n) {
  size_t count = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
      if (count == n) return s.substr(0, i);
      ++count;
    }
  }
  return s;
}

std::string doubleQuotedName(const std::string& name) {
  std::string q = "\"";
  for (char c : name) {
    if (c == '"') q += '"';
    q += c;
  }
  q += '"';
  return q;
}

}  // namespace vov
