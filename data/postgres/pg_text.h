// The text side of the PostgreSQL backend, with no server involved:
// statement rewriting, column types as the program sees them, and the text
// forms values travel in (libpq's text result format and parameters).
#ifndef VOVARIZE_DATA_POSTGRES_PG_TEXT_H
#define VOVARIZE_DATA_POSTGRES_PG_TEXT_H

#include <cstdint>
#include <string>
#include <vector>

#include "data/field_type.h"
#include "data/value.h"

namespace vov::pg {

// Type numbers of the built-in types the backend tells apart.
enum : unsigned {
  kBool = 16, kBytea = 17, kChar = 18, kName = 19, kInt8 = 20, kInt2 = 21,
  kInt4 = 23, kText = 25, kOid = 26, kJson = 114, kXml = 142, kFloat4 = 700,
  kFloat8 = 701, kMoney = 790, kBpchar = 1042, kVarchar = 1043, kDate = 1082,
  kTime = 1083, kTimestamp = 1114, kTimestamptz = 1184, kTimetz = 1266,
  kNumeric = 1700, kUuid = 2950, kJsonb = 3802,
};

// "name" with inner quotes doubled.
std::string quoteIdent(const std::string& name);

// Turns each "?" outside quotes, dollar quotes and comments into $1, $2, ...
// and counts them.
std::string numberPlaceholders(const std::string& sql, int* count);

bool isIntegerType(unsigned type);

// A result column's description; `autoInc` when a sequence or identity fills it.
FieldInfo fieldInfoFor(const std::string& name, unsigned type, int typmod, bool autoInc);

// A value from libpq's text result format.
Value valueFromText(unsigned type, const char* text, int length);

// Appends the text form the server reads back as the same value: numbers
// plain, reals with "Infinity"/"NaN" spelled the server's way, booleans
// "1"/"0" (accepted by boolean and integer columns alike), dates as
// "yyyy-mm-dd hh:mm:ss[.ffffff]", text and bytes as they are. Returns false
// for a value the server cannot take as text (text holding a zero byte).
bool appendParamText(const Value& v, std::string& out);

}  // namespace vov::pg

#endif
