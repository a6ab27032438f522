// Addresses, names, statement shapes, column types and values for the
// MySQL/MariaDB backend.
#include "data/mariadb/maria_text.h"

#include <mariadb_ctype.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "data/error.h"

namespace vov::maria {

namespace {

const char* const kSchemes[] = {"mysql://", "mariadb://"};

size_t schemeLength(const std::string& s) {
  for (const char* scheme : kSchemes) {
    const std::string p = scheme;
    if (s.compare(0, p.size(), p) == 0) return p.size();
  }
  return 0;
}

[[noreturn]] void badAddress(const std::string& why) {
  throw Error("MySQL/MariaDB 数据库地址格式不对：" + why +
              "（应为 mysql://用户名:密码@主机:端口/数据库名）");
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Percent-decoding; `what` names the part for the message, which never
// echoes the text (it may be the password).
std::string decoded(const std::string& s, const char* what) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out += s[i];
      continue;
    }
    const int hi = i + 2 < s.size() ? hexValue(s[i + 1]) : -1;
    const int lo = i + 2 < s.size() ? hexValue(s[i + 2]) : -1;
    if (hi < 0 || lo < 0) badAddress(std::string(what) + "中的 % 后应是两位十六进制数");
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return out;
}

bool equalsNoCase(const std::string& s, size_t at, const char* word) {
  for (size_t k = 0; word[k]; ++k) {
    if (at + k >= s.size()) return false;
    char c = s[at + k];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != word[k]) return false;
  }
  return true;
}

void skipBlanks(const std::string& s, size_t& i) {
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n')) ++i;
}

// A name at `i`, bare or in backquotes; false when none stands there.
bool readName(const std::string& s, size_t& i, std::string* name) {
  name->clear();
  if (i < s.size() && s[i] == '`') {
    for (size_t j = i + 1; j < s.size(); ++j) {
      if (s[j] != '`') {
        *name += s[j];
      } else if (j + 1 < s.size() && s[j + 1] == '`') {
        *name += '`';
        ++j;
      } else {
        i = j + 1;
        return !name->empty();
      }
    }
    return false;
  }
  size_t start = i;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (!(c >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
          (c >= '0' && c <= '9') || c == '_' || c == '$'))
      break;
    ++i;
  }
  *name = s.substr(start, i - start);
  return !name->empty();
}

}  // namespace

bool isAddress(const std::string& text) { return schemeLength(text) != 0; }

Address parseAddress(const std::string& text) {
  const size_t start = schemeLength(text);
  if (start == 0) badAddress("应以 mysql:// 或 mariadb:// 开头");
  Address a;
  size_t at = text.rfind('@');
  size_t hostStart = start;
  if (at != std::string::npos && at >= start) {
    const std::string info = text.substr(start, at - start);
    const size_t colon = info.find(':');
    a.user = decoded(info.substr(0, colon), "用户名");
    if (colon != std::string::npos) a.password = decoded(info.substr(colon + 1), "密码");
    hostStart = at + 1;
  }
  const size_t hostEnd = text.find_first_of("/?", hostStart);
  std::string hostPort = text.substr(hostStart, hostEnd == std::string::npos ? std::string::npos
                                                                             : hostEnd - hostStart);
  std::string port;
  if (!hostPort.empty() && hostPort[0] == '[') {
    const size_t close = hostPort.find(']');
    if (close == std::string::npos) badAddress("IPv6 主机地址缺少“]”");
    a.host = hostPort.substr(1, close - 1);
    if (close + 1 < hostPort.size()) {
      if (hostPort[close + 1] != ':') badAddress("主机地址后应是“:端口”");
      port = hostPort.substr(close + 2);
    }
  } else {
    const size_t colon = hostPort.find(':');
    a.host = hostPort.substr(0, colon);
    if (colon != std::string::npos) port = hostPort.substr(colon + 1);
  }
  if (hostPort.find(':') != std::string::npos && port.empty()) badAddress("“:”后缺少端口号");
  if (!port.empty()) {
    unsigned value = 0;
    auto r = std::from_chars(port.data(), port.data() + port.size(), value);
    if (r.ec != std::errc() || r.ptr != port.data() + port.size() || value == 0 || value > 65535)
      badAddress("端口“" + port + "”不是 1 到 65535 之间的数");
    a.port = value;
  }
  std::string params;
  if (hostEnd != std::string::npos) {
    const size_t q = text.find('?', hostEnd);
    if (text[hostEnd] == '/')
      a.database = decoded(text.substr(hostEnd + 1, q == std::string::npos ? std::string::npos
                                                                          : q - hostEnd - 1),
                           "数据库名");
    if (q != std::string::npos) params = text.substr(q + 1);
  }
  for (size_t p = 0; p < params.size();) {
    size_t amp = params.find('&', p);
    const std::string item = params.substr(p, amp == std::string::npos ? std::string::npos : amp - p);
    p = amp == std::string::npos ? params.size() : amp + 1;
    if (item.empty()) continue;
    const size_t eq = item.find('=');
    const std::string key = item.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : item.substr(eq + 1);
    if (key == "socket") {
      a.socket = decoded(value, "socket 参数");
      if (a.socket.empty()) badAddress("socket 参数缺少路径");
    } else {
      badAddress("不认识的参数“" + key + "”（只能用 socket=套接字路径）");
    }
  }
  if (a.database.empty()) badAddress("缺少数据库名");
  if (!a.socket.empty() && !a.host.empty() && a.host != "localhost")
    badAddress("socket 参数只能用于本机（主机为空或 localhost）");
  return a;
}

