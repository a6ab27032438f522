// Value and DateTime: construction, text forms and comparison.
#include "data/value.h"

#include <charconv>
#include <cstdio>
#include <cstring>

namespace vov {

std::string DateTime::toText() const {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", year, month,
                day, hour, minute, second);
  std::string s = buf;
  if (nanosecond != 0) {
    std::snprintf(buf, sizeof buf, ".%09d", nanosecond);
    std::string frac = buf;
    while (frac.back() == '0') frac.pop_back();
    s += frac;
  }
  return s;
}

static bool readInt(const std::string& s, size_t& pos, size_t n, int* out) {
  if (pos + n > s.size()) return false;
  int v = 0;
  for (size_t i = 0; i < n; ++i) {
    char c = s[pos + i];
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  pos += n;
  *out = v;
  return true;
}

bool DateTime::parse(const std::string& text, DateTime* out) {
  DateTime d;
  d.year = 0; d.month = 0; d.day = 0;
  size_t p = 0;
  if (!readInt(text, p, 4, &d.year) || p >= text.size() || text[p++] != '-' ||
      !readInt(text, p, 2, &d.month) || p >= text.size() || text[p++] != '-' ||
      !readInt(text, p, 2, &d.day))
    return false;
  if (p < text.size()) {
    if (text[p] != ' ' && text[p] != 'T') return false;
    ++p;
    if (!readInt(text, p, 2, &d.hour) || p >= text.size() || text[p++] != ':' ||
        !readInt(text, p, 2, &d.minute))
      return false;
    if (p < text.size() && text[p] == ':') {
      ++p;
      if (!readInt(text, p, 2, &d.second)) return false;
      if (p < text.size() && text[p] == '.') {
        ++p;
        int scale = 100000000, nano = 0;
        size_t digits = 0;
        while (p < text.size() && text[p] >= '0' && text[p] <= '9') {
          nano += (text[p] - '0') * scale;
          scale /= 10;
          ++p;
          ++digits;
        }
        if (digits == 0) return false;
        d.nanosecond = nano;
      }
    }
    if (p != text.size()) return false;
  }
  if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > 31 || d.hour > 23 ||
      d.minute > 59 || d.second > 59)
    return false;
  *out = d;
  return true;
}

bool DateTime::operator==(const DateTime& o) const {
  return year == o.year && month == o.month && day == o.day && hour == o.hour &&
         minute == o.minute && second == o.second &&
         nanosecond == o.nanosecond;
}

Value Value::fromBool(bool b) {
  Value v;
  v.kind_ = Kind::Bool;
  v.int_ = b ? 1 : 0;
  return v;
}

Value Value::fromInt(int64_t i) {
  Value v;
  v.kind_ = Kind::Int;
  v.int_ = i;
  return v;
}

Value Value::fromReal(double d) {
  Value v;
  v.kind_ = Kind::Real;
  v.real_ = d;
  return v;
}

Value Value::fromDecimal(std::string digits) {
  Value v;
  v.kind_ = Kind::Decimal;
  v.str_ = std::move(digits);
  return v;
}

Value Value::fromText(std::string utf8) {
  Value v;
  v.kind_ = Kind::Text;
  v.str_ = std::move(utf8);
  return v;
}

Value Value::fromBytes(std::string bytes) {
  Value v;
  v.kind_ = Kind::Bytes;
  v.str_ = std::move(bytes);
  return v;
}

Value Value::fromDateTime(const DateTime& dt) {
  Value v;
  v.kind_ = Kind::DateTime;
  v.dt_ = dt;
  return v;
}

std::string Value::toText() const {
  switch (kind_) {
    case Kind::Null:
      return std::string();
    case Kind::Bool:
      return int_ ? "1" : "0";
    case Kind::Int:
      return std::to_string(int_);
    case Kind::Real: {
      char buf[64];
      auto r = std::to_chars(buf, buf + sizeof buf, real_);
      return std::string(buf, r.ptr);
    }
    case Kind::Decimal:
    case Kind::Text:
    case Kind::Bytes:
      return str_;
    case Kind::DateTime:
      return dt_.toText();
  }
  return std::string();
}

bool Value::operator==(const Value& o) const {
  if (kind_ != o.kind_) return false;
  switch (kind_) {
    case Kind::Null:
      return true;
    case Kind::Bool:
    case Kind::Int:
      return int_ == o.int_;
    case Kind::Real:
      return real_ == o.real_ || (real_ != real_ && o.real_ != o.real_);
    case Kind::Decimal:
    case Kind::Text:
    case Kind::Bytes:
      return str_ == o.str_;
    case Kind::DateTime:
      return dt_ == o.dt_;
  }
  return false;
}

const char* kindName(Value::Kind k) {
  switch (k) {
    case Value::Kind::Null: return "Null";
    case Value::Kind::Bool: return "Boolean";
    case Value::Kind::Int: return "Int64";
    case Value::Kind::Real: return "Double";
    case Value::Kind::Decimal: return "Decimal";
    case Value::Kind::Text: return "String";
    case Value::Kind::Bytes: return "Array of Byte";
    case Value::Kind::DateTime: return "Date";
  }
  return "Unknown";
}

}  // namespace vov
