// Statement rewriting, type mapping and value text forms for PostgreSQL.
#include "data/postgres/pg_text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "data/text_util.h"

namespace vov::pg {

std::string quoteIdent(const std::string& name) { return doubleQuotedName(name); }

static bool isIdentStart(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c >= 0x80;
}

static bool isIdentChar(unsigned char c) {
  return isIdentStart(c) || (c >= '0' && c <= '9') || c == '$';
}

// Length of the quoted or commented stretch starting at `i`, or 0 when none
// starts there.
static size_t skipQuoted(const std::string& s, size_t i) {
  const size_t n = s.size();
  const char c = s[i];
  if (c == '\'') {
    // E'...' strings take backslash escapes.
    bool escapes = i > 0 && (s[i - 1] == 'E' || s[i - 1] == 'e') &&
                   (i < 2 || !isIdentChar(static_cast<unsigned char>(s[i - 2])));
    size_t j = i + 1;
    while (j < n) {
      if (escapes && s[j] == '\\') {
        j += 2;
      } else if (s[j] == '\'') {
        if (j + 1 < n && s[j + 1] == '\'') j += 2;
        else return j + 1 - i;
      } else {
        ++j;
      }
    }
    return n - i;
  }
  if (c == '"') {
    size_t end = s.find('"', i + 1);
    return (end == std::string::npos ? n : end + 1) - i;
  }
  if (c == '-' && i + 1 < n && s[i + 1] == '-') {
    size_t end = s.find('\n', i);
    return (end == std::string::npos ? n : end) - i;
  }
  if (c == '/' && i + 1 < n && s[i + 1] == '*') {
    int depth = 0;
    size_t j = i;
    while (j < n) {
      if (s.compare(j, 2, "/*") == 0) {
        ++depth;
        j += 2;
      } else if (s.compare(j, 2, "*/") == 0) {
        j += 2;
        if (--depth == 0) break;
      } else {
        ++j;
      }
    }
    return j - i;
  }
  if (c == '$' && (i == 0 || !isIdentChar(static_cast<unsigned char>(s[i - 1])))) {
    size_t j = i + 1;
    if (j < n && isIdentStart(static_cast<unsigned char>(s[j])))
      while (j < n && isIdentChar(static_cast<unsigned char>(s[j])) && s[j] != '$') ++j;
    if (j >= n || s[j] != '$') return 0;  // "$1" and the like
    const std::string tag = s.substr(i, j + 1 - i);
    size_t end = s.find(tag, j + 1);
    return (end == std::string::npos ? n : end + tag.size()) - i;
  }
  return 0;
}

std::string numberPlaceholders(const std::string& sql, int* count) {
  std::string out;
  out.reserve(sql.size() + 16);
  int n = 0;
  for (size_t i = 0; i < sql.size();) {
    size_t skip = skipQuoted(sql, i);
    if (skip > 0) {
      out.append(sql, i, skip);
      i += skip;
    } else if (sql[i] == '?') {
      out += '$';
      out += std::to_string(++n);
      ++i;
    } else {
      out += sql[i++];
    }
  }
  *count = n;
  return out;
}

bool isIntegerType(unsigned type) { return type == kInt2 || type == kInt4 || type == kInt8; }

FieldInfo fieldInfoFor(const std::string& name, unsigned type, int typmod, bool autoInc) {
  FieldInfo f;
  f.name = name;
  if (autoInc && isIntegerType(type)) {
    f.type = ftAutoInc;
    return f;
  }
  switch (type) {
    case kBool: f.type = ftBoolean; break;
    case kBytea: f.type = ftBlob; break;
    case kChar: f.type = ftFixedChar; f.size = 1; break;
    case kName: f.type = ftString; f.size = 63; break;
    case kInt2: f.type = ftSmallint; break;
    case kInt4: f.type = ftInteger; break;
    case kInt8:
    case kOid: f.type = ftLargeint; break;
    case kText:
    case kJson:
    case kJsonb:
    case kXml: f.type = ftMemo; break;
    case kFloat4:
    case kFloat8: f.type = ftFloat; break;
    case kMoney: f.type = ftCurrency; f.size = 4; break;
    case kBpchar:
      f.type = ftFixedChar;
      f.size = typmod >= 4 ? typmod - 4 : 0;
      break;
    case kVarchar:
      // An unbounded varchar holds what text holds.
      if (typmod >= 4) {
        f.type = ftString;
        f.size = typmod - 4;
      } else {
        f.type = ftMemo;
      }
      break;
    case kDate: f.type = ftDate; break;
    case kTime:
    case kTimetz: f.type = ftTime; break;
    case kTimestamp:
    case kTimestamptz: f.type = ftDateTime; break;
    case kNumeric:
      f.type = ftBCD;
      if (typmod >= 4) {
        // The scale is the low 11 bits, signed since version 15.
        int scale = (((typmod - 4) & 0x7ff) ^ 0x400) - 0x400;
        f.size = scale > 0 ? scale : 0;
      }
      break;
    case kUuid: f.type = ftGuid; f.size = 38; break;
    default: f.type = ftString; break;
  }
  return f;
}

static int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A time of day "hh:mm:ss[.f]" with an optional zone, on the day the
// program's dates count from, as time-only values always were.
static bool timeOfDay(std::string t, DateTime* out) {
  size_t zone = t.find_first_of("+-");
  if (zone != std::string::npos) t.resize(zone);
  return DateTime::parse("1899-12-30 " + t, out);
}

Value valueFromText(unsigned type, const char* text, int length) {
  const char* end = text + length;
  switch (type) {
    case kBool:
      return Value::fromBool(length > 0 && text[0] == 't');
    case kInt2:
    case kInt4:
    case kInt8:
    case kOid: {
      int64_t v = 0;
      auto r = std::from_chars(text, end, v);
      if (r.ec == std::errc() && r.ptr == end) return Value::fromInt(v);
      break;
    }
    case kFloat4:
    case kFloat8:
      return Value::fromReal(std::strtod(text, nullptr));
    case kNumeric:
      if (length > 0 && (text[length - 1] == 'N' || text[length - 1] == 'y'))  // NaN, Infinity
        return Value::fromReal(std::strtod(text, nullptr));
      return Value::fromDecimal(std::string(text, static_cast<size_t>(length)));
    case kMoney: {
      // The session shows money in the C locale: "-$1,234.56".
      std::string digits;
      for (const char* p = text; p < end; ++p)
        if ((*p >= '0' && *p <= '9') || *p == '-' || *p == '.') digits += *p;
      return Value::fromDecimal(digits);
    }
    case kDate:
    case kTimestamp: {
      DateTime dt;
      if (DateTime::parse(std::string(text, static_cast<size_t>(length)), &dt))
        return Value::fromDateTime(dt);
      break;  // infinity, BC dates and years past 9999 stay text
    }
    case kTimestamptz: {
      std::string t(text, static_cast<size_t>(length));
      size_t zone = t.find_first_of("+-", 19);
      if (zone != std::string::npos) t.resize(zone);
      DateTime dt;
      if (DateTime::parse(t, &dt)) return Value::fromDateTime(dt);
      break;
    }
    case kTime:
    case kTimetz: {
      DateTime dt;
      if (timeOfDay(std::string(text, static_cast<size_t>(length)), &dt))
        return Value::fromDateTime(dt);
      break;
    }
    case kBytea:
      if (length >= 2 && text[0] == '\\' && text[1] == 'x' && length % 2 == 0) {
        std::string bytes;
        bytes.resize(static_cast<size_t>(length - 2) / 2);
        for (size_t k = 0; k < bytes.size(); ++k) {
          int hi = hexDigit(text[2 + 2 * k]), lo = hexDigit(text[3 + 2 * k]);
          if (hi < 0 || lo < 0) return Value::fromText(std::string(text, static_cast<size_t>(length)));
          bytes[k] = static_cast<char>(hi * 16 + lo);
        }
        return Value::fromBytes(std::move(bytes));
      }
      break;
    default:
      break;
  }
  return Value::fromText(std::string(text, static_cast<size_t>(length)));
}

bool appendParamText(const Value& v, std::string& out) {
  char buf[64];
  switch (v.kind()) {
    case Value::Kind::Null:
      return true;
    case Value::Kind::Bool:
      out += v.asBool() ? '1' : '0';
      return true;
    case Value::Kind::Int: {
      auto r = std::to_chars(buf, buf + sizeof buf, v.asInt());
      out.append(buf, r.ptr);
      return true;
    }
    case Value::Kind::Real: {
      double d = v.asReal();
      if (std::isnan(d)) {
        out += "NaN";
      } else if (std::isinf(d)) {
        out += d > 0 ? "Infinity" : "-Infinity";
      } else {
        auto r = std::to_chars(buf, buf + sizeof buf, d);
        out.append(buf, r.ptr);
      }
      return true;
    }
    case Value::Kind::Decimal:
    case Value::Kind::Text:
    case Value::Kind::Bytes:
      if (std::memchr(v.str().data(), '\0', v.str().size())) return false;
      out += v.str();
      return true;
    case Value::Kind::DateTime:
      out += v.asDateTime().toText();
      return true;
  }
  return true;
}

}  // namespace vov::pg
