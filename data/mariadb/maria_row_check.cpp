// Each row is inserted, bound exactly as the migration binds it, into a
// temporary table of the same columns, so that the server's own conversions,
// strict-mode checks, NOT NULL, defaults and check constraints refuse what
// the real statement would refuse, in the server's words. An append keeps
// the rows there, so that a key repeated among the old rows is refused as
// the real run refuses it; rows already in the table and foreign keys are
// not looked at. An update looks for its row first, then checks the columns
// it sets. Nothing is written to the table itself.
#include "data/mariadb/maria_row_check.h"

#include <atomic>

#include "data/mariadb/maria_stmt.h"
#include "data/mariadb/maria_text.h"

namespace vov::maria {

namespace {

class MariaRowCheck : public RowCheck {
 public:
  MariaRowCheck(std::shared_ptr<Conn> conn, std::string scratch, const std::string& table,
                const RowWrite& w)
      : conn_(std::move(conn)),
        scratch_(std::move(scratch)),
        quotedScratch_(quoteIdent(scratch_)),
        quotedTable_(quoteIdent(table)),
        mode_(w.mode) {
    std::string columns, marks;
    for (size_t i = 0; i < w.columns.size(); ++i) {
      columns += (i ? "," : "") + quoteIdent(w.columns[i]);
      marks += i ? ",?" : "?";
    }
    insert_ = std::make_unique<Stmt>(
        conn_, "insert into " + quoteIdent(scratch_) + "(" + columns + ") values(" + marks + ")");
    if (mode_ == WriteMode::Update) {
      std::string where;
      for (size_t j = 0; j < w.key.size(); ++j)
        where += (j ? " and " : "") + quoteIdent(w.columns[w.key[j]]) + " = ?";
      key_ = w.key;
      find_ = std::make_unique<Stmt>(conn_, "select 1 from " + quoteIdent(table) + " where " + where);
    }
  }

  ~MariaRowCheck() override {
    insert_.reset();
    find_.reset();
    try {
      if (!conn_->lost()) conn_->exec("DROP TEMPORARY TABLE IF EXISTS " + quoteIdent(scratch_));
    } catch (const std::exception&) {
      // The table goes with the session anyway.
    }
  }

  std::string check(const std::vector<Value>& row) override {
    conn_->claim(nullptr);
    // An update looks for its row first and converts its values only for a
    // row it found.
    if (find_) {
      std::vector<Value> key;
      for (size_t k : key_) key.push_back(k < row.size() ? row[k] : Value());
      ParamRows keyValues(find_->parameterCount());
      keyValues.add(key);
      find_->bind(keyValues, 0, 1);
      find_->execute();
      if (find_->fetchAll().empty()) return kNoRowToUpdate;
    }
    ParamRows values(insert_->parameterCount());
    values.add(row);
    insert_->bind(values, 0, 1);
    if (!insert_->finishExecute(insert_->startExecute())) {
      if (conn_->lost()) conn_->fail();
      // The server names the table it wrote to: the real one is meant.
      std::string message = insert_->failure();
      for (size_t at = message.find(quotedScratch_); at != std::string::npos;
           at = message.find(quotedScratch_, at + quotedTable_.size()))
        message.replace(at, quotedScratch_.size(), quotedTable_);
      return message;
    }
    if (mode_ != WriteMode::Append) conn_->exec("DELETE FROM " + quotedScratch_);
    return std::string();
  }

 private:
  std::shared_ptr<Conn> conn_;
  std::string scratch_;
  std::string quotedScratch_, quotedTable_;
  WriteMode mode_;
  std::vector<size_t> key_;
  std::unique_ptr<Stmt> insert_;
  std::unique_ptr<Stmt> find_;
};

}  // namespace

std::unique_ptr<RowCheck> makeRowCheck(const std::shared_ptr<Conn>& conn, const std::string& table,
                                       const RowWrite& w) {
  static std::atomic<int> counter{0};
  const std::string scratch = "vov_check_" + std::to_string(++counter);
  std::string ddl = "CREATE TEMPORARY TABLE " + quoteIdent(scratch);
  if (w.mode == WriteMode::Update) {
    // An update sets only its own columns: the others need no value.
    std::string columns;
    for (size_t i = 0; i < w.columns.size(); ++i) columns += (i ? "," : "") + quoteIdent(w.columns[i]);
    ddl += " AS SELECT " + columns + " FROM " + quoteIdent(table) + " LIMIT 0";
  } else {
    ddl += " LIKE " + quoteIdent(table);
  }
  try {
    conn->exec(ddl);
  } catch (const Error&) {
    if (conn->lost()) throw;
    return nullptr;
  }
  return std::make_unique<MariaRowCheck>(conn, scratch, table, w);
}

}  // namespace vov::maria
