// Runs of a prepared statement, alone or in batches inside a transaction.
#include "data/postgres/pg_statement.h"

#include <vector>

#include "data/postgres/pg_text.h"

namespace vov::pg {

namespace {

// A batch ends after this many runs or once its values take this many
// bytes; its runs are kept until it ends, for a replay after a failure.
constexpr int kBatchRuns = 10000;
constexpr size_t kBatchBytes = 8u << 20;
// Pipelined runs between checks that the server keeps up.
constexpr int kFlushEvery = 512;

const char kZeroByte[] = "文本中含有零字符（\\0），PostgreSQL 不能保存这样的文本";

class PgStatement : public Statement, public ConnUser {
 public:
  PgStatement(std::shared_ptr<Conn> conn, const std::string& sql);
  ~PgStatement() override;

  int parameterCount() const override { return nParams_; }
  void execute(const std::vector<Value>& params) override;
  void finish() override;
  void release() noexcept override;
  bool setRunPolicy(const RunPolicy& policy) override {
    policy_ = policy;
    return true;
  }
  std::vector<RefusedRun> takeRefused() override { return std::move(refused_); }

 private:
  struct Slot {
    size_t offset;
    int length;  // -1 for null
    bool binary;
  };

  bool encodeRun(const std::vector<Value>& params);
  void bindRun(int run);
  void runAlone();
  void runFenced(int64_t run, const std::vector<Value>& params);
  void refuseOrFail(int64_t run, const std::string& message, bool refusable);
  void startBatch();
  void sendRun(int run);
  void sendPrepared(int run);
  void endBatch();
  int pipelineRuns(int count, std::string* message);
  int readPipelineResults(int count, std::string* message);
  void keepBatch();
  [[noreturn]] void failAt(int failed, std::string message);
  [[noreturn]] void broken();
  void clearBatch();
  PGconn* pg() const { return conn_->pg(); }

  std::shared_ptr<Conn> conn_;
  std::string name_;
  int nParams_ = 0;
  std::vector<bool> bytea_;
  int64_t runs_ = 0;  // runs known to have succeeded
  int64_t issued_ = 0;  // every run, refused ones included
  RunPolicy policy_;
  std::vector<RefusedRun> refused_;

