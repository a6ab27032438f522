// COPY rows in the binary and the text form, and the inserts they replace.
#include "data/postgres/pg_copy.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>

#include "data/postgres/pg_text.h"

namespace vov::pg {

// ------------------------------------------------------------ the insert

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

bool isIdentStart(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c >= 0x80;
}

bool isIdentChar(unsigned char c) { return isIdentStart(c) || (c >= '0' && c <= '9') || c == '$'; }

class Scanner {
 public:
  explicit Scanner(const std::string& s) : s_(s) {}

  void skipSpace() {
    while (i_ < s_.size() && isSpace(s_[i_])) ++i_;
  }
  bool atEnd() {
    skipSpace();
    return i_ == s_.size();
  }
  bool punct(char c) {
    skipSpace();
    if (i_ < s_.size() && s_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }
  bool keyword(const char* word) {
    skipSpace();
    const size_t n = std::strlen(word);
    if (i_ + n > s_.size()) return false;
    for (size_t k = 0; k < n; ++k)
      if ((s_[i_ + k] | 0x20) != word[k]) return false;
    if (i_ + n < s_.size() && isIdentChar(static_cast<unsigned char>(s_[i_ + n]))) return false;
    i_ += n;
    return true;
  }
  // One identifier, quoted or not, as written.
  bool ident(std::string* out) {
    skipSpace();
    const size_t start = i_;
    if (i_ < s_.size() && s_[i_] == '"') {
      for (++i_; i_ < s_.size(); ++i_) {
        if (s_[i_] != '"') continue;
        if (i_ + 1 < s_.size() && s_[i_ + 1] == '"') {
          ++i_;
          continue;
        }
        ++i_;
        *out = s_.substr(start, i_ - start);
        return i_ - start > 2;
      }
      return false;
    }
    if (i_ >= s_.size() || !isIdentStart(static_cast<unsigned char>(s_[i_]))) return false;
    while (i_ < s_.size() && isIdentChar(static_cast<unsigned char>(s_[i_]))) ++i_;
    *out = s_.substr(start, i_ - start);
    return true;
  }
  bool placeholder(int want) {
    skipSpace();
    const std::string p = "$" + std::to_string(want);
    if (s_.compare(i_, p.size(), p) != 0) return false;
    if (i_ + p.size() < s_.size() && s_[i_ + p.size()] >= '0' && s_[i_ + p.size()] <= '9') return false;
    i_ += p.size();
    return true;
  }
  size_t pos() const { return i_; }
  const std::string& text() const { return s_; }

 private:
  const std::string& s_;
  size_t i_ = 0;
};

}  // namespace

bool parsePlainInsert(const std::string& sql, int params, PlainInsert* out) {
  Scanner s(sql);
  if (params < 1 || !s.keyword("insert") || !s.keyword("into")) return false;
  std::string part;
  s.skipSpace();
  const size_t tableStart = s.pos();
  if (!s.ident(&part)) return false;
  size_t tableEnd = s.pos();
  while (s.punct('.')) {
    if (!s.ident(&part)) return false;
    tableEnd = s.pos();
  }
  PlainInsert result;
  result.table = sql.substr(tableStart, tableEnd - tableStart);
  if (s.punct('(')) {
    do {
      if (!s.ident(&part)) return false;
      result.columns.push_back(part);
    } while (s.punct(','));
    if (!s.punct(')') || static_cast<int>(result.columns.size()) != params) return false;
  }
  if (!s.keyword("values") || !s.punct('(')) return false;
  for (int p = 1; p <= params; ++p)
    if ((p > 1 && !s.punct(',')) || !s.placeholder(p)) return false;
  if (!s.punct(')')) return false;
  s.punct(';');
  if (!s.atEnd()) return false;
  *out = std::move(result);
  return true;
}

std::string identName(const std::string& written) {
  if (written.size() >= 2 && written.front() == '"') {
    std::string name;
    for (size_t i = 1; i + 1 < written.size(); ++i) {
      name += written[i];
      if (written[i] == '"') ++i;
    }
    return name;
  }
  std::string name = written;
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return name;
}

// ------------------------------------------------------- value parsing
//
// Each reader accepts a strict subset of what the server's input function
// for the type accepts, and yields the value that function would.

namespace {

void put16(std::string& out, uint16_t v) {
  out += static_cast<char>(v >> 8);
  out += static_cast<char>(v);
}

void put32(std::string& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out += static_cast<char>(v >> s);
}

void put64(std::string& out, uint64_t v) {
  for (int s = 56; s >= 0; s -= 8) out += static_cast<char>(v >> s);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// -?[0-9]+ within [lo, hi].
bool readInteger(std::string_view t, int64_t lo, int64_t hi, int64_t* v) {
  const char* b = t.data();
  const char* e = b + t.size();
  if (b == e || (*b != '-' && !isDigit(*b)) || (*b == '-' && (t.size() < 2 || !isDigit(b[1]))))
    return false;
  auto r = std::from_chars(b, e, *v);
  return r.ec == std::errc() && r.ptr == e && *v >= lo && *v <= hi;
}

// A plain numeral: -?[0-9]+(\.[0-9]+)?([eE][-+]?[0-9]+)?
struct Numeral {
  bool negative = false;
  std::string digits;  // integer and fraction digits together
  int fraction = 0;    // how many of them follow the point
  int exponent = 0;
};

bool readNumeral(std::string_view t, Numeral* n) {
  size_t i = 0;
  if (i < t.size() && t[i] == '-') {
    n->negative = true;
    ++i;
  }
  const size_t intStart = i;
  while (i < t.size() && isDigit(t[i])) n->digits += t[i++];
  if (i == intStart) return false;
  if (i < t.size() && t[i] == '.') {
    const size_t fracStart = ++i;
    while (i < t.size() && isDigit(t[i])) n->digits += t[i++];
    if (i == fracStart) return false;
    n->fraction = static_cast<int>(i - fracStart);
  }
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    bool minus = false;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) minus = t[i++] == '-';
    const size_t expStart = i;
    int e = 0;
    while (i < t.size() && isDigit(t[i])) {
      e = e * 10 + (t[i++] - '0');
      if (e > 1000) return false;  // the server's own limit
    }
    if (i == expStart) return false;
    n->exponent = minus ? -e : e;
  }
  return i == t.size() && n->digits.size() <= 1000;
}

// numeric's binary form: base-10000 digits around the decimal point.
bool numericBinary(std::string_view t, std::string& out) {
  if (t == "NaN") {
    put16(out, 0);
    put16(out, 0);
    put16(out, 0xC000);
    put16(out, 0);
    return true;
  }
  Numeral n;
  if (!readNumeral(t, &n)) return false;
  const int dscale = std::max(0, n.fraction - n.exponent);
  // Digits before the point, counted in `digits`.
  int point = static_cast<int>(n.digits.size()) - n.fraction + n.exponent;
  size_t lead = 0;
  while (lead < n.digits.size() && n.digits[lead] == '0') ++lead;
  std::string d = n.digits.substr(lead);
  point -= static_cast<int>(lead);
  while (!d.empty() && d.back() == '0') d.pop_back();
  if (d.empty()) {
    put16(out, 0);
    put16(out, 0);
    put16(out, 0);
    put16(out, static_cast<uint16_t>(dscale));
    return true;
  }
  const int pad = ((4 - point % 4) % 4 + 4) % 4;
  d.insert(0, static_cast<size_t>(pad), '0');
  point += pad;
  while (d.size() % 4) d += '0';
  const int weight = point / 4 - 1;
  put16(out, static_cast<uint16_t>(d.size() / 4));
  put16(out, static_cast<uint16_t>(static_cast<int16_t>(weight)));
  put16(out, n.negative ? 0x4000 : 0);
  put16(out, static_cast<uint16_t>(dscale));
  for (size_t k = 0; k < d.size(); k += 4)
    put16(out, static_cast<uint16_t>((d[k] - '0') * 1000 + (d[k + 1] - '0') * 100 +
                                     (d[k + 2] - '0') * 10 + (d[k + 3] - '0')));
  return true;
}

template <class F>
bool readFloat(std::string_view t, F* v) {
  if (t == "NaN" || t == "Infinity" || t == "-Infinity") {
    *v = t == "NaN" ? std::numeric_limits<F>::quiet_NaN()
                    : (t[0] == '-' ? -1 : 1) * std::numeric_limits<F>::infinity();
    return true;
  }
  Numeral n;
  if (!readNumeral(t, &n)) return false;
  auto r = std::from_chars(t.data(), t.data() + t.size(), *v, std::chars_format::general);
  if (r.ec != std::errc() || r.ptr != t.data() + t.size()) return false;
  // Out of range, to infinity or to zero, the server refuses; that is left
  // to the text form and the server's own words.
  if (std::isinf(*v)) return false;
  return *v != 0 || n.digits.find_first_not_of('0') == std::string::npos;
}

int64_t daysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// Days from 1970-01-01 to the server's day 0, 2000-01-01.
constexpr int64_t kServerEpochDays = 10957;

int fixedDigits(std::string_view t, size_t at, size_t n) {
  int v = 0;
  for (size_t k = 0; k < n; ++k) {
    if (at + k >= t.size() || !isDigit(t[at + k])) return -1;
    v = v * 10 + (t[at + k] - '0');
  }
  return v;
}

bool validDate(int y, int m, int d) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= days[m - 1] + (m == 2 && leap);
}

