// Entering default values and the number check of the numeric default.
#include "mapping/default_value.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>

#include "mapping/mapping_line.h"

namespace vov {

namespace {

constexpr unsigned kIconError = 0x10;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A number as the check reads it: sign, the digits of the mantissa without
// its separator, how many of them follow the separator, and the exponent.
struct Number {
  bool negative = false;
  std::string digits;
  long fraction = 0;
  long exponent = 0;
  std::string cNotation;  // for the range test
};

bool parseNumber(const std::string& text, char separator, Number* out) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && text[i] == ' ') ++i;
  Number num;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    num.negative = text[i] == '-';
    num.cNotation += text[i++];
  }
  bool separatorSeen = false;
  while (i < n) {
    if (isDigit(text[i])) {
      num.digits += text[i];
      num.cNotation += text[i];
      if (separatorSeen) ++num.fraction;
    } else if (text[i] == separator && !separatorSeen) {
      separatorSeen = true;
      num.cNotation += '.';
    } else {
      break;
    }
    ++i;
  }
  if (num.digits.empty()) return false;
  if (i < n && (text[i] == 'E' || text[i] == 'e')) {
    ++i;
    std::string exponent;
    if (i < n && (text[i] == '+' || text[i] == '-')) exponent += text[i++];
    const size_t first = i;
    while (i < n && isDigit(text[i])) exponent += text[i++];
    if (i == first) return false;
    num.cNotation += "e" + exponent;
    // Far beyond any range: the range test refuses such a number anyway.
    num.exponent = std::strtol(exponent.c_str(), nullptr, 10);
  }
  while (i < n && text[i] == ' ') ++i;
  if (i != n) return false;
  errno = 0;
  char* end = nullptr;
  long double v = std::strtold(num.cNotation.c_str(), &end);
  if (end == num.cNotation.c_str() || *end != '\0') return false;
  // Too large for the 80-bit extended type; a value too small becomes 0.
  if (errno == ERANGE && std::isinf(v)) return false;
  if (out) *out = std::move(num);
  return true;
}

// The exact value of `num`: an integer when it has no fraction left, else a
// plain decimal numeral.
Value exactValue(const Number& num) {
  const long scale = num.fraction - num.exponent;
  // Below the smallest extended value the number check reads it as 0.
  if (scale > 5000) return Value::fromInt(0);
  std::string digits = num.digits;
  if (scale < 0) digits.append(static_cast<size_t>(-scale), '0');
  const size_t intLength = scale > 0 ? (digits.size() > static_cast<size_t>(scale)
                                            ? digits.size() - static_cast<size_t>(scale)
                                            : 0)
                                     : digits.size();
  std::string whole = digits.substr(0, intLength);
  std::string fraction = digits.substr(intLength);
  if (scale > 0 && fraction.size() < static_cast<size_t>(scale))
    fraction.insert(0, static_cast<size_t>(scale) - fraction.size(), '0');
  whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size()));
  if (whole.empty()) whole = "0";
  const bool zero = whole == "0" && fraction.find_first_not_of('0') == std::string::npos;
  const std::string sign = num.negative && !zero ? "-" : "";
  if (fraction.empty()) {
    errno = 0;
    char* end = nullptr;
    const long long i = std::strtoll((sign + whole).c_str(), &end, 10);
    if (errno == 0 && *end == '\0') return Value::fromInt(i);
    return Value::fromDecimal(sign + whole);
  }
  return Value::fromDecimal(sign + whole + "." + fraction);
}

}  // namespace

bool isValidNumber(const std::string& text, char decimalSeparator) {
  return parseNumber(text, decimalSeparator, nullptr);
}

Value defaultValueFor(const std::string& text, FieldType type) {
  if (!isNumberType(type)) return Value::fromText(text);
  Number num;
  if (parseNumber(text, '.', &num) || parseNumber(text, localeDecimalSeparator(), &num))
    return exactValue(num);
  return Value::fromText(text);
}

char localeDecimalSeparator() {
  const lconv* lc = std::localeconv();
  if (lc && lc->decimal_point && lc->decimal_point[0] && !lc->decimal_point[1])
    return lc->decimal_point[0];
  return '.';
}

void enterDefaultValue(DefaultValueHost& host, bool numeric) {
  if (!host.hasSelectedNewField()) return;
  const std::string text = numeric ? host.inputBox("输入数字", "请输入数字      ")
                                   : host.inputBox("输入字符", "请输入字符串      ");
  if (text.find("->") != std::string::npos) {
    host.messageBox("不能在字符串中包含 -> 符号", "错误", kIconError);
    return;
  }
  if (text.empty()) return;
  if (!numeric) {
    const std::string line =
        composeDefaultValueLine(text, host.selectedNewTable(), host.selectedNewField());
    host.appendMappedLine(line);
    host.deleteSelectedNewField();
    return;
  }
  // The check, the line and the two list changes form one guarded step: any
  // failure in it (a missing table selection too) is a refused number.
  bool accepted = false;
  try {
    if (isValidNumber(text, localeDecimalSeparator())) {
      const std::string line =
          composeDefaultValueLine(text, host.selectedNewTable(), host.selectedNewField());
      host.appendMappedLine(line);
      host.deleteSelectedNewField();
      accepted = true;
    }
  } catch (const std::exception&) {
    accepted = false;
  }
  if (!accepted) host.messageBox(text + "不是有效的数字", "错误", kIconError);
}

}  // namespace vov
