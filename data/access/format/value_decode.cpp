// Decoding stored values (the read side of value_codec.h).
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "data/access/format/bytes.h"
#include "data/access/format/utf16.h"
#include "data/access/format/value_codec.h"
#include "data/text_util.h"

namespace vov::access {

namespace {

std::string digitsOf(unsigned __int128 mag) {
  char buf[48];
  char* end = buf + sizeof buf;
  char* p = end;
  do {
    *--p = static_cast<char>('0' + static_cast<int>(mag % 10));
    mag /= 10;
  } while (mag != 0);
  return std::string(p, end);
}

// A magnitude with `scale` digits after the point, and its sign.
std::string scaledText(unsigned __int128 mag, int scale, bool negative) {
  std::string digits = digitsOf(mag);
  if (scale > 0) {
    if (digits.size() <= static_cast<size_t>(scale))
      digits.insert(0, static_cast<size_t>(scale) + 1 - digits.size(), '0');
    digits.insert(digits.size() - static_cast<size_t>(scale), 1, '.');
  }
  return negative && mag != 0 ? "-" + digits : digits;
}

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
void civilFromDays(int64_t z, DateTime* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d->day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  d->month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  d->year = static_cast<int>(yoe + era * 400 + (d->month <= 2));
}

double doubleAt(const uint8_t* p) {
  uint64_t bits = get64(p);
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

float floatAt(const uint8_t* p) {
  uint32_t bits = get32(p);
  float v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

// Jet 3 text through the file's code page.
void appendCodePageText(iconv_t codePage, const uint8_t* p, size_t n, std::string& out) {
  if (codePage == reinterpret_cast<iconv_t>(-1)) {
    for (size_t i = 0; i < n; ++i) appendUtf8(out, p[i]);
    return;
  }
  iconv(codePage, nullptr, nullptr, nullptr, nullptr);
  char* in = reinterpret_cast<char*>(const_cast<uint8_t*>(p));
  size_t inLeft = n;
  char buf[1024];
  while (inLeft > 0) {
    char* o = buf;
    size_t oLeft = sizeof buf;
    size_t r = iconv(codePage, &in, &inLeft, &o, &oLeft);
    out.append(buf, sizeof buf - oLeft);
    if (r == static_cast<size_t>(-1) && errno != E2BIG) {
      appendUtf8(out, 0xFFFD);  // a byte the code page does not define
      ++in;
      --inLeft;
    }
  }
}

}  // namespace

std::string moneyText(int64_t v) {
  const bool neg = v < 0;
  const uint64_t mag = neg ? ~static_cast<uint64_t>(v) + 1 : static_cast<uint64_t>(v);
  return scaledText(mag, 4, neg);
}

bool numericText(const uint8_t* p, int scale, std::string* out) {
  if (scale < 0 || scale > 38) return false;
  unsigned __int128 mag = 0;
  for (int w = 0; w < 4; ++w) mag = (mag << 32) | get32(p + 1 + 4 * w);
  *out = scaledText(mag, scale, p[0] & 0x80);
  return true;
}

bool variantDecimalText(const uint8_t* p, std::string* out) {
  const int scale = p[2];
  if (scale > 28) return false;
  const unsigned __int128 mag = (static_cast<unsigned __int128>(get32(p + 4)) << 64) | get64(p + 8);
  *out = scaledText(mag, scale, p[3] & 0x80);
  return true;
}

std::string guidText(const uint8_t* p) {
  static const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  static const char hex[] = "0123456789ABCDEF";
  std::string s = "{";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) s += '-';
    s += hex[p[order[i]] >> 4];
    s += hex[p[order[i]] & 15];
  }
  return s + "}";
}

// Before 1899-12-30 the whole part counts back while the fraction still
// runs forward through the day.
bool dateFromDays(double v, DateTime* out) {
  if (!(v >= -657434.0 && v < 2958466.0)) return false;
  const double whole = std::trunc(v);
  int64_t day = static_cast<int64_t>(whole) - 25569;  // 1899-12-30 is day -25569
  int64_t ms = std::llround(std::fabs(v - whole) * 86400000.0);
  if (ms >= 86400000) {
    ms -= 86400000;
    ++day;
  }
  DateTime d;
  civilFromDays(day, &d);
  d.hour = static_cast<int>(ms / 3600000);
  d.minute = static_cast<int>(ms / 60000 % 60);
  d.second = static_cast<int>(ms / 1000 % 60);
  d.nanosecond = static_cast<int>(ms % 1000 * 1000000);
  *out = d;
  return true;
}

bool extendedDate(const uint8_t* p, size_t n, DateTime* out) {
  auto number = [&](size_t& i, uint64_t* v) {
    const size_t start = i;
    *v = 0;
    while (i < n && p[i] >= '0' && p[i] <= '9' && i - start < 19) *v = *v * 10 + (p[i++] - '0');
    return i > start;
  };
  size_t i = 0;
  uint64_t days = 0, ticks = 0, precision = 0;
  if (!number(i, &days) || i >= n || p[i++] != ':' || !number(i, &ticks) || i >= n ||
      p[i++] != ':' || !number(i, &precision))
    return false;
  for (; i < n; ++i)
    if (p[i] != 0) return false;
  constexpr uint64_t kTicksPerDay = 864000000000ull;
  if (days > 3652058 || ticks >= kTicksPerDay) return false;  // 9999-12-31 at most
  DateTime d;
  civilFromDays(static_cast<int64_t>(days) - 719162, &d);  // 1970-01-01 is day 719162
  const uint64_t seconds = ticks / 10000000;
  d.hour = static_cast<int>(seconds / 3600);
  d.minute = static_cast<int>(seconds / 60 % 60);
  d.second = static_cast<int>(seconds % 60);
  d.nanosecond = static_cast<int>(ticks % 10000000 * 100);
  *out = d;
  return true;
}

double singleAsDouble(float f) {
  if (!std::isfinite(f)) return f;
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, f);
  *r.ptr = '\0';
  return std::strtod(buf, nullptr);
}

