// Entering default values and the number check of the numeric default.
#include "mapping/default_value.h"

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>

#include "mapping/mapping_line.h"

namespace vov {

namespace {

constexpr unsigned kIconError = 0x10;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool isValidNumber(const std::string& text, char decimalSeparator) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && text[i] == ' ') ++i;
  std::string number;  // rebuilt in the C library's notation
  if (i < n && (text[i] == '+' || text[i] == '-')) number += text[i++];
  bool separatorSeen = false;
  size_t mantissa = 0, digits = 0;
  while (i < n) {
    if (isDigit(text[i])) {
      number += text[i];
      ++digits;
    } else if (text[i] == decimalSeparator && !separatorSeen) {
      separatorSeen = true;
      number += '.';
    } else {
      break;
    }
    ++mantissa;
    ++i;
  }
  if (mantissa == 0) return false;
  if (digits == 0) number += '0';  // a lone separator reads as 0
  if (i < n && (text[i] == 'E' || text[i] == 'e')) {
    ++i;
    std::string exponent;
    if (i < n && (text[i] == '+' || text[i] == '-')) exponent += text[i++];
    size_t expDigits = 0;
    while (i < n && isDigit(text[i])) {
      exponent += text[i++];
      ++expDigits;
    }
    // "1E" and "1e+" read as the number without an exponent.
    if (expDigits > 0) number += "e" + exponent;
  }
  while (i < n && text[i] == ' ') ++i;
  if (i != n) return false;
  errno = 0;
  char* end = nullptr;
  long double v = std::strtold(number.c_str(), &end);
  if (end == number.c_str() || *end != '\0') return false;
  // Too large for the 80-bit extended type; a value too small becomes 0.
  return !(errno == ERANGE && std::isinf(v));
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
