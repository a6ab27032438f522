// Runs of a prepared statement, alone or in multi-row batches.
#include "data/mariadb/maria_statement.h"

#include <algorithm>
#include <map>

#include <mysqld_error.h>

#include "data/mariadb/maria_stmt.h"

namespace vov::maria {

bool isTransactionalTable(Conn& conn, const std::string& table) {
  std::vector<Conn::TextRow> r = conn.rows(
      "SELECT t.TABLE_TYPE, e.TRANSACTIONS FROM information_schema.TABLES t "
      "LEFT JOIN information_schema.ENGINES e ON e.ENGINE = t.ENGINE "
      "WHERE t.TABLE_SCHEMA = DATABASE() AND BINARY t.TABLE_NAME = " + conn.literal(table));
  if (r.empty() || !r[0][0] || !r[0][1]) return false;
  return (*r[0][0] == "BASE TABLE" || *r[0][0] == "SYSTEM VERSIONED") && *r[0][1] == "YES";
}

namespace {

// A batch ends at this many runs (fewer when the statement has many
// parameters) or once its values take this many bytes.
constexpr int kBatchRuns = 1000;
constexpr size_t kBatchBytes = 2u << 20;
const char kDropped[] = "（MySQL/MariaDB 服务器因此撤销了整个事务）";
// Failures that are about the row's values, not about the server or the
// connection: with refused rows set aside, the run is reported and the rest
// go on.
bool refusesRow(unsigned error) {
  switch (error) {
    case ER_DUP_ENTRY:
    case ER_DUP_ENTRY_WITH_KEY_NAME:
    case ER_BAD_NULL_ERROR:
    case ER_WARN_NULL_TO_NOTNULL:
    case ER_NO_DEFAULT_FOR_FIELD:
    case ER_DATA_TOO_LONG:
    case ER_TRUNCATED_WRONG_VALUE:
    case ER_TRUNCATED_WRONG_VALUE_FOR_FIELD:
    case ER_WARN_DATA_OUT_OF_RANGE:
    case WARN_DATA_TRUNCATED:
    case ER_DATA_OUT_OF_RANGE:
    case ER_DIVISION_BY_ZERO:
    case ER_INVALID_CHARACTER_STRING:
    case ER_CANT_CREATE_GEOMETRY_OBJECT:
    case ER_WRONG_VALUE_FOR_TYPE:
    case ER_ILLEGAL_VALUE_FOR_TYPE:
    case ER_CONSTRAINT_FAILED:
    case ER_NO_REFERENCED_ROW:
    case ER_NO_REFERENCED_ROW_2:
    case ER_ROW_IS_REFERENCED_2:
    case ER_SIGNAL_EXCEPTION:
    case 3819:  // MySQL's check constraint violation
      return true;
    default:
      return false;
  }
}

// Runs filled between looks at whether the batch in flight is done.
constexpr int kPokeEvery = 32;
// Prepared multi-row statements kept for batches of other sizes.
constexpr size_t kKeptSizes = 4;

class MariaStatement : public Statement, public ConnUser {
 public:
  MariaStatement(std::shared_ptr<Conn> conn, const std::string& sql);
  ~MariaStatement() override;

  int parameterCount() const override { return nParams_; }
  void execute(const std::vector<Value>& params) override;
  void finish() override;
  void release() noexcept override;
  bool setRunPolicy(const RunPolicy& policy) override {
    policy_ = policy;
    return true;
  }
  std::vector<RefusedRun> takeRefused() override { return std::move(refused_); }
  int64_t runsInFlight() const override {
    return open_ ? filling_.runs() + flying_.runs() : 0;
  }

 private:
  void runAlone(int64_t run, const std::vector<Value>& params);
  void sendFilling();
  void landFlying();
  void runOnce(int64_t run);
  void refuseOrFail(int64_t run, const std::string& message, bool refusable);
  [[noreturn]] void fail(const std::string& message);
  Stmt& batchStatement(int runs);
  void clearBatches();
  size_t runLimit() const;
  std::string tooLarge(size_t size) const;