// "yyyy-mm-dd" at the start of `t`: days from the server's day 0.
bool readDate(std::string_view t, int64_t* days) {
  if (t.size() < 10 || t[4] != '-' || t[7] != '-') return false;
  const int y = fixedDigits(t, 0, 4), m = fixedDigits(t, 5, 2), d = fixedDigits(t, 8, 2);
  if (!validDate(y, m, d)) return false;
  *days = daysFromCivil(y, m, d) - kServerEpochDays;
  return true;
}

// "hh:mm:ss" with up to six fraction digits, from `at` to the end.
bool readClock(std::string_view t, size_t at, int64_t* micros) {
  if (t.size() < at + 8 || t[at + 2] != ':' || t[at + 5] != ':') return false;
  const int h = fixedDigits(t, at, 2), mi = fixedDigits(t, at + 3, 2), s = fixedDigits(t, at + 6, 2);
  if (h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59) return false;
  int64_t us = 0;
  size_t i = at + 8;
  if (i < t.size()) {
    if (t[i] != '.') return false;
    const size_t n = t.size() - i - 1;
    if (n < 1 || n > 6) return false;
    int f = fixedDigits(t, i + 1, n);
    if (f < 0) return false;
    us = f;
    for (size_t k = n; k < 6; ++k) us *= 10;
  }
  *micros = ((h * 60 + mi) * 60 + s) * int64_t(1000000) + us;
  return true;
}

