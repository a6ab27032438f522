// Encoding values for storage (value_codec.h).
#include "data/access/format/value_codec.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "data/access/format/bytes.h"
#include "data/access/format/utf16.h"

namespace vov::access {

namespace {

// Days from 1970-01-01 of a civil date (proleptic Gregorian).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool validDate(const DateTime& d) {
  static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (d.year < 1 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1) return false;
  const bool leap = (d.year % 4 == 0 && d.year % 100 != 0) || d.year % 400 == 0;
  if (d.day > kDays[d.month - 1] || (d.month == 2 && d.day == 29 && !leap)) return false;
  return d.hour >= 0 && d.hour < 24 && d.minute >= 0 && d.minute < 60 && d.second >= 0 &&
         d.second < 60 && d.nanosecond >= 0 && d.nanosecond < 1000000000;
}

std::string trimmed(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && (s[a] == ' ' || s[a] == '\t')) ++a;
  while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t')) --b;
  return s.substr(a, b - a);
}

// An exact decimal: sign, digits without leading zeros, scale.
struct Decimal {
  bool negative = false;
  std::string digits;  // at least "0"
  int scale = 0;
};

// "-12.50", "+3", ".5", "1e3" (exponents only as Real texts do: refused
// here, handled by the caller through strtod).
bool parseDecimal(const std::string& text, Decimal* out) {
  std::string s = trimmed(text);
  Decimal d;
  size_t i = 0;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) d.negative = s[i++] == '-';
  bool any = false, point = false;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c >= '0' && c <= '9') {
      d.digits += c;
      any = true;
      if (point) ++d.scale;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  if (!any) return false;
  size_t nz = d.digits.find_first_not_of('0');
  d.digits = nz == std::string::npos ? "0" : d.digits.substr(nz);
  if (d.digits.size() < static_cast<size_t>(d.scale) + 1)
    d.digits.insert(0, static_cast<size_t>(d.scale) + 1 - d.digits.size(), '0');
  *out = d;
  return true;
}