  std::shared_ptr<Conn> conn_;
  std::unique_ptr<Stmt> single_;
  int nParams_ = 0;
  bool batchable_ = false;
  InsertShape shape_;
  std::map<int, std::unique_ptr<Stmt>> multi_;
  int fullRuns_ = kBatchRuns;
  size_t batchBytes_ = kBatchBytes;
  int64_t runs_ = 0;    // runs known to have succeeded
  int64_t issued_ = 0;  // every run, refused ones included
  RunPolicy policy_;
  std::vector<RefusedRun> refused_;

  ParamRows filling_{0};
  int64_t fillingFirst_ = 0;  // the run number of the first run in filling_
  int64_t flyingFirst_ = 0;
  ParamRows flying_{0};
  Stmt* flyingStmt_ = nullptr;
  int flyingStatus_ = 0;
  bool open_ = false;  // runs wait in filling_ or flying_
};

MariaStatement::MariaStatement(std::shared_ptr<Conn> conn, const std::string& sql)
    : conn_(std::move(conn)) {
  conn_->claim(nullptr);
  single_ = std::make_unique<Stmt>(conn_, sql);
  nParams_ = single_->parameterCount();
  filling_ = ParamRows(nParams_);
  flying_ = ParamRows(nParams_);
  batchable_ = nParams_ > 0 && insertShape(sql, &shape_) && isTransactionalTable(*conn_, shape_.table);
  if (batchable_) {
    fullRuns_ = std::max(1, std::min(kBatchRuns, 65535 / nParams_));
    batchBytes_ = std::min(kBatchBytes, conn_->maxPacket() / 2);
  }
}

MariaStatement::~MariaStatement() {
  if (open_) {
    try {
      finish();
    } catch (const StatementError& e) {
      conn_->setPending(nullptr, e);  // for the commit to report
    } catch (const std::exception&) {
    }
  }
  multi_.clear();
  single_.reset();
  conn_->yield(this);
}

void MariaStatement::release() noexcept {
  if (!open_) return;
  try {
    finish();
  } catch (const StatementError& e) {
    conn_->setPending(this, e);
  } catch (const std::exception& e) {
    conn_->setPending(this, StatementError(e.what(), runs_));
  }
}

// The largest run one statement can carry, with room for the rest of it.
size_t MariaStatement::runLimit() const {
  const size_t packet = conn_->maxPacket();
  return packet > 8192 ? packet - 4096 : packet;
}

std::string MariaStatement::tooLarge(size_t size) const {
  return "这一行的值共 " + std::to_string(size) +
         " 字节，超过了 MySQL/MariaDB 服务器允许的一条语句的大小（max_allowed_packet = " +
         std::to_string(conn_->maxPacket()) + " 字节）";
}

void MariaStatement::execute(const std::vector<Value>& params) {
  conn_->throwPending(this);
  const int64_t run = issued_++;
  if (!open_) {
    conn_->claim(nullptr);
    if (!batchable_ || !conn_->inTransaction()) {
      runAlone(run, params);
      return;
    }
    conn_->claim(this);
    open_ = true;
  }
  const size_t size = filling_.measure(params);
  if (size > runLimit()) {
    // The runs before this one come first, with their own failure if any.
    finish();
    refuseOrFail(run, tooLarge(size), true);
    return;
  }
  if (filling_.runs() == 0) fillingFirst_ = run;
  filling_.add(params);
  if (filling_.runs() >= fullRuns_ || filling_.bytes() >= batchBytes_) {
    sendFilling();
  } else if (flyingStmt_ && filling_.runs() % kPokeEvery == 0) {
    // Keeps the batch in flight moving while this one fills.
    flyingStatus_ = conn_->poke(flyingStatus_, [this](int ready) {
      return flyingStmt_->continueExecute(ready);
    });
  }
}

void MariaStatement::finish() {
  conn_->throwPending(this);
  if (!open_) return;
  if (filling_.runs() > 0) sendFilling();
  landFlying();
  clearBatches();
}

void MariaStatement::runAlone(int64_t run, const std::vector<Value>& params) {
  ParamRows one(nParams_);
  const size_t size = one.measure(params);
  if (size > runLimit()) {
    refuseOrFail(run, tooLarge(size), true);
    return;
  }
  one.add(params);
  single_->bind(one, 0, 1);
  runOnce(run);
}

// Runs the single statement once as bound. The engine undoes a failed
// statement on its own, so a refused run leaves nothing behind.
void MariaStatement::runOnce(int64_t run) {
  if (!single_->finishExecute(single_->startExecute())) {
    const std::string message = single_->failure();
    if (conn_->lost()) fail(message);
    if (conn_->transactionDropped()) fail(message + kDropped);
    refuseOrFail(run, message, refusesRow(single_->failureNumber()));
    return;
  }
  single_->discardRest();
  if (policy_.requireChange && single_->affectedRows() == 0) {
    refuseOrFail(run, kNoRowToUpdate, true);
    return;
  }
  ++runs_;
}

void MariaStatement::refuseOrFail(int64_t run, const std::string& message, bool refusable) {
  if (!policy_.skipRefused || !refusable) fail(message);
  refused_.push_back({run, message});
}

void MariaStatement::fail(const std::string& message) {
  clearBatches();
  throw StatementError(message, runs_);
}

void MariaStatement::sendFilling() {
  landFlying();
  Stmt& st = batchStatement(filling_.runs());
  st.bind(filling_, 0, filling_.runs());
  std::swap(filling_, flying_);
  filling_.clear();
  flyingFirst_ = fillingFirst_;
  flyingStmt_ = &st;
  flyingStatus_ = st.startExecute();
}

// Waits for the batch in flight. When it failed, its runs are sent again
// one by one: the one that fails alone stops there, with the runs before it
// kept (or, when refused rows are set aside, is set aside and the rest go
// on).
void MariaStatement::landFlying() {
  if (!flyingStmt_) return;
  Stmt& st = *flyingStmt_;
  flyingStmt_ = nullptr;
  if (st.finishExecute(flyingStatus_)) {
    runs_ += flying_.runs();
    flying_.clear();
    return;
  }
  const std::string message = st.failure();
  if (conn_->lost()) fail(message);
  if (conn_->transactionDropped()) fail(message + kDropped);
  for (int run = 0; run < flying_.runs(); ++run) {
    single_->bind(flying_, run, 1);
    runOnce(flyingFirst_ + run);
  }
  flying_.clear();
}

Stmt& MariaStatement::batchStatement(int runs) {
  auto it = multi_.find(runs);
  if (it != multi_.end()) return *it->second;
  if (multi_.size() >= kKeptSizes) {
    for (auto drop = multi_.begin(); drop != multi_.end(); ++drop)
      if (drop->first != fullRuns_) {
        multi_.erase(drop);
        break;
      }
  }
  auto st = std::make_unique<Stmt>(conn_, multiRowInsert(shape_, runs));
  Stmt& ref = *st;
  multi_[runs] = std::move(st);
  return ref;
}

void MariaStatement::clearBatches() {
  if (flyingStmt_) {
    // The outcome no longer matters, but the connector must see it out.
    flyingStmt_->finishExecute(flyingStatus_);
    flyingStmt_ = nullptr;
  }
  filling_.clear();
  flying_.clear();
  if (open_) {
    open_ = false;
    conn_->yield(this);
  }
}

}  // namespace

std::unique_ptr<Statement> prepareStatement(const std::shared_ptr<Conn>& conn,
                                            const std::string& sql) {
  return std::make_unique<MariaStatement>(conn, sql);
}

}  // namespace vov::maria