// "yyyy-mm-dd" or "yyyy-mm-dd hh:mm:ss[.ffffff]".
bool readTimestamp(std::string_view t, int64_t* days, int64_t* micros) {
  if (!readDate(t, days)) return false;
  *micros = 0;
  if (t.size() == 10) return true;
  return t[10] == ' ' && readClock(t, 11, micros);
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 8-4-4-4-12 hex digits, optionally in braces.
bool readUuid(std::string_view t, std::string& out) {
  size_t i = 0, end = t.size();
  if (end == 38 && t.front() == '{' && t.back() == '}') {
    i = 1;
    --end;
  }
  if (end - i != 36) return false;
  const size_t start = out.size();
  for (size_t k = 0; i < end;) {
    if (k == 8 || k == 12 || k == 16 || k == 20) {
      if (t[i] != '-') break;
      ++i;
    }
    int hi = hexValue(t[i]), lo = i + 1 < end ? hexValue(t[i + 1]) : -1;
    if (hi < 0 || lo < 0) break;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
    k += 2;
  }
  if (out.size() - start == 16 && i == end) return true;
  out.resize(start);
  return false;
}

}  // namespace

// ------------------------------------------------------------- the rows

namespace {

bool hasBinaryForm(unsigned type) {
  switch (type) {
    case kBool: case kBytea: case kInt8: case kInt2: case kInt4: case kText: case kJson:
    case kFloat4: case kFloat8: case kBpchar: case kVarchar: case kDate: case kTime:
    case kTimestamp: case kNumeric: case kUuid: case kJsonb:
      return true;
    default:
      return false;
  }
}

}  // namespace

CopyRows::CopyRows(std::vector<unsigned> types) : types_(std::move(types)) {
  for (unsigned t : types_) binaryTypes_ = binaryTypes_ && hasBinaryForm(t);
}

void CopyRows::appendBinaryHeader(std::string& out) {
  out.append("PGCOPY\n\377\r\n\0", 11);
  put32(out, 0);  // flags
  put32(out, 0);  // header extension
}

void CopyRows::appendBinaryTrailer(std::string& out) { put16(out, 0xFFFF); }

bool CopyRows::appendBinary(const std::vector<Value>& row, const SentValue* sent, std::string& out) {
  const size_t mark = out.size();
  put16(out, static_cast<uint16_t>(types_.size()));
  for (size_t c = 0; c < types_.size(); ++c) {
    if (!sent[c].data) {
      put32(out, 0xFFFFFFFF);
      continue;
    }
    const size_t lengthAt = out.size();
    put32(out, 0);
    if (!binaryValue(c, row[c], std::string_view(sent[c].data, sent[c].size), out)) {
      out.resize(mark);
      return false;
    }
    const uint32_t n = static_cast<uint32_t>(out.size() - lengthAt - 4);
    for (int k = 0; k < 4; ++k) out[lengthAt + static_cast<size_t>(k)] = static_cast<char>(n >> (24 - 8 * k));
  }
  return true;
}

