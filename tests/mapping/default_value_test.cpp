// Entering default values: the dialogs, the checks and the guarded step.
#include <gtest/gtest.h>

#include <clocale>
#include <deque>

#include "data/error.h"
#include "mapping/default_value.h"

using namespace vov;

namespace {

// The mapping window's side of the entry, as plain lists.
struct WindowLists : DefaultValueHost {
  std::vector<std::string> newFields{"城市", "来源"};
  int newFieldIndex = 1;
  int newTableIndex = 0;
  std::vector<std::string> newTables{"客户"};
  std::vector<std::string> mapped;
  std::deque<std::string> typed;
  std::vector<std::string> prompts, captions;
  std::vector<std::string> messages;

  bool hasSelectedNewField() override { return newFieldIndex >= 0; }
  std::string selectedNewTable() override {
    if (newTableIndex < 0) throw ListIndexError(-1);
    return newTables[static_cast<size_t>(newTableIndex)];
  }
  std::string selectedNewField() override {
    if (newFieldIndex < 0) throw ListIndexError(-1);
    return newFields[static_cast<size_t>(newFieldIndex)];
  }
  void appendMappedLine(const std::string& line) override { mapped.push_back(line); }
  void deleteSelectedNewField() override {
    newFields.erase(newFields.begin() + newFieldIndex);
    newFieldIndex = -1;
  }
  std::string inputBox(const std::string& caption, const std::string& prompt) override {
    captions.push_back(caption);
    prompts.push_back(prompt);
    std::string t = typed.empty() ? "" : typed.front();
    if (!typed.empty()) typed.pop_front();
    return t;
  }
  void messageBox(const std::string& text, const std::string& caption, unsigned flags) override {
    EXPECT_EQ(caption, "错误");
    EXPECT_EQ(flags, 0x10u);
    messages.push_back(text);
  }
};

}  // namespace

TEST(DefaultValue, CharacterDefaultAppendsTheLineAsTyped) {
  WindowLists w;
  w.typed = {"  网上 注册 "};
  enterDefaultValue(w, false);
  EXPECT_EQ(w.captions, std::vector<std::string>{"输入字符"});
  EXPECT_EQ(w.prompts, std::vector<std::string>{"请输入字符串      "});
  EXPECT_EQ(w.mapped, std::vector<std::string>{"  网上 注册  >> 客户->来源"});
  EXPECT_EQ(w.newFields, std::vector<std::string>{"城市"});
  EXPECT_TRUE(w.messages.empty());
}

TEST(DefaultValue, NothingWithoutANewFieldAndNothingOnCancel) {
  WindowLists w;
  w.newFieldIndex = -1;
  enterDefaultValue(w, false);
  EXPECT_TRUE(w.prompts.empty()) << "no input box without a selected new field";
  w.newFieldIndex = 0;
  enterDefaultValue(w, true);  // Cancel: empty text
  EXPECT_EQ(w.captions, std::vector<std::string>{"输入数字"});
  EXPECT_EQ(w.prompts, std::vector<std::string>{"请输入数字      "});
  EXPECT_TRUE(w.mapped.empty());
  EXPECT_TRUE(w.messages.empty());
}

TEST(DefaultValue, ArrowIsRefusedInBothKinds) {
  for (bool numeric : {false, true}) {
    WindowLists w;
    w.typed = {"a->b"};
    enterDefaultValue(w, numeric);
    EXPECT_EQ(w.messages, std::vector<std::string>{"不能在字符串中包含 -> 符号"});
    EXPECT_TRUE(w.mapped.empty());
    EXPECT_EQ(w.newFields.size(), 2u);
  }
}

TEST(DefaultValue, NumericDefaultKeepsTheTextAsTyped) {
  WindowLists w;
  w.typed = {" -1.50E+3 "};
  enterDefaultValue(w, true);
  EXPECT_EQ(w.mapped, std::vector<std::string>{" -1.50E+3  >> 客户->来源"});
}

