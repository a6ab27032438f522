// Errors of the data layer. Every failure the user may see is raised as
// vov::Error (or a subclass) with the message the error display shows.
#ifndef VOVARIZE_DATA_ERROR_H
#define VOVARIZE_DATA_ERROR_H

#include <cstdint>
#include <stdexcept>
#include <string>

namespace vov {

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// A failure of one run of a prepared statement; `runsDone` is how many runs
// of the same statement succeeded before it (see Statement::execute).
class StatementError : public Error {
 public:
  StatementError(const std::string& message, int64_t runsDone)
      : Error(message), runsDone_(runsDone) {}
  int64_t runsDone() const { return runsDone_; }

 private:
  int64_t runsDone_;
};

// Raised when a selected entry is read from a list that has none, and by
// other list index checks; the text follows the list class's own wording.
class ListIndexError : public Error {
 public:
  explicit ListIndexError(int index)
      : Error("List index out of bounds (" + std::to_string(index) + ")") {}
};

// A command stopped on purpose: never shown to the user.
class Abort : public std::exception {
 public:
  const char* what() const noexcept override { return "Operation aborted"; }
};

}  // namespace vov

#endif