  // The batch in flight (or the one run outside a transaction).
  bool open_ = false;
  bool pipelined_ = false;
  int batchRuns_ = 0;
  std::string arena_;  // every value's text or bytes, each followed by a zero byte
  std::vector<Slot> slots_;
  std::vector<const char*> values_;
  std::vector<int> lengths_, formats_;
};

PgStatement::PgStatement(std::shared_ptr<Conn> conn, const std::string& sql)
    : conn_(std::move(conn)) {
  conn_->claim(nullptr);
  int count = 0;
  const std::string text = numberPlaceholders(sql, &count);
  name_ = conn_->nextStatementName();
  conn_->fenced([&] {
    Result p(PQprepare(pg(), name_.c_str(), text.c_str(), 0, nullptr));
    if (!p || PQresultStatus(p.get()) != PGRES_COMMAND_OK) conn_->fail(p.get());
    Result d(PQdescribePrepared(pg(), name_.c_str()));
    if (!d || PQresultStatus(d.get()) != PGRES_COMMAND_OK) conn_->fail(d.get());
    nParams_ = PQnparams(d.get());
    for (int i = 0; i < nParams_; ++i) bytea_.push_back(PQparamtype(d.get(), i) == kBytea);
  });
  values_.resize(static_cast<size_t>(nParams_));
  lengths_.resize(static_cast<size_t>(nParams_));
  formats_.resize(static_cast<size_t>(nParams_));
}

PgStatement::~PgStatement() {
  if (open_) {
    try {
      endBatch();
    } catch (const StatementError& e) {
      conn_->setPending(nullptr, e);  // for the commit to report
    } catch (...) {
    }
  }
  if (!conn_->lost() && !conn_->holder()) {
    Result r(PQexec(pg(), ("deallocate " + name_).c_str()));
  }
}

void PgStatement::release() noexcept {
  if (!open_) return;
  try {
    endBatch();
  } catch (const StatementError& e) {
    conn_->setPending(this, e);
  } catch (const std::exception& e) {
    conn_->setPending(this, StatementError(e.what(), runs_));
  }
}

void PgStatement::execute(const std::vector<Value>& params) {
  conn_->throwPending(this);
  const int64_t run = issued_++;
  if (!open_) {
    conn_->claim(nullptr);
    if (!conn_->inTransaction()) {
      if (!encodeRun(params)) throw StatementError(kZeroByte, runs_);
      runAlone();
      return;
    }
    if (policy_.skipRefused || policy_.requireChange) {
      runFenced(run, params);
      return;
    }
  }
  if (!encodeRun(params)) {
    // The runs before this one come first, with their own failure if any.
    if (open_) endBatch();
    throw StatementError(kZeroByte, runs_);
  }
  if (!open_) startBatch();
  sendRun(batchRuns_ - 1);
  if (batchRuns_ >= kBatchRuns || arena_.size() >= kBatchBytes) endBatch();
}

void PgStatement::finish() {
  conn_->throwPending(this);
  if (open_) endBatch();
}

// Appends one run's values to the batch; false (and nothing appended) when
// one of them cannot be sent.
bool PgStatement::encodeRun(const std::vector<Value>& params) {
  const size_t arenaMark = arena_.size(), slotMark = slots_.size();
  for (int i = 0; i < nParams_; ++i) {
    const size_t k = static_cast<size_t>(i);
    if (k >= params.size() || params[k].isNull()) {
      slots_.push_back({0, -1, false});
      continue;
    }
    const Value& v = params[k];
    const size_t offset = arena_.size();
    const bool binary = v.kind() == Value::Kind::Bytes && bytea_[k];
    if (binary) {
      arena_ += v.str();
    } else if (!appendParamText(v, arena_)) {
      arena_.resize(arenaMark);
      slots_.resize(slotMark);
      return false;
    }
    slots_.push_back({offset, static_cast<int>(arena_.size() - offset), binary});
    arena_ += '\0';
  }
  ++batchRuns_;
  return true;
}

// Points libpq's parameter arrays at the values of one run of the batch.
void PgStatement::bindRun(int run) {
  const Slot* s = slots_.data() + static_cast<size_t>(run) * static_cast<size_t>(nParams_);
  for (int i = 0; i < nParams_; ++i) {
    const size_t k = static_cast<size_t>(i);
    values_[k] = s[k].length < 0 ? nullptr : arena_.data() + s[k].offset;
    lengths_[k] = s[k].length < 0 ? 0 : s[k].length;
    formats_[k] = s[k].binary ? 1 : 0;
  }
}

void PgStatement::runAlone() {
  bindRun(0);
  Result r(PQexecPrepared(pg(), name_.c_str(), nParams_, values_.data(), lengths_.data(),
                          formats_.data(), 0));
  clearBatch();
  ExecStatusType st = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
  if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK)
    throw StatementError(conn_->message(r.get()), runs_);
  ++runs_;
}

// Errors about the row in hand: data exceptions, integrity constraints and
// a trigger's own refusal. Anything else is not the row's fault.
static bool refusesRow(const PGresult* r) {
  const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
  if (!state) return false;
  const std::string s(state);
  return s.compare(0, 2, "22") == 0 || s.compare(0, 2, "23") == 0 || s == "P0001";
}

// One run at a time, each fenced by a savepoint of its own: how refused runs
// are undone alone, and updates that find no row told apart, on this path.
void PgStatement::runFenced(int64_t run, const std::vector<Value>& params) {
  if (!encodeRun(params)) {
    clearBatch();
    refuseOrFail(run, kZeroByte, true);
    return;
  }
  bindRun(0);
  try {
    // A generic plan would check an update's values only on a row it finds;
    // custom plans check them always, as an insert does, so that what is
    // refused does not depend on how many runs came before.
    conn_->exec(policy_.requireChange
                    ? "savepoint vov_row; set local plan_cache_mode = force_custom_plan"
                    : "savepoint vov_row");
  } catch (const Error& e) {
    clearBatch();
    throw StatementError(e.what(), runs_);
  }
  Result r(PQexecPrepared(pg(), name_.c_str(), nParams_, values_.data(), lengths_.data(),
                          formats_.data(), 0));
  clearBatch();
  ExecStatusType st = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
  const bool ok = st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK;
  const bool changed = ok && std::string(PQcmdTuples(r.get())) != "0";
  const std::string message = ok ? std::string() : conn_->message(r.get());
  if (!ok && conn_->lost()) throw StatementError(message, runs_);
  try {
    conn_->exec(ok ? "release savepoint vov_row"
                   : "rollback to savepoint vov_row; release savepoint vov_row");
  } catch (const Error& e) {
    throw StatementError(e.what(), runs_);
  }
  if (!ok) {
    refuseOrFail(run, message, refusesRow(r.get()));
    return;
  }
  if (policy_.requireChange && !changed) {
    refuseOrFail(run, kNoRowToUpdate, true);
    return;
  }
  ++runs_;
}

void PgStatement::refuseOrFail(int64_t run, const std::string& message, bool refusable) {
  if (!policy_.skipRefused || !refusable) throw StatementError(message, runs_);
  refused_.push_back({run, message});
}

void PgStatement::startBatch() {
  conn_->claim(this);
  open_ = true;
  try {
    conn_->exec("savepoint vov_batch");
    if (!PQenterPipelineMode(pg()) || PQsetnonblocking(pg(), 1) != 0) conn_->fail();
    pipelined_ = true;
  } catch (const StatementError&) {
    throw;
  } catch (const Error& e) {
    clearBatch();
    throw StatementError(e.what(), runs_);
  }
}

void PgStatement::sendPrepared(int run) {
  bindRun(run);
  if (!PQsendQueryPrepared(pg(), name_.c_str(), nParams_, values_.data(), lengths_.data(),
                           formats_.data(), 0))
    broken();
}

void PgStatement::sendRun(int run) {
  sendPrepared(run);
  if ((run + 1) % kFlushEvery == 0 && PQflush(pg()) != 0) {
    try {
      conn_->flushAll();
    } catch (const Error&) {
      broken();
    }
  }
}

void PgStatement::endBatch() {
  std::string message;
  int failed;
  try {
    if (PQpipelineSync(pg()) != 1) broken();
    conn_->flushAll();
    failed = readPipelineResults(batchRuns_, &message);
    pipelined_ = false;
  } catch (const StatementError&) {
    throw;
  } catch (const Error&) {
    broken();
  }
  if (failed >= 0) failAt(failed, message);
  keepBatch();
}

// Sends runs 0 to count-1 of the batch as a pipeline and waits for them;
// the index of the first that failed (with its message), or -1.
int PgStatement::pipelineRuns(int count, std::string* message) {
  if (!PQenterPipelineMode(pg()) || PQsetnonblocking(pg(), 1) != 0) conn_->fail();
  pipelined_ = true;
  for (int run = 0; run < count; ++run) {
    sendPrepared(run);
    if ((run + 1) % kFlushEvery == 0 && PQflush(pg()) != 0) conn_->flushAll();
  }
  if (PQpipelineSync(pg()) != 1) conn_->fail();
  conn_->flushAll();
  int failed = readPipelineResults(count, message);
  pipelined_ = false;
  return failed;
}

// Reads the results of `count` pipelined runs and the sync after them, and
// leaves pipeline mode.
int PgStatement::readPipelineResults(int count, std::string* message) {
  if (PQsetnonblocking(pg(), 0) != 0) conn_->fail();
  int failed = -1;
  for (int run = 0; run < count; ++run) {
    Result r(PQgetResult(pg()));
    if (!r || conn_->lost()) conn_->fail(r.get());
    ExecStatusType st = PQresultStatus(r.get());
    if (st == PGRES_FATAL_ERROR && failed < 0) {
      failed = run;
      *message = conn_->message(r.get());
    }
    Result end(PQgetResult(pg()));  // each run's results end with a null
  }
  Result sync(PQgetResult(pg()));
  if (!sync || PQresultStatus(sync.get()) != PGRES_PIPELINE_SYNC) conn_->fail(sync.get());
  if (!PQexitPipelineMode(pg())) conn_->fail();
  return failed;
}

void PgStatement::keepBatch() {
  try {
    conn_->exec("release savepoint vov_batch");
  } catch (const Error&) {
    broken();
  }
  runs_ += batchRuns_;
  clearBatch();
}

// The batch's run `failed` failed: back to the batch's savepoint, the runs
// before it again (until they all go in; one may fail this time in its
// stead), and the failure raised with the count of runs kept.
void PgStatement::failAt(int failed, std::string message) {
  try {
    for (;;) {
      conn_->exec("rollback to savepoint vov_batch");
      if (failed == 0) break;
      std::string again;
      int f = pipelineRuns(failed, &again);
      if (f < 0) break;
      failed = f;
      message = again;
    }
    conn_->exec("release savepoint vov_batch");
  } catch (const Error&) {
    broken();
  }
  runs_ += failed;
  clearBatch();
  throw StatementError(message, runs_);
}

// The conversation cannot go on (the connection is lost, or the server
// broke the protocol): the batch is gone with the transaction.
void PgStatement::broken() {
  std::string message = conn_->message();
  clearBatch();
  throw StatementError(message, runs_);
}

void PgStatement::clearBatch() {
  if (pipelined_ && !conn_->lost()) {
    PQsetnonblocking(pg(), 0);
    PQexitPipelineMode(pg());
  }
  pipelined_ = false;
  open_ = false;
  batchRuns_ = 0;
  arena_.clear();
  slots_.clear();
  if (arena_.capacity() > 2 * kBatchBytes) std::string().swap(arena_);
  conn_->yield(this);
}

}  // namespace

std::unique_ptr<Statement> prepareStatement(const std::shared_ptr<Conn>& conn,
                                            const std::string& sql) {
  return std::make_unique<PgStatement>(conn, sql);
}

}  // namespace vov::pg