// The value scaled to `scale` places, rounded half away from zero, as an
// unsigned magnitude; false past 128 bits.
bool scaledMagnitude(const Decimal& d, int scale, unsigned __int128* out) {
  std::string digits = d.digits;
  int have = d.scale;
  bool roundUp = false;
  if (have > scale) {
    const size_t keep = digits.size() - static_cast<size_t>(have - scale);
    roundUp = digits[keep] >= '5';
    digits.resize(keep);
  } else {
    digits.append(static_cast<size_t>(scale - have), '0');
  }
  unsigned __int128 v = 0;
  const unsigned __int128 limit = ~static_cast<unsigned __int128>(0) / 10;
  for (char c : digits) {
    if (v > limit) return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  if (roundUp) ++v;
  *out = v;
  return true;
}

bool toDecimal(const Value& v, Decimal* d) {
  switch (v.kind()) {
    case Value::Kind::Int: {
      const int64_t i = v.asInt();
      d->negative = i < 0;
      const uint64_t m = i < 0 ? ~static_cast<uint64_t>(i) + 1 : static_cast<uint64_t>(i);
      d->digits = std::to_string(m);
      d->scale = 0;
      return true;
    }
    case Value::Kind::Bool:
      return toDecimal(Value::fromInt(v.asBool() ? -1 : 0), d);
    case Value::Kind::Real: {
      if (!std::isfinite(v.asReal())) return false;
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.17g", v.asReal());
      // Shortest form that reads back as the same double.
      for (int p = 1; p <= 17; ++p) {
        std::snprintf(buf, sizeof buf, "%.*g", p, v.asReal());
        if (std::strtod(buf, nullptr) == v.asReal()) break;
      }
      if (std::strchr(buf, 'e')) std::snprintf(buf, sizeof buf, "%.20f", v.asReal());
      return parseDecimal(buf, d);
    }
    case Value::Kind::Decimal:
      return parseDecimal(v.str(), d);
    case Value::Kind::Text: {
      if (parseDecimal(v.str(), d)) return true;
      char* end = nullptr;
      const std::string t = trimmed(v.str());
      errno = 0;
      const double r = std::strtod(t.c_str(), &end);
      if (t.empty() || *end != '\0' || errno != 0) return false;
      return toDecimal(Value::fromReal(r), d);
    }
    default:
      return false;
  }
}

bool toReal(const Value& v, double* out) {
  switch (v.kind()) {
    case Value::Kind::Int: *out = static_cast<double>(v.asInt()); return true;
    case Value::Kind::Bool: *out = v.asBool() ? -1 : 0; return true;
    case Value::Kind::Real: *out = v.asReal(); return true;
    case Value::Kind::Decimal:
    case Value::Kind::Text: {
      const std::string t = trimmed(v.str());
      char* end = nullptr;
      errno = 0;
      *out = std::strtod(t.c_str(), &end);
      return !t.empty() && *end == '\0' && errno != ERANGE && std::isfinite(*out);
    }
    default:
      return false;
  }
}

// Whole numbers: reals and decimals round half to even, as the engine does.
bool toInteger(const Value& v, int64_t* out) {
  if (v.kind() == Value::Kind::Int) {
    *out = v.asInt();
    return true;
  }
  if (v.kind() == Value::Kind::Bool) {
    *out = v.asBool() ? -1 : 0;
    return true;
  }
  Decimal d;
  if (!toDecimal(v, &d)) return false;
  const size_t intLen = d.digits.size() - static_cast<size_t>(d.scale);
  if (intLen > 19) return false;
  unsigned __int128 m = 0;
  for (size_t i = 0; i < intLen; ++i) m = m * 10 + static_cast<unsigned>(d.digits[i] - '0');
  const std::string frac = d.digits.substr(intLen);
  if (!frac.empty()) {
    const bool half = frac[0] == '5' && frac.find_first_not_of('0', 1) == std::string::npos;
    if (frac[0] > '5' || (frac[0] == '5' && !half) || (half && (m & 1))) ++m;
  }
  if (m > static_cast<unsigned __int128>(INT64_MAX) + (d.negative ? 1 : 0)) return false;
  *out = d.negative ? -static_cast<int64_t>(m - 1) - 1 : static_cast<int64_t>(m);
  if (m == 0) *out = 0;
  return true;
}

bool toDateTime(const Value& v, DateTime* out) {
  if (v.kind() == Value::Kind::DateTime) {
    *out = v.asDateTime();
    return validDate(*out);
  }
  if (v.kind() == Value::Kind::Text) return DateTime::parse(trimmed(v.str()), out) && validDate(*out);
  return false;
}

bool textOf(const Value& v, std::string* out) {
  switch (v.kind()) {
    case Value::Kind::Text:
    case Value::Kind::Decimal:
      *out = v.str();
      return true;
    case Value::Kind::Int:
    case Value::Kind::Real:
    case Value::Kind::DateTime:
      *out = v.toText();
      return true;
    case Value::Kind::Bool:
      *out = v.asBool() ? "-1" : "0";
      return true;
    default:
      return false;
  }
}

bool parseGuid(const std::string& text, std::string* out) {
  std::string hex;
  for (char c : trimmed(text)) {
    if (c == '{' || c == '}' || c == '-') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    hex += c;
  }
  if (hex.size() != 32) return false;
  uint8_t b[16];
  for (int i = 0; i < 16; ++i) b[i] = static_cast<uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
  // The first three groups are stored little-endian.
  static const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  out->assign(16, '\0');
  for (int i = 0; i < 16; ++i) (*out)[static_cast<size_t>(order[i])] = static_cast<char>(b[i]);
  return true;
}

void putLe(std::string* out, uint64_t v, int bytes) {
  out->resize(static_cast<size_t>(bytes));
  for (int i = 0; i < bytes; ++i) (*out)[static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
}

const char* kNotANumber = "不是数字";
const char* kOutOfRange = "超出该列数值类型的范围";

}  // namespace

double dateToDays(const DateTime& d) {
  const int64_t days = daysFromCivil(d.year, static_cast<unsigned>(d.month), static_cast<unsigned>(d.day)) + 25569;
  const double time = (d.hour * 3600.0 + d.minute * 60.0 + d.second + d.nanosecond / 1e9) / 86400.0;
  // Before 1899-12-30 the whole part counts back and the fraction forward.
  return days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
}

bool encodeText(const std::string& utf8, bool compress, std::string* out, size_t* chars) {
  // Reused: this runs for every text of every row.
  thread_local std::u16string units;
  units.clear();
  if (!utf16FromUtf8(utf8, &units)) return false;
  *chars = units.size();
  bool oneByte = compress && units.size() > 2;
  for (char16_t u : units)
    if (u == 0 || u > 0xFF) oneByte = false;
  out->clear();
  if (oneByte) {
    out->reserve(units.size() + 2);
    out->push_back('\xFF');
    out->push_back('\xFE');
    for (char16_t u : units) out->push_back(static_cast<char>(u));
    return true;
  }
  out->resize(units.size() * 2);
  for (size_t i = 0; i < units.size(); ++i) {
    (*out)[2 * i] = static_cast<char>(units[i] & 0xFF);
    (*out)[2 * i + 1] = static_cast<char>(units[i] >> 8);
  }
  return true;
}

bool encodeValue(const Column& c, const Value& v, std::string* out, std::string* why) {
  const Value::Kind k = v.kind();
  auto fail = [&](const std::string& s) {
    *why = s;
    return false;
  };
  switch (c.type) {
    case kColBool: {
      if (k == Value::Kind::Bool || k == Value::Kind::Int || k == Value::Kind::Real ||
          k == Value::Kind::Decimal) {
        double r = 0;
        toReal(v, &r);
        *out = std::string(1, r != 0 ? '\1' : '\0');
        return true;
      }
      if (k == Value::Kind::Text) {
        std::string t = trimmed(v.str());
        for (char& ch : t) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        double r = 0;
        if (t == "true" || t == "yes" || t == "on") *out = "\1";
        else if (t == "false" || t == "no" || t == "off") *out = std::string(1, '\0');
        else if (toReal(v, &r)) *out = std::string(1, r != 0 ? '\1' : '\0');
        else return fail("不是“是/否”值");
        return true;
      }
      return fail("不是“是/否”值");
    }
    case kColByte:
    case kColInt:
    case kColLong:
    case kColBigInt: {
      int64_t i = 0;
      if (!toInteger(v, &i)) return fail(k == Value::Kind::Text ? kNotANumber : kOutOfRange);
      const int bytes = c.type == kColByte ? 1 : c.type == kColInt ? 2 : c.type == kColLong ? 4 : 8;
      const int64_t lo = c.type == kColByte ? 0 : bytes == 8 ? INT64_MIN : -(int64_t{1} << (8 * bytes - 1));
      const int64_t hi = c.type == kColByte ? 255 : bytes == 8 ? INT64_MAX : (int64_t{1} << (8 * bytes - 1)) - 1;
      if (i < lo || i > hi) return fail(kOutOfRange);
      putLe(out, static_cast<uint64_t>(i), bytes);
      return true;
    }
    case kColMoney: {
      Decimal d;
      unsigned __int128 m = 0;
      if (!toDecimal(v, &d)) return fail(kNotANumber);
      if (!scaledMagnitude(d, 4, &m) || m > static_cast<unsigned __int128>(INT64_MAX))
        return fail(kOutOfRange);
      const int64_t s = d.negative ? -static_cast<int64_t>(m) : static_cast<int64_t>(m);
      putLe(out, static_cast<uint64_t>(s), 8);
      return true;
    }
    case kColFloat:
    case kColDouble: {
      double r = 0;
      if (!toReal(v, &r)) return fail(kNotANumber);
      if (c.type == kColFloat) {
        if (std::fabs(r) > 3.4028234663852886e38) return fail(kOutOfRange);
        const float f = static_cast<float>(r);
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        putLe(out, bits, 4);
      } else {
        uint64_t bits;
        std::memcpy(&bits, &r, 8);
        putLe(out, bits, 8);
      }
      return true;
    }
    case kColDateTime: {
      DateTime d;
      double r = 0;
      if (toDateTime(v, &d)) {
        r = dateToDays(d);
      } else if (k == Value::Kind::Int || k == Value::Kind::Real || k == Value::Kind::Decimal) {
        // A number is a date as its count of days.
        if (!toReal(v, &r) || r < -657434.0 || r >= 2958466.0) return fail("超出日期范围");
      } else {
        return fail("不是日期时间（应为 yyyy-mm-dd hh:mm:ss 这样的写法）");
      }
      uint64_t bits;
      std::memcpy(&bits, &r, 8);
      putLe(out, bits, 8);
      return true;
    }
    case kColExtDate: {
      DateTime d;
      if (!toDateTime(v, &d)) return fail("不是日期时间（应为 yyyy-mm-dd hh:mm:ss 这样的写法）");
      const int64_t days = daysFromCivil(d.year, static_cast<unsigned>(d.month), static_cast<unsigned>(d.day)) + 719162;
      const int64_t ticks = (d.hour * 3600LL + d.minute * 60LL + d.second) * 10000000LL + d.nanosecond / 100;
      char buf[64];
      std::snprintf(buf, sizeof buf, "%019lld:%019lld:7", static_cast<long long>(days),
                    static_cast<long long>(ticks));
      out->assign(buf);
      out->push_back('\0');
      if (out->size() != c.length) return fail("扩展日期列的长度与预期不符");
      return true;
    }
    case kColNumeric: {
      Decimal d;
      unsigned __int128 m = 0;
      if (!toDecimal(v, &d)) return fail(kNotANumber);
      if (!scaledMagnitude(d, c.scale(), &m)) return fail(kOutOfRange);
      unsigned __int128 limit = 1;
      for (int i = 0; i < c.precision(); ++i) limit *= 10;
      if (m >= limit) return fail("超出该列的精度");
      out->assign(17, '\0');
      (*out)[0] = static_cast<char>(d.negative && m != 0 ? 0x80 : 0);
      for (int w = 0; w < 4; ++w) {
        const uint32_t word = static_cast<uint32_t>(m >> (32 * (3 - w)));
        put32(reinterpret_cast<uint8_t*>(&(*out)[static_cast<size_t>(1 + 4 * w)]), word);
      }
      return true;
    }
    case kColGuid: {
      if (k == Value::Kind::Bytes && v.str().size() == 16) {
        *out = v.str();
        return true;
      }
      if (k == Value::Kind::Text && parseGuid(v.str(), out)) return true;
      return fail("不是 GUID（应为 {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}）");
    }
    case kColText:
    case kColMemo: {
      std::string converted;
      if (k != Value::Kind::Text && !textOf(v, &converted)) return fail("二进制数据不能写入文本列");
      size_t chars = 0;
      if (!encodeText(k == Value::Kind::Text ? v.str() : converted,
                      c.type == kColText && c.compressed(), out, &chars))
        return fail("不是有效的 UTF-8 文本");
      if (c.type == kColText && chars > c.length / 2u)
        return fail("有 " + std::to_string(chars) + " 个字符，超过该列的长度 " +
                    std::to_string(c.length / 2));
      return true;
    }
    case kColBinary:
    case kColOle: {
      if (k != Value::Kind::Bytes) return fail("不是二进制数据");
      if (c.type == kColBinary && v.str().size() > c.length)
        return fail("有 " + std::to_string(v.str().size()) + " 字节，超过该列的长度 " +
                    std::to_string(c.length));
      *out = v.str();
      return true;
    }
    default:
      return fail("是本程序不能写入的列类型（" + std::to_string(c.type) + "）");
  }
}

}  // namespace vov::access