std::string hidePassword(const std::string& text) {
  const size_t start = schemeLength(text);
  if (start == 0) return text;
  const size_t at = text.rfind('@');
  if (at == std::string::npos || at < start) return text;
  const size_t colon = text.find(':', start);
  if (colon == std::string::npos || colon > at) return text;
  return text.substr(0, colon + 1) + "***" + text.substr(at);
}

std::string quoteIdent(const std::string& name) {
  std::string q = "`";
  for (char c : name) {
    if (c == '`') q += '`';
    q += c;
  }
  q += '`';
  return q;
}

bool insertShape(const std::string& sql, InsertShape* out) {
  size_t i = 0;
  skipBlanks(sql, i);
  if (!equalsNoCase(sql, i, "insert")) return false;
  i += 6;
  skipBlanks(sql, i);
  if (!equalsNoCase(sql, i, "into")) return false;
  i += 4;
  skipBlanks(sql, i);
  if (!readName(sql, i, &out->table)) return false;
  skipBlanks(sql, i);
  if (i >= sql.size() || sql[i] != '(') return false;
  // The column list: names and commas only.
  for (++i;;) {
    skipBlanks(sql, i);
    std::string column;
    if (!readName(sql, i, &column)) return false;
    skipBlanks(sql, i);
    if (i < sql.size() && sql[i] == ',') {
      ++i;
      continue;
    }
    if (i < sql.size() && sql[i] == ')') break;
    return false;
  }
  ++i;
  skipBlanks(sql, i);
  if (!equalsNoCase(sql, i, "values")) return false;
  i += 6;
  out->head = sql.substr(0, i);
  skipBlanks(sql, i);
  if (i >= sql.size() || sql[i] != '(') return false;
  const size_t tupleStart = i;
  for (++i; i < sql.size() && sql[i] != ')'; ++i)
    if (sql[i] != '?' && sql[i] != ',' && sql[i] != ' ') return false;
  if (i >= sql.size()) return false;
  out->tuple = sql.substr(tupleStart, i + 1 - tupleStart);
  ++i;
  skipBlanks(sql, i);
  return i == sql.size();
}

std::string multiRowInsert(const InsertShape& shape, int rows) {
  std::string s;
  s.reserve(shape.head.size() + static_cast<size_t>(rows) * (shape.tuple.size() + 1));
  s += shape.head;
  for (int r = 0; r < rows; ++r) {
    if (r) s += ',';
    s += shape.tuple;
  }
  return s;
}

bool isIntegerColumn(const MYSQL_FIELD& f) {
  switch (f.type) {
    case MYSQL_TYPE_TINY:
    case MYSQL_TYPE_SHORT:
    case MYSQL_TYPE_INT24:
    case MYSQL_TYPE_LONG:
    case MYSQL_TYPE_LONGLONG:
    case MYSQL_TYPE_YEAR:
      return true;
    default:
      return false;
  }
}

