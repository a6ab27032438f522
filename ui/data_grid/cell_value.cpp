// Cell texts and typed values.
#include "ui/data_grid/cell_value.h"

#include <cerrno>
#include <cstdlib>

#include "data/error.h"
#include "mapping/mapping_line.h"

namespace vov {

namespace {

bool parseInt(const std::string& s, int64_t* out) {
  if (s.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(s.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  *out = v;
  return true;
}

// strtod would also take "nan", "inf" and hexadecimal numbers.
bool parseReal(const std::string& s, double* out) {
  if (s.empty()) return false;
  for (char c : s)
    if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
      return false;
  errno = 0;
  char* end = nullptr;
  double v = std::strtod(s.c_str(), &end);
  if (errno == ERANGE || *end != '\0') return false;
  *out = v;
  return true;
}

// A plain decimal numeral, the only form Value::fromDecimal takes.
bool isDecimal(const std::string& s) {
  size_t i = (!s.empty() && (s[0] == '-' || s[0] == '+')) ? 1 : 0;
  size_t digits = 0, point = 0;
  for (; i < s.size(); ++i) {
    if (s[i] >= '0' && s[i] <= '9') ++digits;
    else if (s[i] == '.' && point == 0) point = 1;
    else return false;
  }
  return digits > 0;
}

bool parseBool(const std::string& s, bool* out) {
  static const char* const yes[] = {"1", "true", "TRUE", "True", "yes", "是", "真"};
  static const char* const no[] = {"0", "false", "FALSE", "False", "no", "否", "假"};
  for (const char* y : yes)
    if (s == y) return *out = true, true;
  for (const char* n : no)
    if (s == n) return *out = false, true;
  return false;
}

// "hh:mm[:ss]" alone, for time fields.
bool isTime(const std::string& s) {
  DateTime d;
  return DateTime::parse("1899-12-30 " + s, &d);
}

[[noreturn]] void refuse(const FieldInfo& f, const std::string& text, const char* what) {
  throw Error("字段“" + f.name + "”" + what + "，不能填“" + text + "”");
}

}  // namespace

std::string cellText(const Value& v) {
  if (v.kind() == Value::Kind::Bytes)
    return "(二进制数据，" + std::to_string(v.str().size()) + " 字节)";
  return v.toText();
}

bool isBinaryField(const FieldInfo& f) {
  return f.type == ftBytes || f.type == ftVarBytes || f.type == ftBlob;
}

Value cellValue(const FieldInfo& f, const std::string& text) {
  if (isTextType(f.type) || f.type == ftGuid) return Value::fromText(text);
  if (isBinaryField(f)) throw Error("字段“" + f.name + "”是二进制数据，不能在表格里修改");
  const std::string t = trimControl(text);
  if (t.empty()) return Value::null();
  switch (f.type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint: {
      int64_t i = 0;
      if (!parseInt(t, &i)) refuse(f, text, "只能填整数");
      return Value::fromInt(i);
    }
    case ftFloat: {
      double d = 0;
      if (!parseReal(t, &d)) refuse(f, text, "只能填数字");
      return Value::fromReal(d);
    }
    case ftCurrency:
    case ftBCD:
      if (!isDecimal(t)) refuse(f, text, "只能填数字（如 12.50）");
      return Value::fromDecimal(t[0] == '+' ? t.substr(1) : t);
    case ftBoolean: {
      bool b = false;
      if (!parseBool(t, &b)) refuse(f, text, "只能填 1 或 0");
      return Value::fromBool(b);
    }
    case ftDate:
    case ftDateTime: {
      DateTime d;
      if (!DateTime::parse(t, &d)) refuse(f, text, "的日期格式应为 yyyy-mm-dd 或 yyyy-mm-dd hh:mm:ss");
      return Value::fromDateTime(d);
    }
    case ftTime:
      // Kept as the time of day typed; a date would be made up.
      if (!isTime(t)) refuse(f, text, "的时间格式应为 hh:mm:ss");
      return Value::fromText(t);
    default: {
      // A column without a declared type keeps numbers as numbers.
      int64_t i = 0;
      double d = 0;
      if (parseInt(t, &i)) return Value::fromInt(i);
      if (parseReal(t, &d)) return Value::fromReal(d);
      return Value::fromText(text);
    }
  }
}

}  // namespace vov
