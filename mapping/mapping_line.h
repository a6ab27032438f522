// Mapping lines: one line per destination field, either a field mapping line
//   <old table>-><old field, filled to the name column width> >> <new table>-><new field>
// or a default-value line
//   <value> >> <new table>-><new field>
// These lines are the whole model of a field correspondence: the mapped
// list holds them, the migration engine reads them, the list file stores them.
#ifndef VOVARIZE_MAPPING_MAPPING_LINE_H
#define VOVARIZE_MAPPING_MAPPING_LINE_H

#include <cstdint>
#include <string>
#include <vector>

namespace vov {

// Removes at both ends every byte of value 32 or less; bytes of 128 and
// above (parts of UTF-8 characters) are never removed.
std::string trimControl(const std::string& s);

// The running maximum of the display widths (displayWidth) of the old
// field names listed since the mapping window was last shown; -1 after a
// reset. Names are filled to it in display columns, so lines mixing
// Chinese and Latin names line up.
class NameColumnWidth {
 public:
  void reset() { value_ = -1; }
  void raise(const std::vector<std::string>& names);
  int32_t value() const { return value_; }

 private:
  int32_t value_ = -1;
};

std::string composeFieldMappingLine(const std::string& oldTable, const std::string& oldField,
                                    int32_t width, const std::string& newTable,
                                    const std::string& newField);
std::string composeDefaultValueLine(const std::string& value, const std::string& newTable,
                                    const std::string& newField);

// Part selectors of parseMappingLine.
enum MappingPart : int {
  kLeftSide = 0,  // everything before the first ">>", trimmed
  kOldTable = 1,  // left side before its first "->"; empty without one
  kOldField = 2,  // left side after its first "->"; empty without one
  kNewTable = 3,  // right side before its first "->"; empty without one
  kNewField = 4,  // right side after its first "->"; empty without one
};

// Every part is empty for a line without ">>".
std::string parseMappingLine(const std::string& line, int selector);

}  // namespace vov

#endif
