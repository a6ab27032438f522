// Entering a constant default value for a new field through the input box.
#ifndef VOVARIZE_MAPPING_DEFAULT_VALUE_H
#define VOVARIZE_MAPPING_DEFAULT_VALUE_H

#include <string>

#include "data/field_type.h"
#include "data/value.h"

namespace vov {

// What entering a default value needs of the mapping window. The window
// implements it over its lists and the platform's dialogs.
class DefaultValueHost {
 public:
  virtual ~DefaultValueHost() = default;
  virtual bool hasSelectedNewField() = 0;
  // Both may raise the list's index error when nothing is selected.
  virtual std::string selectedNewTable() = 0;
  virtual std::string selectedNewField() = 0;
  virtual void appendMappedLine(const std::string& line) = 0;
  virtual void deleteSelectedNewField() = 0;
  // The input box: the typed text on OK, the empty text on Cancel.
  virtual std::string inputBox(const std::string& caption, const std::string& prompt) = 0;
  // A message box with an OK button, owned by the window.
  virtual void messageBox(const std::string& text, const std::string& caption,
                          unsigned flags) = 0;
};

// Runs the whole entry: input box, checks, messages, the appended line and
// the removed new field. `numeric` selects the number check.
void enterDefaultValue(DefaultValueHost& host, bool numeric);

// The number check of the numeric default: optional blanks, optional sign,
// a mantissa of digits with at most one decimal separator and at least one
// digit, an optional exponent ("E" or "e", optional sign, at least one
// digit), optional blanks, nothing else; and the value inside the range of
// the 80-bit extended floating-point type. "." and "1E" are no numbers.
bool isValidNumber(const std::string& text, char decimalSeparator);

// What a default value binds into a field of type `type`. Into a number
// field a text that is a number (with "." or the locale's separator) goes
// as a number: an integer when it is one, else its exact decimal. Anything
// else goes as the text, for the engine to convert or refuse.
Value defaultValueFor(const std::string& text, FieldType type);

// The decimal separator of the user's locale.
char localeDecimalSeparator();

}  // namespace vov

#endif