bool calculatedResult(const uint8_t* p, size_t n, const uint8_t** data, size_t* size) {
  constexpr size_t kHeader = 20;
  if (n < kHeader) return false;
  const uint32_t length = get32(p + 16);
  if (length > n - kHeader) return false;
  *data = p + kHeader;
  *size = length;
  return true;
}

const char* decodeValue(const TextCodec& text, uint8_t type, int scale, bool calculated,
                        const uint8_t* p, size_t n, Value& out) {
  auto need = [&](size_t bytes) { return n == bytes || (!calculated && n > bytes); };
  static const char* const kShort = "a value does not fit its column type";
  switch (type) {
    case kColBool:  // only calculated results carry Yes/No bytes
      if (n != 1) return kShort;
      out = Value::fromBool(p[0] != 0);
      return nullptr;
    case kColByte:
      if (!need(1)) return kShort;
      out = Value::fromInt(p[0]);
      return nullptr;
    case kColInt:
      if (!need(2)) return kShort;
      out = Value::fromInt(static_cast<int16_t>(get16(p)));
      return nullptr;
    case kColLong:
      if (!need(4)) return kShort;
      out = Value::fromInt(static_cast<int32_t>(get32(p)));
      return nullptr;
    case kColBigInt:
      if (!need(8)) return kShort;
      out = Value::fromInt(static_cast<int64_t>(get64(p)));
      return nullptr;
    case kColMoney:
      if (!need(8)) return kShort;
      out = Value::fromDecimal(moneyText(static_cast<int64_t>(get64(p))));
      return nullptr;
    case kColFloat:
      if (!need(4)) return kShort;
      out = Value::fromReal(singleAsDouble(floatAt(p)));
      return nullptr;
    case kColDouble:
      if (!need(8)) return kShort;
      out = Value::fromReal(doubleAt(p));
      return nullptr;
    case kColDateTime: {
      if (!need(8)) return kShort;
      DateTime d;
      const double days = doubleAt(p);
      out = dateFromDays(days, &d) ? Value::fromDateTime(d) : Value::fromReal(days);
      return nullptr;
    }
    case kColExtDate: {
      DateTime d;
      if (!extendedDate(p, n, &d)) return "a Date/Time Extended value is not a date";
      out = Value::fromDateTime(d);
      return nullptr;
    }
    case kColText:
    case kColMemo: {
      std::string s;
      if (text.jet3) appendCodePageText(text.codePage, p, n, s);
      else s = decodeStoredText(p, n);
      out = Value::fromText(std::move(s));
      return nullptr;
    }
    case kColGuid:
      if (!need(16)) return kShort;
      out = Value::fromText(guidText(p));
      return nullptr;
    case kColNumeric: {
      std::string s;
      if (calculated ? !(n == 16 && variantDecimalText(p, &s)) : !(n >= 17 && numericText(p, scale, &s)))
        return "a Decimal value is damaged";
      out = Value::fromDecimal(std::move(s));
      return nullptr;
    }
    default:  // Binary, OLE, and types without a decoding: the bytes unchanged
      out = Value::fromBytes(std::string(reinterpret_cast<const char*>(p), n));
      return nullptr;
  }
}

}  // namespace vov::access
