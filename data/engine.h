// The database components the windows and the migration engine drive:
// a connection, a result set (data set) with its fields, and a command with
// named parameters. They keep the behaviour the program was designed around
// (connect on demand, field look-up by name, ":name" markers) over whichever
// backend the connection string selects.
#ifndef VOVARIZE_DATA_ENGINE_H
#define VOVARIZE_DATA_ENGINE_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "data/backend.h"
#include "data/field_type.h"
#include "data/value.h"

namespace vov {

class Connection {
 public:
  explicit Connection(std::string name);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  const std::string& name() const { return name_; }

  // Opening never asks the user for a login; kept to mirror the setting.
  bool loginPrompt() const { return false; }

  const std::string& connectionString() const { return connectionString_; }
  void setConnectionString(const std::string& s);

  // Connects with the current string (nothing if connected). On failure the
  // connection stays closed and keeps its string.
  void open();
  // Disconnects (nothing if closed). Data sets on this connection close.
  void close();
  bool connected() const { return backend_ != nullptr; }

  // The backend, connecting first when closed.
  Backend& backend();

  // Replace `list` with the table and view names (connects if closed).
  void tableNames(std::vector<std::string>& list);
  // Replace `list` with the field names of `table` (connects if closed).
  void fieldNames(const std::string& table, std::vector<std::string>& list);
  // Runs one statement without parameters, dropping any result (connects if
  // closed). The text-export statement is handled here for every backend.
  void execute(const std::string& sql);

  // `name` quoted for this connection's engine (connects if closed).
  std::string quoteName(const std::string& name);

  void beginTransaction();
  void commit();
  void rollback();
  bool inTransaction() const { return inTransaction_; }

  // Called when the connection closes, so that dependents can let go.
  void addCloseListener(void* owner, std::function<void()> fn);
  void removeCloseListeners(void* owner);

 private:
  std::string name_;
  std::string connectionString_;
  std::unique_ptr<Backend> backend_;
  bool inTransaction_ = false;
  struct Listener {
    void* owner;
    std::function<void()> fn;
  };
  std::vector<Listener> closeListeners_;
};

class Field {
 public:
  Field(FieldInfo info, const Value* value) : info_(std::move(info)), value_(value) {}
  const std::string& fieldName() const { return info_.name; }
  FieldType dataType() const { return info_.type; }
  int32_t size() const { return info_.size; }
  const FieldInfo& info() const { return info_; }
  // The current row's value: null whenever the stored value is null, for
  // every type (memo and long binary too).
  const Value& value() const { return *value_; }

 private:
  FieldInfo info_;
  const Value* value_;
};

// A result set: a statement, opened on a connection, standing on one row.
class DataSet {
 public:
  explicit DataSet(std::string name, Connection* connection = nullptr);
  ~DataSet();
  DataSet(const DataSet&) = delete;
  DataSet& operator=(const DataSet&) = delete;

  const std::string& name() const { return name_; }
  Connection* connection() const { return connection_; }
  void setConnection(Connection* c);  // closes the data set first
  const std::string& commandText() const { return commandText_; }
  void setCommandText(const std::string& sql);

  // The preview data sets of the main window read whole tables through a
  // browser, so the grid can show any row without reading all of them.
  void setBrowsable(bool b) { browsable_ = b; }
  // Rows that are only read (the old rows of a migration): the engine is
  // asked to keep the statement from writing (Backend::readQuery).
  void setReadOnly(bool r) { readOnly_ = r; }

  // Runs the statement exactly as written (no marker scan) and stands on
  // the first row.
  void open();
  void close();
  bool active() const { return active_; }
  bool eof() const { return eof_; }
  void next();

  int fieldCount() const { return static_cast<int>(fields_.size()); }
  const Field& field(int i) const;
  // Case ignored, first match; raises "<name>: Field '<f>' not found".
  const Field& fieldByName(const std::string& fieldName) const;
  const Field* findField(const std::string& fieldName) const;
  const std::vector<FieldInfo>& fieldInfos() const { return infos_; }

  // Non-null while open when the statement reads one whole table and the
  // data set is browsable.
  TableBrowser* browser() const { return browser_.get(); }

  // Called after the data set has opened or closed (for the grid).
  void addStateListener(void* owner, std::function<void()> fn);
  void removeStateListeners(void* owner);

 private:
  void readRow();
  void notify();

  std::string name_;
  Connection* connection_;
  std::string commandText_;
  bool browsable_ = false;
  bool readOnly_ = false;
  bool active_ = false;
  bool eof_ = true;
  std::unique_ptr<Cursor> cursor_;
  std::unique_ptr<TableBrowser> browser_;
  int64_t browsePos_ = 0;
  std::vector<BrowseRow> browseWindow_;
  size_t browseIndex_ = 0;
  std::vector<FieldInfo> infos_;
  std::vector<Value> row_;
  std::vector<Field> fields_;
  struct Listener {
    void* owner;
    std::function<void()> fn;
  };
  std::vector<Listener> listeners_;
};

struct Parameter {
  std::string name;
  Value value;
};

// A parameterised statement. Setting its text scans the ":name" markers and
// replaces the parameter list; execute() binds the parameters in order.
class Command {
 public:
  explicit Command(std::string name, Connection* connection = nullptr);
  ~Command();
  const std::string& name() const { return name_; }
  Connection* connection() const { return connection_; }
  void setConnection(Connection* c);
  const std::string& commandText() const { return commandText_; }
  void setCommandText(const std::string& text);
  std::vector<Parameter>& parameters() { return params_; }
  const std::vector<Parameter>& parameters() const { return params_; }
  // The statement as the engine receives it, markers turned into "?".
  const std::string& engineText() const { return engineText_; }

  // Runs once with the current parameter values. Prepared on first use.
  void execute();
  // Waits for runs still in flight (see Statement::finish).
  void finish();
  // Has the engine check and prepare the statement without running it.
  void prepare();

  // How runs that fail are handled (see RunPolicy); it holds for every text
  // set later too. Raises Error when the engine cannot work that way.
  void setRunPolicy(const RunPolicy& policy);
  // See Statement::takeRefused and Statement::runsInFlight.
  std::vector<RefusedRun> takeRefused();
  int64_t runsInFlight() const;

 private:
  std::string name_;
  Connection* connection_;
  std::string commandText_;
  std::string engineText_;
  std::vector<Parameter> params_;
  std::unique_ptr<Statement> prepared_;
  RunPolicy policy_;
  std::vector<Value> bindBuffer_;
};

}  // namespace vov

#endif
