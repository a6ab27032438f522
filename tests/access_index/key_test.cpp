// Key encodings: the order of encoded keys is the order of the values for
// every type whose encoding follows from others (Integer, Currency,
// Single, Double), and what has no verified code is refused with the
// character or the reason. Keys against Access's own entries: golden_test.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "data/access/format/index_key.h"
#include "data/access/format/key_text.h"

namespace vov::access {
namespace {

template <typename T>
std::string stored(T v) {
  std::string s(sizeof v, '\0');
  std::memcpy(s.data(), &v, sizeof v);  // little-endian, as rows store it
  return s;
}

std::string key(uint8_t type, const std::string& bytes, bool ascending = true) {
  std::vector<uint8_t> out;
  KeyColumn c;
  c.type = type;
  c.ascending = ascending;
  appendKeySegment(out, c, KeyValue::of(bytes));
  return std::string(out.begin(), out.end());
}

std::string textKey(const std::string& text, uint8_t version) {
  std::vector<uint8_t> out;
  KeyColumn c;
  c.type = 0x0A;
  c.sortOrder = 0x0409;
  c.sortVersion = version;
  appendKeySegment(out, c, KeyValue::of(text));
  return std::string(out.begin(), out.end());
}

template <typename T>
void expectOrdered(uint8_t type, const std::vector<T>& ascending) {
  for (size_t i = 1; i < ascending.size(); ++i) {
    SCOPED_TRACE(std::to_string(ascending[i - 1]) + " < " + std::to_string(ascending[i]));
    EXPECT_LT(key(type, stored(ascending[i - 1])), key(type, stored(ascending[i])));
    EXPECT_GT(key(type, stored(ascending[i - 1]), false), key(type, stored(ascending[i]), false));
  }
}

TEST(IndexKey, NumbersSortAsTheirValues) {
  expectOrdered<int16_t>(0x03, {-32768, -300, -1, 0, 1, 255, 256, 32767});
  expectOrdered<int32_t>(0x04, {std::numeric_limits<int32_t>::min(), -70000, -1, 0, 1, 65536});
  expectOrdered<int64_t>(0x05, {std::numeric_limits<int64_t>::min(), -12345678901, -10000, 0,
                                 1, 10000, 12345678901});
  expectOrdered<float>(0x06, {-std::numeric_limits<float>::infinity(), -1e30f, -2.5f, -1e-30f,
                              0.0f, 1e-30f, 0.15f, 2.5f, 1e30f});
  expectOrdered<double>(0x07, {-1e300, -2.5, -1e-300, 0.0, 1e-300, 0.1, 2.5, 1e300});
  // Dates are days as doubles: before and after 1899-12-30.
  expectOrdered<double>(0x08, {-657434.0, -1.5, -0.25, 0.0, 0.25, 34550.0, 2958465.99});
  // A Long as Access stores it: 7F, then big-endian with the sign bit flipped.
  EXPECT_EQ(key(0x04, stored<int32_t>(1)), std::string("\x7f\x80\x00\x00\x01", 5));
}

TEST(IndexKey, BinaryGoesInChunksOfEight) {
  EXPECT_EQ(key(0x09, std::string("\x00\x00\x00\x01", 4)),
            std::string("\x7f\x00\x00\x00\x01\x00\x00\x00\x00\x04", 10));
  const std::string nine = key(0x09, "ABCDEFGHI");
  EXPECT_EQ(nine, std::string("\x7f" "ABCDEFGH\x09" "I\0\0\0\0\0\0\0\x01", 19));
  // Descending inverts all but the chunk markers.
  const std::string down = key(0x09, "ABCDEFGHI", false);
  ASSERT_EQ(down.size(), nine.size());
  EXPECT_EQ(down[0], '\x80');
  EXPECT_EQ(down[9], '\x09');
  EXPECT_EQ(static_cast<uint8_t>(down[1]), static_cast<uint8_t>(~'A'));
}

TEST(IndexKey, TextWithoutVerifiedCodesIsRefused) {
  // Case is not part of the key; blanks and digits are.
  EXPECT_EQ(textKey("Row 10", 0), textKey("row 10", 0));
  EXPECT_EQ(textKey("Row 10", 1), textKey("ROW 10", 1));
  EXPECT_NE(textKey("row 10", 0), textKey("row10", 0));
  EXPECT_LT(textKey("abc", 1), textKey("abd", 1));

  struct Case {
    const char* text;
    uint8_t version;
    char32_t refused;
  };
  for (const Case& c : {Case{"pizza", 1, U'z'}, Case{"a-b", 1, U'-'}, Case{"café", 1, U'é'},
                        Case{"订单", 0, U'订'}, Case{"Ærø's", 0, U'\''}, Case{"a😀", 1, U'😀'}}) {
    SCOPED_TRACE(c.text);
    try {
      textKey(c.text, c.version);
      ADD_FAILURE() << "accepted";
    } catch (const KeyError& e) {
      EXPECT_EQ(e.character(), c.refused);
      EXPECT_NE(std::string(e.what()).find("未经核实"), std::string::npos) << e.what();
    }
  }
  // The legacy order knows all of Latin-1, apostrophe and hyphen included,
  // but not where those stand after a letter that expands to two weights.
  EXPECT_NO_THROW(textKey("l'été d'Ærø Straße", 0));
}

TEST(IndexKey, UnverifiedOrdersAndTypesAreRefusedButTheirNullsAreKnown) {
  std::vector<uint8_t> out;
  KeyColumn chinese;
  chinese.type = 0x0A;
  chinese.sortOrder = 0x0804;
  EXPECT_THROW(appendKeySegment(out, chinese, KeyValue::of("abc")), KeyError);
  for (uint8_t type : {0x01, 0x0F, 0x10, 0x0C}) {
    KeyColumn c;
    c.type = type;
    EXPECT_FALSE(keyTypeSupported(type));
    EXPECT_THROW(appendKeySegment(out, c, KeyValue::of(std::string(16, '\1'))), KeyError);
    out.clear();
    appendKeySegment(out, c, KeyValue{});
    EXPECT_EQ(out, std::vector<uint8_t>{0x00});
    out.clear();
  }
  KeyColumn down;
  down.type = 0x0F;
  down.ascending = false;
  appendKeySegment(out, down, KeyValue{});
  EXPECT_EQ(out, std::vector<uint8_t>{0xFF});
}

}  // namespace
}  // namespace vov::access