TEST(DefaultValue, RefusedNumberAndTheGuardedStep) {
  WindowLists w;
  w.typed = {"12abc"};
  enterDefaultValue(w, true);
  EXPECT_EQ(w.messages, std::vector<std::string>{"12abc不是有效的数字"});
  EXPECT_TRUE(w.mapped.empty());
  // A valid number without a selected new table is refused the same way.
  w.messages.clear();
  w.newTableIndex = -1;
  w.typed = {"42"};
  enterDefaultValue(w, true);
  EXPECT_EQ(w.messages, std::vector<std::string>{"42不是有效的数字"});
  EXPECT_TRUE(w.mapped.empty());
  EXPECT_EQ(w.newFields.size(), 2u);
  // The character default lets the index error through.
  w.typed = {"x"};
  EXPECT_THROW(enterDefaultValue(w, false), ListIndexError);
  EXPECT_TRUE(w.mapped.empty());
}

TEST(NumberCheck, AcceptedForms) {
  for (const char* t : {"0", "42", "-7", "+7", "3.14", ".5", "5.", "-.5", "2.5e10", "2.5E-10",
                        "1e+3", "  12  ", "1e4932", "1e-5000", "000123"}) {
    EXPECT_TRUE(isValidNumber(t, '.')) << t;
  }
}

TEST(NumberCheck, RefusedForms) {
  for (const char* t : {"", " ", "abc", "1.2.3", "--1", "+-1", "1 2", "e5", "E", "1e5x", "0x10",
                        "1,5", "1e99999", "-1e5000", "\t1", "1\t", "１２", "inf", "nan",
                        "1e+-2", ".", "-.", " + ", "1E", "1e+", "1e-", " +.e ", ".e5"}) {
    EXPECT_FALSE(isValidNumber(t, '.')) << t;
  }
}

// A lone separator or an exponent without digits was let through by the
// check and then stored as text in a number column.
TEST(DefaultValue, NumbersThatAreNoNumbersAreRefused) {
  for (const char* typed : {".", "1e", "1E+"}) {
    WindowLists w;
    w.typed = {typed};
    enterDefaultValue(w, true);
    EXPECT_EQ(w.messages, std::vector<std::string>{std::string(typed) + "不是有效的数字"});
    EXPECT_TRUE(w.mapped.empty());
  }
}

TEST(DefaultValueFor, NumbersIntoNumberFieldsTextElsewhere) {
  auto kindAndText = [](const std::string& text, FieldType type) {
    Value v = defaultValueFor(text, type);
    return std::string(kindName(v.kind())) + " " + v.toText();
  };
  const std::string intName = kindName(Value::Kind::Int);
  const std::string decName = kindName(Value::Kind::Decimal);
  const std::string textName = kindName(Value::Kind::Text);
  EXPECT_EQ(kindAndText("42", ftInteger), intName + " 42");
  EXPECT_EQ(kindAndText("  -0007 ", ftSmallint), intName + " -7");
  EXPECT_EQ(kindAndText("2.5E3", ftFloat), intName + " 2500");
  EXPECT_EQ(kindAndText("1.50", ftCurrency), decName + " 1.50");
  EXPECT_EQ(kindAndText("-.5", ftBCD), decName + " -0.5");
  EXPECT_EQ(kindAndText("25e-3", ftFloat), decName + " 0.025");
  EXPECT_EQ(kindAndText("-0", ftInteger), intName + " 0");
  EXPECT_EQ(kindAndText("5.", ftLargeint), intName + " 5");
  EXPECT_EQ(kindAndText("12345678901234567890", ftLargeint), decName + " 12345678901234567890");
  EXPECT_EQ(kindAndText("1e-6000", ftFloat), intName + " 0");
  // Not a number, or not a number field: the text, for the engine to judge.
  EXPECT_EQ(kindAndText(".", ftInteger), textName + " .");
  EXPECT_EQ(kindAndText("abc", ftFloat), textName + " abc");
  EXPECT_EQ(kindAndText("42", ftString), textName + " 42");
  EXPECT_EQ(kindAndText("1", ftBoolean), textName + " 1");
}

TEST(NumberCheck, TheLocalesSeparator) {
  EXPECT_TRUE(isValidNumber("1,5", ','));
  EXPECT_FALSE(isValidNumber(",", ','));
  EXPECT_FALSE(isValidNumber("1.5", ','));
  std::setlocale(LC_NUMERIC, "C");
  EXPECT_EQ(localeDecimalSeparator(), '.');
}
