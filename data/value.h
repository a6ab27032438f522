// A database value as the engines hand it over: a tagged union of the kinds
// a column can hold. Exact numbers (currency, decimal) travel as their decimal
// text so that no binary floating-point step ever rounds them.
#ifndef VOVARIZE_DATA_VALUE_H
#define VOVARIZE_DATA_VALUE_H

#include <cstdint>
#include <string>

namespace vov {

struct DateTime {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0;
  int nanosecond = 0;

  // "yyyy-mm-dd hh:mm:ss", with the fraction of the second (up to nine
  // digits, trailing zeros dropped) only when there is one.
  std::string toText() const;
  // Accepts "yyyy-mm-dd", "yyyy-mm-dd hh:mm[:ss[.f]]" and a "T" separator.
  static bool parse(const std::string& text, DateTime* out);
  bool operator==(const DateTime& o) const;
};

class Value {
 public:
  enum class Kind { Null, Bool, Int, Real, Decimal, Text, Bytes, DateTime };

  Value() = default;  // null
  static Value null() { return Value(); }
  static Value fromBool(bool b);
  static Value fromInt(int64_t i);
  static Value fromReal(double d);
  // `digits` is a plain decimal numeral: optional "-", digits, optional
  // "." and digits. Its scale is kept as written ("12.5000").
  static Value fromDecimal(std::string digits);
  static Value fromText(std::string utf8);
  static Value fromBytes(std::string bytes);
  static Value fromDateTime(const DateTime& dt);

  // Makes this a text value in place, reusing the storage it holds: the
  // row loops of the migration refill the same values row after row.
  void setText(const char* utf8, size_t size) {
    kind_ = Kind::Text;
    str_.assign(utf8, size);
  }

  Kind kind() const { return kind_; }
  bool isNull() const { return kind_ == Kind::Null; }

  bool asBool() const { return int_ != 0; }
  int64_t asInt() const { return int_; }
  double asReal() const { return real_; }
  // Payload of Text, Decimal and Bytes values.
  const std::string& str() const { return str_; }
  const DateTime& asDateTime() const { return dt_; }

  // The value as a user reads it: numbers plain (reals in their shortest
  // exact form), booleans "1"/"0", dates as DateTime::toText, bytes as they
  // are, null as the empty text.
  std::string toText() const;

  bool operator==(const Value& o) const;
  bool operator!=(const Value& o) const { return !(*this == o); }

 private:
  Kind kind_ = Kind::Null;
  int64_t int_ = 0;
  double real_ = 0;
  std::string str_;
  DateTime dt_;
};

const char* kindName(Value::Kind k);

}  // namespace vov

#endif
