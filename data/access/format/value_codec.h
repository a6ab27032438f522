// Values of Jet 4 and ACE columns as they are stored in rows: the write
// side turns a program value into a column's bytes, converting as the
// Access engine converts on insert (numbers and ISO date texts into number,
// currency and date columns, numbers into text) and refusing, with the
// reason, what it would refuse.
#ifndef VOVARIZE_DATA_ACCESS_FORMAT_VALUE_CODEC_H
#define VOVARIZE_DATA_ACCESS_FORMAT_VALUE_CODEC_H

#include <string>

#include "data/access/format/table_def.h"
#include "data/value.h"

namespace vov::access {

// The stored form of a non-null value for column `c`. For Yes/No columns
// `out` gets one byte, 1 or 0 (the row keeps it in its null mask); for memo
// and OLE columns the data the long value holds (text as stored). False,
// with `why` set for the user (without the column's name), when the value
// cannot be stored in that column.
bool encodeValue(const Column& c, const Value& v, std::string* out, std::string* why);

// Text as a text or memo column stores it: compressed (FF FE, a byte a
// character) when the column allows it and every character fits in one
// byte, else UTF-16LE. False when `utf8` is not valid UTF-8.
bool encodeText(const std::string& utf8, bool compress, std::string* out, size_t* chars);

// Days since 1899-12-30 with the time as the fraction, the Date/Time form.
double dateToDays(const DateTime& d);

}  // namespace vov::access

#endif
