// Errors of the data layer. Every failure the user may see is raised as
// vov::Error (or a subclass) with the message the error display shows.
#ifndef VOVARIZE_DATA_ERROR_H
#define VOVARIZE_DATA_ERROR_H

#include <cstdint>
#include <exception>
#include <string>
#include <utility>
#include <vector>

namespace vov {

class Error : public std::exception {
 public:
  explicit Error(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const { return message_; }

  // Says where the error happened, in front of the message:
  // "<where>：<message>". Only the first place counts, so the layer nearest
  // the failure keeps its words. Raised again with `throw;`, the error keeps
  // its own type.
  void place(const std::string& where) {
    if (placed_) return;
    message_ = where + "：" + message_;
    placed_ = true;
  }
  bool placed() const { return placed_; }
  // A new text for the message (what became of the work added, or an
  // overlong text cut); the error keeps its type and its place.
  void reword(std::string message) { message_ = std::move(message); }

 protected:
  void markPlaced() { placed_ = true; }

 private:
  std::string message_;
  bool placed_ = false;
};

// A failure of one run of a prepared statement; `runsDone` is how many runs
// of the same statement succeeded before it (see Statement::execute).
class StatementError : public Error {
 public:
  StatementError(const std::string& message, int64_t runsDone)
      : Error(message), runsDone_(runsDone) {}
  int64_t runsDone() const { return runsDone_; }

  // What the engine said of a violated key, when it says it: the values as
  // text ("id=5"), or only the key's columns (SQLite names them, and the
  // caller knows the values it bound).
  std::string keyValues;
  std::vector<std::string> keyColumns;

 private:
  int64_t runsDone_;
};

// A file the program writes itself could not be written; the message
// already names the file.
class FileError : public Error {
 public:
  explicit FileError(const std::string& message) : Error(message) { markPlaced(); }
};

// A commit whose outcome cannot be known: the connection was lost (the
// server stopped answering, or the program was interrupted) after the
// commit was sent, so the changes may or may not have been saved. The
// message says so; nothing may claim either.
class CommitUncertain : public Error {
 public:
  explicit CommitUncertain(const std::string& message) : Error(message) {}
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
