// Composing and parsing mapping lines.
#include "mapping/mapping_line.h"

#include "mapping/display_width.h"

namespace vov {

std::string trimControl(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && static_cast<unsigned char>(s[a]) <= 32) ++a;
  while (b > a && static_cast<unsigned char>(s[b - 1]) <= 32) --b;
  return s.substr(a, b - a);
}

void NameColumnWidth::raise(const std::vector<std::string>& names) {
  for (const std::string& n : names) {
    // Names beyond 2 GiB cannot occur; the width stays a 32-bit value.
    const int32_t len = static_cast<int32_t>(displayWidth(n));
    if (len > value_) value_ = len;
  }
}

std::string composeFieldMappingLine(const std::string& oldTable, const std::string& oldField,
                                    int32_t width, const std::string& newTable,
                                    const std::string& newField) {
  std::string line = oldTable;
  line += "->";
  line += oldField;
  // Filled with blanks up to the width; never cut.
  const size_t columns = displayWidth(oldField);
  if (width > 0 && static_cast<size_t>(width) > columns)
    line.append(static_cast<size_t>(width) - columns, ' ');
  line += " >> ";
  line += newTable;
  line += "->";
  line += newField;
  return line;
}

std::string composeDefaultValueLine(const std::string& value, const std::string& newTable,
                                    const std::string& newField) {
  return value + " >> " + newTable + "->" + newField;
}

std::string parseMappingLine(const std::string& line, int selector) {
  const size_t sep = line.find(">>");
  if (sep == std::string::npos) return std::string();
  const std::string left = trimControl(line.substr(0, sep));
  const std::string right = trimControl(line.substr(sep + 2));
  const std::string& side = selector <= kOldField ? left : right;
  if (selector == kLeftSide) return left;
  if (selector < kLeftSide || selector > kNewField) return std::string();
  const size_t arrow = side.find("->");
  if (arrow == std::string::npos) return std::string();
  const bool before = selector == kOldTable || selector == kNewTable;
  return trimControl(before ? side.substr(0, arrow) : side.substr(arrow + 2));
}

}  // namespace vov
