// Values of Access columns as they are stored in rows. The write side
// turns a program value into a column's bytes (Jet 4 and ACE), converting
// as the Access engine converts on insert (numbers and ISO date texts into
// number, currency and date columns, numbers into text) and refusing, with
// the reason, what it would refuse. The read side turns stored bytes of
// every version back into program values, exactly.
//
// Stored forms: text UTF-16LE or compressed (utf16.h), in Jet 3 the file's
// code page; Currency a 64-bit count of ten-thousandths; Decimal a sign
// byte and a 128-bit magnitude as four 32-bit words, most significant
// first; Date/Time a double counting days from 1899-12-30; Date/Time
// Extended 42 ASCII bytes "<19 digits of days since 0001-01-01>:<19 digits
// of 100 ns ticks into the day>:7" and a zero byte. Calculated columns
// (ACE 14 and later) store 16 bytes, a 4-byte length, the result and 3
// bytes of padding; their Yes/No result is a byte and their Decimal result
// 16 bytes (2 unused, scale, sign 0x80, high 32 and low 64 bits of a 96-bit
// magnitude).
#ifndef VOVARIZE_DATA_ACCESS_FORMAT_VALUE_CODEC_H
#define VOVARIZE_DATA_ACCESS_FORMAT_VALUE_CODEC_H

#include <iconv.h>

#include <cstdint>
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

// ---- reading

// How text of a file decodes: Jet 4 and ACE store UTF-16; Jet 3 stores the
// file's code page, converted through `codePage` (an iconv descriptor to
// UTF-8, or (iconv_t)-1 for Latin-1; a byte it lacks becomes U+FFFD).
struct TextCodec {
  bool jet3 = false;
  iconv_t codePage = reinterpret_cast<iconv_t>(-1);
};

// Decodes the stored bytes of a non-null value of type `type` (ColumnType;
// plain Yes/No values live in the null mask and never come here). Memo and
// OLE values arrive as their assembled data. `scale` is a Decimal column's.
// `calculated`: the bytes are a calculated column's result (see
// calculatedResult) and `type` its result type. Types without a decoding
// arrive as their bytes. Returns nullptr, or what is wrong, for the user.
const char* decodeValue(const TextCodec& text, uint8_t type, int scale, bool calculated,
                        const uint8_t* p, size_t n, Value& out);

// The result inside a calculated column's stored value; false when the
// bytes are too short for what they say. A length of 0 is a null result.
bool calculatedResult(const uint8_t* p, size_t n, const uint8_t** data, size_t* size);

// The pieces of decodeValue, as exact decimal numerals and date-times.
std::string moneyText(int64_t tenThousandths);
bool numericText(const uint8_t* p17, int scale, std::string* out);  // false: scale > 38
bool variantDecimalText(const uint8_t* p16, std::string* out);      // false: scale > 28
std::string guidText(const uint8_t* p16);  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
// To the millisecond (the double holds nothing finer); false outside the
// years 100 to 9999.
bool dateFromDays(double days, DateTime* out);
bool extendedDate(const uint8_t* p, size_t n, DateTime* out);
// A Single as the double nearest its shortest decimal form, so 0.15 stays
// 0.15 instead of becoming 0.150000006.
double singleAsDouble(float f);

}  // namespace vov::access

#endif
