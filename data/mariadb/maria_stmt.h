// Server-side prepared statements on a MySQL/MariaDB connection, with the
// program's values bound to their parameters and read from their rows in
// the connector's binary form (numbers, dates and bytes exactly as stored).
#ifndef VOVARIZE_DATA_MARIADB_MARIA_STMT_H
#define VOVARIZE_DATA_MARIADB_MARIA_STMT_H

#include <mysql.h>

#include <memory>
#include <string>
#include <vector>

#include "data/field_type.h"
#include "data/mariadb/maria_connection.h"
#include "data/value.h"

namespace vov::maria {

// Parameter values of one or more runs, kept in the form the connector
// sends. Values are appended run by run; bind() points the connector at a
// stretch of consecutive runs.
class ParamRows {
 public:
  explicit ParamRows(int perRun) : perRun_(perRun) {}
  int perRun() const { return perRun_; }
  int runs() const { return runs_; }
  // Bytes the runs will take on the wire, roughly.
  size_t bytes() const { return bytes_; }
  // Bytes one run of `values` takes.
  size_t measure(const std::vector<Value>& values) const;
  // Appends one run (missing values are null).
  void add(const std::vector<Value>& values);
  void clear();
  // Fills `binds` for runs [first, first + count).
  void bind(int first, int count, std::vector<MYSQL_BIND>& binds);

 private:
  struct Slot {
    enum_field_types type;
    size_t at;      // into ints_, reals_, times_ or text_
    size_t length;  // of text
  };
  int perRun_;
  int runs_ = 0;
  std::vector<Slot> slots_;
  std::vector<long long> ints_;
  std::vector<double> reals_;
  std::vector<MYSQL_TIME> times_;
  std::string text_;
  size_t bytes_ = 0;
};

class Stmt {
 public:
  // Prepares `sql` ("?" markers); raises vov::Error with the server's words.
  Stmt(std::shared_ptr<Conn> conn, const std::string& sql);
  ~Stmt();
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  MYSQL_STMT* handle() const { return stmt_; }
  Conn& conn() const { return *conn_; }
  int parameterCount() const { return static_cast<int>(mysql_stmt_param_count(stmt_)); }
  // The result columns; empty for a statement without rows.
  const std::vector<FieldInfo>& fields() const { return fields_; }

  void bind(ParamRows& rows, int first, int count);
  // Sends the statement; returns the connector's wait status (0: done).
  int startExecute();
  int continueExecute(int ready);
  // Runs to the end of the execution; false on failure (see failure()).
  bool finishExecute(int status);
  // Runs once with the bound values; raises vov::Error on failure.
  void execute();
  std::string failure() const { return conn_->message(stmt_); }
  unsigned failureNumber() const { return conn_->errorNumber(stmt_); }
  unsigned long long affectedRows() const { return mysql_stmt_affected_rows(stmt_); }
  unsigned long long insertId() const { return mysql_stmt_insert_id(stmt_); }

  // After an execution with rows: reads the next into `row`; false at the
  // end. Raises vov::Error on failure.
  bool fetch(std::vector<Value>& row);
  // Every remaining row, for small results.
  std::vector<std::vector<Value>> fetchAll();
  // Reads and drops what is left of the result; never throws.
  void discardRest() noexcept;
  bool streaming() const { return streaming_; }

 private:
  void setUpResult();
  void convert(std::vector<Value>& row);

  std::shared_ptr<Conn> conn_;
  MYSQL_STMT* stmt_ = nullptr;
  std::vector<MYSQL_BIND> params_;
  MYSQL_RES* meta_ = nullptr;
  std::vector<FieldInfo> fields_;
  std::vector<MYSQL_FIELD> columns_;
  std::vector<MYSQL_BIND> results_;
  struct Cell {
    unsigned long long number = 0;
    double real = 0;
    float single = 0;
    MYSQL_TIME time{};
    std::string bytes;
    unsigned long length = 0;
    my_bool isNull = 0;
    my_bool error = 0;
  };
  std::vector<Cell> cells_;
  bool streaming_ = false;
  int executeResult_ = 0;  // of the execution in flight, until it is done
};

}  // namespace vov::maria

#endif