FieldInfo fieldInfoFor(const MYSQL_FIELD& f) {
  FieldInfo info;
  info.name.assign(f.name, f.name_length);
  const bool binary = f.charsetnr == 63;
  const bool isUnsigned = (f.flags & UNSIGNED_FLAG) != 0;
  // The declared length arrives in bytes of the result's character set.
  unsigned perChar = 1;
  if (!binary) {
    const MARIADB_CHARSET_INFO* cs = mariadb_get_charset_by_nr(f.charsetnr);
    perChar = cs && cs->char_maxlen > 0 ? cs->char_maxlen : 4;
  }
  const int32_t chars = static_cast<int32_t>(f.length / perChar);
  if (isIntegerColumn(f) && f.type != MYSQL_TYPE_YEAR && (f.flags & AUTO_INCREMENT_FLAG)) {
    info.type = ftAutoInc;
    return info;
  }
  switch (f.type) {
    case MYSQL_TYPE_TINY: info.type = ftSmallint; break;
    case MYSQL_TYPE_SHORT: info.type = isUnsigned ? ftWord : ftSmallint; break;
    case MYSQL_TYPE_INT24: info.type = ftInteger; break;
    case MYSQL_TYPE_LONG: info.type = isUnsigned ? ftLargeint : ftInteger; break;
    case MYSQL_TYPE_LONGLONG: info.type = ftLargeint; break;
    case MYSQL_TYPE_YEAR: info.type = ftSmallint; break;
    case MYSQL_TYPE_BIT: info.type = f.length == 1 ? ftBoolean : ftLargeint; break;
    case MYSQL_TYPE_FLOAT:
    case MYSQL_TYPE_DOUBLE: info.type = ftFloat; break;
    case MYSQL_TYPE_DECIMAL:
    case MYSQL_TYPE_NEWDECIMAL:
      info.type = ftBCD;
      info.size = static_cast<int32_t>(f.decimals);
      break;
    case MYSQL_TYPE_DATE:
    case MYSQL_TYPE_NEWDATE: info.type = ftDate; break;
    case MYSQL_TYPE_TIME: info.type = ftTime; break;
    case MYSQL_TYPE_DATETIME:
    case MYSQL_TYPE_TIMESTAMP: info.type = ftDateTime; break;
    case MYSQL_TYPE_JSON: info.type = ftMemo; break;
    case MYSQL_TYPE_ENUM:
    case MYSQL_TYPE_SET: info.type = ftString; break;
    case MYSQL_TYPE_STRING:
      // An enum or set holds one of its members: no length to cut text to.
      if (f.flags & (ENUM_FLAG | SET_FLAG)) {
        info.type = ftString;
      } else if (binary) {
        info.type = ftBytes;
        info.size = static_cast<int32_t>(f.length);
      } else {
        info.type = ftFixedChar;
        info.size = chars;
      }
      break;
    case MYSQL_TYPE_VAR_STRING:
    case MYSQL_TYPE_VARCHAR:
      if (binary) {
        info.type = ftVarBytes;
        info.size = static_cast<int32_t>(f.length);
      } else {
        info.type = ftString;
        info.size = chars;
      }
      break;
    case MYSQL_TYPE_TINY_BLOB:
    case MYSQL_TYPE_MEDIUM_BLOB:
    case MYSQL_TYPE_LONG_BLOB:
    case MYSQL_TYPE_BLOB: info.type = binary ? ftBlob : ftMemo; break;
    case MYSQL_TYPE_GEOMETRY: info.type = ftBlob; break;
    case MYSQL_TYPE_NULL: info.type = ftUnknown; break;
    default: info.type = ftString; break;
  }
  return info;
}

static std::string fraction(unsigned long micro) {
  if (micro == 0) return std::string();
  char buf[16];
  std::snprintf(buf, sizeof buf, ".%06lu", micro % 1000000);
  std::string s = buf;
  while (s.back() == '0') s.pop_back();
  return s;
}

Value valueFromTime(const MYSQL_TIME& t, enum_field_types type, unsigned decimals) {
  (void)decimals;
  char buf[64];
  if (type == MYSQL_TYPE_TIME) {
    if (!t.neg && t.hour < 24) {
      DateTime dt;
      dt.hour = static_cast<int>(t.hour);
      dt.minute = static_cast<int>(t.minute);
      dt.second = static_cast<int>(t.second);
      dt.nanosecond = static_cast<int>(t.second_part) * 1000;
      return Value::fromDateTime(dt);
    }
    std::snprintf(buf, sizeof buf, "%s%02u:%02u:%02u", t.neg ? "-" : "", t.hour, t.minute, t.second);
    return Value::fromText(buf + fraction(t.second_part));
  }
  const bool dateOnly = type == MYSQL_TYPE_DATE || type == MYSQL_TYPE_NEWDATE;
  if (t.year == 0 || t.month == 0 || t.day == 0) {
    if (dateOnly) {
      std::snprintf(buf, sizeof buf, "%04u-%02u-%02u", t.year, t.month, t.day);
      return Value::fromText(buf);
    }
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return Value::fromText(buf + fraction(t.second_part));
  }
  DateTime dt;
  dt.year = static_cast<int>(t.year);
  dt.month = static_cast<int>(t.month);
  dt.day = static_cast<int>(t.day);
  if (!dateOnly) {
    dt.hour = static_cast<int>(t.hour);
    dt.minute = static_cast<int>(t.minute);
    dt.second = static_cast<int>(t.second);
    dt.nanosecond = static_cast<int>(t.second_part) * 1000;
  }
  return Value::fromDateTime(dt);
}

MYSQL_TIME timeFromValue(const DateTime& dt) {
  MYSQL_TIME t{};
  t.year = static_cast<unsigned>(dt.year);
  t.month = static_cast<unsigned>(dt.month);
  t.day = static_cast<unsigned>(dt.day);
  t.hour = static_cast<unsigned>(dt.hour);
  t.minute = static_cast<unsigned>(dt.minute);
  t.second = static_cast<unsigned>(dt.second);
  // The server keeps microseconds at most.
  t.second_part = static_cast<unsigned long>(dt.nanosecond / 1000);
  t.time_type = MYSQL_TIMESTAMP_DATETIME;
  return t;
}

Value valueFromInteger(uint64_t raw, bool isUnsigned) {
  if (isUnsigned && raw > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
    return Value::fromDecimal(std::to_string(raw));
  return Value::fromInt(static_cast<int64_t>(raw));
}

Value valueFromBits(uint64_t bits, unsigned long width) {
  if (width == 1) return Value::fromBool(bits != 0);
  return valueFromInteger(bits, true);
}

double floatAsDouble(float f) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf - 1, f);
  *r.ptr = '\0';
  return std::strtod(buf, nullptr);
}

}  // namespace vov::maria