bool CopyRows::binaryValue(size_t column, const Value& v, std::string_view t, std::string& out) {
  const unsigned type = types_[column];
  // A bytea parameter takes Bytes as they are; so does the column.
  if (type == kBytea && v.kind() == Value::Kind::Bytes) {
    out += t;
    return true;
  }
  // The common kinds straight, as the text route below would read them.
  switch (type) {
    case kInt2:
    case kInt4:
    case kInt8:
      if (v.kind() == Value::Kind::Int || v.kind() == Value::Kind::Bool) {
        const int64_t i = v.kind() == Value::Kind::Bool ? (v.asBool() ? 1 : 0) : v.asInt();
        if (type == kInt8) put64(out, static_cast<uint64_t>(i));
        else if (type == kInt4 && i >= INT32_MIN && i <= INT32_MAX) put32(out, static_cast<uint32_t>(i));
        else if (type == kInt2 && i >= INT16_MIN && i <= INT16_MAX) put16(out, static_cast<uint16_t>(i));
        else return false;
        return true;
      }
      break;
    case kFloat8:
      if (v.kind() == Value::Kind::Real) {
        uint64_t bits;
        double d = v.asReal();
        std::memcpy(&bits, &d, sizeof bits);
        put64(out, bits);
        return true;
      }
      break;
    case kBool:
      if (v.kind() == Value::Kind::Bool) {
        out += static_cast<char>(v.asBool() ? 1 : 0);
        return true;
      }
      break;
    default:
      break;
  }
  switch (type) {
    case kText:
    case kVarchar:
    case kBpchar:
    case kJson:
      out += t;
      return true;
    case kJsonb:
      out += '\1';  // the version of jsonb's binary form that carries text
      out += t;
      return true;
    case kBytea:
      // Without a backslash the server's escape form is the bytes themselves.
      if (t.find('\\') != std::string::npos) return false;
      out += t;
      return true;
    case kBool:
      if (t == "1" || t == "t" || t == "true") out += '\1';
      else if (t == "0" || t == "f" || t == "false") out += '\0';
      else return false;
      return true;
    case kInt2:
    case kInt4:
    case kInt8: {
      int64_t i;
      if (type == kInt2 && readInteger(t, INT16_MIN, INT16_MAX, &i)) put16(out, static_cast<uint16_t>(i));
      else if (type == kInt4 && readInteger(t, INT32_MIN, INT32_MAX, &i)) put32(out, static_cast<uint32_t>(i));
      else if (type == kInt8 && readInteger(t, INT64_MIN, INT64_MAX, &i)) put64(out, static_cast<uint64_t>(i));
      else return false;
      return true;
    }
    case kFloat4: {
      float f;
      if (!readFloat(t, &f)) return false;
      uint32_t bits;
      std::memcpy(&bits, &f, sizeof bits);
      put32(out, bits);
      return true;
    }
    case kFloat8: {
      double d;
      if (!readFloat(t, &d)) return false;
      uint64_t bits;
      std::memcpy(&bits, &d, sizeof bits);
      put64(out, bits);
      return true;
    }
    case kNumeric:
      return numericBinary(t, out);
    case kDate: {
      // The server's date input takes a date with a time of day and keeps
      // the date.
      int64_t days, micros;
      if (!readTimestamp(t, &days, &micros)) return false;
      put32(out, static_cast<uint32_t>(days));
      return true;
    }
    case kTime: {
      // A time of day alone, or after a date, which the server ignores.
      int64_t days, micros;
      if (readTimestamp(t, &days, &micros) && t.size() > 10) {
        put64(out, static_cast<uint64_t>(micros));
        return true;
      }
      if (!readClock(t, 0, &micros)) return false;
      put64(out, static_cast<uint64_t>(micros));
      return true;
    }
    case kTimestamp: {
      int64_t days, micros;
      if (!readTimestamp(t, &days, &micros)) return false;
      put64(out, static_cast<uint64_t>(days * 86400 * int64_t(1000000) + micros));
      return true;
    }
    case kUuid:
      return readUuid(t, out);
    default:
      return false;
  }
}

void CopyRows::appendText(const std::vector<Value>& row, const SentValue* sent, std::string& out) {
  static const char hex[] = "0123456789abcdef";
  for (size_t c = 0; c < types_.size(); ++c) {
    if (c) out += '\t';
    if (!sent[c].data) {
      out += "\\N";
      continue;
    }
    const std::string_view t(sent[c].data, sent[c].size);
    if (types_[c] == kBytea && row[c].kind() == Value::Kind::Bytes) {
      out += "\\\\x";
      for (unsigned char b : t) {
        out += hex[b >> 4];
        out += hex[b & 15];
      }
      continue;
    }
    for (char ch : t) {
      switch (ch) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: out += ch;
      }
    }
  }
  out += '\n';
}

}  // namespace vov::pg
