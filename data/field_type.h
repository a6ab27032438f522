// Column types as the program sees them, numbered as the component library
// the tool was first written against numbers them. Only ftAutoInc (14) is
// ever tested by the program; the others describe a column to the reader.
#ifndef VOVARIZE_DATA_FIELD_TYPE_H
#define VOVARIZE_DATA_FIELD_TYPE_H

#include <cstdint>
#include <string>
#include <utility>

namespace vov {

enum FieldType : int {
  ftUnknown = 0,
  ftString = 1,
  ftSmallint = 2,
  ftInteger = 3,
  ftWord = 4,
  ftBoolean = 5,
  ftFloat = 6,
  ftCurrency = 7,
  ftBCD = 8,
  ftDate = 9,
  ftTime = 10,
  ftDateTime = 11,
  ftBytes = 12,
  ftVarBytes = 13,
  ftAutoInc = 14,
  ftBlob = 15,
  ftMemo = 16,
  ftFixedChar = 23,
  ftWideString = 24,
  ftLargeint = 25,
  ftGuid = 35,
};

// A column's description. `size` follows one rule for every engine: the
// declared length of text (in characters) and binary columns, the number of
// decimal places of decimal and currency columns, 38 for GUID columns, and
// 0 for everything else (memo and long binary included).
struct FieldInfo {
  FieldInfo(std::string n = {}, FieldType t = ftUnknown, int32_t s = 0)
      : name(std::move(n)), type(t), size(s) {}

  std::string name;
  FieldType type = ftUnknown;
  int32_t size = 0;
  // Empty, or the column's type named for the user when the program cannot
  // represent its values (they read as null and may not be carried over).
  std::string unreadable;
};

// True for the types whose values are text of a declared or open length.
inline bool isTextType(FieldType t) {
  return t == ftString || t == ftFixedChar || t == ftWideString || t == ftMemo;
}

// True for the types whose values are numbers (yes/no not among them).
inline bool isNumberType(FieldType t) {
  switch (t) {
    case ftSmallint: case ftInteger: case ftWord: case ftFloat: case ftCurrency:
    case ftBCD: case ftAutoInc: case ftLargeint:
      return true;
    default:
      return false;
  }
}

}  // namespace vov

#endif
