// Runs of a prepared statement, alone or in batches inside a transaction.
#include "data/postgres/pg_statement.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "data/postgres/pg_copy.h"
#include "data/postgres/pg_text.h"

namespace vov::pg {

namespace {

// Pipelined runs between checks that the server keeps up.
constexpr int kFlushEvery = 512;
// COPY data is handed to libpq in pieces of about this size.
constexpr size_t kCopyChunk = 64u << 10;

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
  int64_t runsInFlight() const override { return open_ ? batchRuns_ : 0; }

 private:
  enum class Mode { Undecided, Pipeline, CopyBinary, CopyText };

  struct Slot {
    size_t offset;
    int length;  // -1 for null
    bool binary;
  };

  // A run of the batch that failed when it went again alone.
  struct Failure {
    int run = -1;
    std::string message;
    bool refusable = false;  // about the row's values, not the session
  };

  void decideMode();
  bool encodeRun(const std::vector<Value>& params);
  void dropLastRun();
  void bindRun(int run);
  const SentValue* sentOf(int run);
  Result runOne();
  void runAlone();
  void runFenced(int64_t run, const std::vector<Value>& params);
  void refuseOrFail(int64_t run, const std::string& message, bool refusable);
  void queue(int64_t run, const std::vector<Value>& params);
  void startBatch(int64_t run);
  void sendPrepared(int run);
  void queueCopyRow(const std::vector<Value>& params);
  void endBatch();
  void endPipeline();
  void endCopy();
  int readPipeline(int commands, Failure* failure);
  void replayBatch(int hint);
  Failure replayRuns(int from, int to);
  void keepBatch();
  [[noreturn]] void broken(const std::string& message);
  void clearBatch();
  void releaseSavepoint() noexcept;
  PGconn* pg() const { return conn_->pg(); }

  std::shared_ptr<Conn> conn_;
  std::string text_;  // the statement with $n placeholders
  std::string name_;
  int nParams_ = 0;
  std::vector<unsigned> types_;  // of the parameters, as the server infers them
  int64_t runs_ = 0;             // runs known to have succeeded
  int64_t issued_ = 0;           // every run, refused ones included
  RunPolicy policy_;
  std::vector<RefusedRun> refused_;
  Mode mode_ = Mode::Undecided;
  std::string copySql_;
  std::unique_ptr<CopyRows> copyRows_;

  // The batch in flight (or the one run outside a transaction).
  bool open_ = false;
  bool pipelined_ = false;
  bool copying_ = false;
  // The batch savepoint stays set after a batch went in, and is released
  // when the next batch starts (in the same round trip) or the connection
  // is claimed by another user.
  bool savepoint_ = false;
  int batchRuns_ = 0;
  int64_t batchFirst_ = 0;  // the batch's first run, counted as issued_
  std::string arena_;  // every value's text or bytes, each followed by a zero byte
  std::vector<Slot> slots_;
  std::vector<const char*> values_;
  std::vector<int> lengths_, formats_;
  std::string copyBuf_;  // COPY data not yet handed to libpq
  std::vector<SentValue> sent_;
};

PgStatement::PgStatement(std::shared_ptr<Conn> conn, const std::string& sql)
    : conn_(std::move(conn)) {
  conn_->claim(nullptr);
  int count = 0;
  text_ = numberPlaceholders(sql, &count);
  name_ = conn_->nextName("vov_s");
  conn_->fenced([&] {
    Result d = conn_->prepare(name_, text_);
    nParams_ = PQnparams(d.get());
    for (int i = 0; i < nParams_; ++i) types_.push_back(PQparamtype(d.get(), i));
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
  releaseSavepoint();
  if (!conn_->lost() && !conn_->holder()) {
    try {
      conn_->exec("deallocate " + name_);
    } catch (const Error&) {
      // The name dies with the session anyway.
    }
  }
}

void PgStatement::release() noexcept {
  if (open_) {
    try {
      endBatch();
    } catch (const StatementError& e) {
      conn_->setPending(this, e);
    } catch (const std::exception& e) {
      conn_->setPending(this, StatementError(e.what(), runs_));
    }
  }
  releaseSavepoint();
}

void PgStatement::releaseSavepoint() noexcept {
  if (savepoint_) {
    savepoint_ = false;
    try {
      if (!conn_->lost()) conn_->exec("release savepoint vov_batch");
    } catch (const std::exception&) {
      // Only possible in a transaction that has failed anyway.
    }
  }
  conn_->yield(this);
}

// COPY takes the runs' place for a plain insert into a table that treats
// COPY's rows as it treats inserted ones.
void PgStatement::decideMode() {
  mode_ = Mode::Pipeline;
  PlainInsert insert;
  if (!parsePlainInsert(text_, nParams_, &insert)) return;
  bool copyable = false;
  conn_->fenced([&] {
    Result rel = conn_->run(
        "select c.oid, c.relkind in ('r', 'p') and not c.relhasrules"
        " and not pg_catalog.row_security_active(c.oid)"
        // Statement triggers and transition tables see one COPY where
        // inserts would be many statements.
        " and not exists (select 1 from pg_catalog.pg_trigger t where t.tgrelid = c.oid"
        "   and not t.tgisinternal and t.tgtype & 4 <> 0"
        "   and (t.tgtype & 1 = 0 or t.tgnewtable is not null))"
        " from pg_catalog.pg_class c where c.oid = pg_catalog.to_regclass($1::text)",
        {Value::fromText(insert.table)});
    if (PQntuples(rel.get()) != 1 || PQgetvalue(rel.get(), 0, 1)[0] != 't') return;
    // Identity and generated columns need no check: an insert naming them
    // fails when it is prepared.
    if (insert.columns.empty()) {
      Result cols = conn_->run(
          "select a.attname from pg_catalog.pg_attribute a where a.attrelid = $1::oid"
          " and a.attnum > 0 and not a.attisdropped order by a.attnum",
          {Value::fromText(PQgetvalue(rel.get(), 0, 0))});
      if (PQntuples(cols.get()) < nParams_) return;
      for (int i = 0; i < nParams_; ++i) insert.columns.push_back(quoteIdent(PQgetvalue(cols.get(), i, 0)));
    }
    copyable = true;
  });
  if (!copyable) return;
  copyRows_ = std::make_unique<CopyRows>(types_);
  copySql_ = "copy " + insert.table + "(";
  for (size_t i = 0; i < insert.columns.size(); ++i) copySql_ += (i ? ", " : "") + insert.columns[i];
  copySql_ += ") from stdin";
  mode_ = copyRows_->binaryTypes() ? Mode::CopyBinary : Mode::CopyText;
}

void PgStatement::execute(const std::vector<Value>& params) {
  conn_->throwPending(this);
  const int64_t run = issued_++;
  if (!open_) {
    conn_->claim(this);
    if (!conn_->inTransaction()) {
      if (!encodeRun(params)) throw StatementError(kZeroByte, runs_);
      runAlone();
      return;
    }
    if (mode_ == Mode::Undecided) {
      try {
        decideMode();
      } catch (const Error& e) {
        throw StatementError(e.what(), runs_);
      }
    }
    // Updates that must find their row, and refused rows set aside where
    // no COPY stands in, go one at a time.
    if (policy_.requireChange || (policy_.skipRefused && mode_ == Mode::Pipeline)) {
      runFenced(run, params);
      return;
    }
  }
  queue(run, params);
}

// Adds the run to the batch, starting one when none is open.
void PgStatement::queue(int64_t run, const std::vector<Value>& params) {
  if (!encodeRun(params)) {
    // The runs before this one come first, with their own failure if any.
    if (open_) endBatch();
    refuseOrFail(run, kZeroByte, true);
    return;
  }
  if (!open_) startBatch(run);
  if (mode_ == Mode::Pipeline) {
    const int r = batchRuns_ - 1;
    sendPrepared(r);
    if ((r + 1) % kFlushEvery == 0) {
      try {
        conn_->flushAll();
      } catch (const Error& e) {
        broken(e.what());
      }
    }
  } else if (mode_ == Mode::CopyBinary && !copyRows_->appendBinary(params, sentOf(batchRuns_ - 1), copyBuf_)) {
    // This row has no binary form: the runs before it go as they are, and
    // it and the rest of this statement's runs go in the text form.
    dropLastRun();
    try {
      endBatch();
    } catch (...) {
      mode_ = Mode::CopyText;
      throw;
    }
    mode_ = Mode::CopyText;
    queue(run, params);
    return;
  } else if (mode_ == Mode::CopyText) {
    copyRows_->appendText(params, sentOf(batchRuns_ - 1), copyBuf_);
  }
  if (copying_ && copyBuf_.size() >= kCopyChunk) {
    try {
      conn_->putCopyData(copyBuf_.data(), copyBuf_.size());
    } catch (const Error& e) {
      broken(e.what());
    }
    copyBuf_.clear();
  }
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
    const bool binary = v.kind() == Value::Kind::Bytes && types_[k] == kBytea;
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

void PgStatement::dropLastRun() {
  --batchRuns_;
  const size_t first = static_cast<size_t>(batchRuns_) * static_cast<size_t>(nParams_);
  for (size_t k = first; k < slots_.size(); ++k)
    if (slots_[k].length >= 0) {
      arena_.resize(slots_[k].offset);
      break;
    }
  slots_.resize(first);
}

// The values of one run of the batch as the insert sends them, for COPY
// (valid until the next run is added).
const SentValue* PgStatement::sentOf(int run) {
  const Slot* s = slots_.data() + static_cast<size_t>(run) * static_cast<size_t>(nParams_);
  sent_.resize(static_cast<size_t>(nParams_));
  for (size_t k = 0; k < sent_.size(); ++k)
    sent_[k] = {s[k].length < 0 ? nullptr : arena_.data() + s[k].offset,
                static_cast<size_t>(s[k].length < 0 ? 0 : s[k].length)};
  return sent_.data();
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

// Runs the batch's one run on its own and returns its result; a failure to
// talk to the server is raised with the count of runs kept.
Result PgStatement::runOne() {
  bindRun(0);
  Result r;
  try {
    conn_->sent(PQsendQueryPrepared(pg(), name_.c_str(), nParams_, values_.data(), lengths_.data(),
                                    formats_.data(), 0));
    r = conn_->nextResult();
    conn_->drain();
  } catch (const Error& e) {
    clearBatch();
    throw StatementError(e.what(), runs_);
  }
  clearBatch();
  return r;
}

void PgStatement::runAlone() {
  Result r = runOne();
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
  Result r = runOne();
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

void PgStatement::startBatch(int64_t run) {
  conn_->claim(this);
  open_ = true;
  batchFirst_ = run;
  std::string sql = savepoint_ ? "release savepoint vov_batch; savepoint vov_batch" : "savepoint vov_batch";
  if (mode_ != Mode::Pipeline) sql += "; " + copySql_ + (mode_ == Mode::CopyBinary ? " (format binary)" : "");
  try {
    conn_->exec(sql);
    savepoint_ = true;
    if (mode_ == Mode::Pipeline) {
      if (!PQenterPipelineMode(pg())) conn_->fail();
      pipelined_ = true;
    } else {
      copying_ = true;
      if (mode_ == Mode::CopyBinary) CopyRows::appendBinaryHeader(copyBuf_);
    }
  } catch (const Error& e) {
    broken(e.what());
  }
}

void PgStatement::sendPrepared(int run) {
  bindRun(run);
  try {
    conn_->sent(PQsendQueryPrepared(pg(), name_.c_str(), nParams_, values_.data(), lengths_.data(),
                                    formats_.data(), 0));
  } catch (const Error& e) {
    broken(e.what());
  }
}

void PgStatement::endBatch() {
  if (mode_ == Mode::Pipeline) endPipeline();
  else endCopy();
}

void PgStatement::endPipeline() {
  Failure failed;
  try {
    conn_->sent(PQpipelineSync(pg()));
    conn_->flushAll();
    readPipeline(batchRuns_, &failed);
    pipelined_ = false;
    if (failed.run >= 0) replayBatch(failed.run);
  } catch (const StatementError&) {
    throw;
  } catch (const Error& e) {
    broken(e.what());
  }
  if (failed.run < 0) keepBatch();
}

// The line of a failed COPY's context ("COPY t, line 12: ..."), from 0; -1
// when it does not say.
int failedLine(const PGresult* r) {
  const char* context = PQresultErrorField(r, PG_DIAG_CONTEXT);
  if (!context) return -1;
  const std::string c(context);
  const size_t at = c.find(", line ");
  if (c.compare(0, 5, "COPY ") != 0 || at == std::string::npos) return -1;
  long line = std::strtol(c.c_str() + at + 7, nullptr, 10);
  return line >= 1 && line <= kBatchRuns ? static_cast<int>(line - 1) : -1;
}

void PgStatement::endCopy() {
  bool failed = false;
  try {
    if (mode_ == Mode::CopyBinary) CopyRows::appendBinaryTrailer(copyBuf_);
    conn_->putCopyData(copyBuf_.data(), copyBuf_.size());
    copyBuf_.clear();
    for (;;) {
      int r = PQputCopyEnd(pg(), nullptr);
      if (r == 1) break;
      if (r < 0) conn_->sent(r);
      conn_->flushAll();
    }
    conn_->flushAll();
    copying_ = false;
    Result r = conn_->nextResult();
    conn_->drain();
    if (!r || PQresultStatus(r.get()) != PGRES_COMMAND_OK) {
      if (conn_->lost()) conn_->fail(r.get());
      failed = true;
      replayBatch(failedLine(r.get()));
    }
  } catch (const StatementError&) {
    throw;
  } catch (const Error& e) {
    broken(e.what());
  }
  if (!failed) keepBatch();
}

// Reads the results of `commands` pipelined commands and the sync after
// them, and leaves pipeline mode; the index of the first that failed (its
// message in `failure`), or -1.
int PgStatement::readPipeline(int commands, Failure* failure) {
  int failed = -1;
  for (int c = 0; c < commands; ++c) {
    Result r = conn_->nextResult();
    if (!r || conn_->lost()) conn_->fail(r.get());
    if (PQresultStatus(r.get()) == PGRES_FATAL_ERROR && failed < 0) {
      failed = c;
      failure->run = c;
      failure->message = conn_->message(r.get());
      failure->refusable = refusesRow(r.get());
    }
    Result end = conn_->nextResult();  // each command's results end with a null
  }
  Result sync = conn_->nextResult();
  if (!sync || PQresultStatus(sync.get()) != PGRES_PIPELINE_SYNC) conn_->fail(sync.get());
  if (!PQexitPipelineMode(pg())) conn_->fail();
  return failed;
}

// A batch failed; the server named run `hint` (-1: none). Back to the
// batch's savepoint, the runs go again one statement each, up to the first
// that fails: the runs before it are kept and its own failure raised, or,
// when refused rows are set aside and it is one, it is set aside and the
// runs after it go on.
void PgStatement::replayBatch(int hint) {
  conn_->exec("rollback to savepoint vov_batch");
  int from = 0, kept = 0;
  int end = hint >= 0 && hint < batchRuns_ ? hint + 1 : batchRuns_;
  while (from < batchRuns_) {
    const Failure f = replayRuns(from, end);
    if (f.run < 0) {
      kept += end - from;
      from = end;
      end = batchRuns_;
      continue;
    }
    kept += f.run - from;
    if (!policy_.skipRefused || !f.refusable) {
      runs_ += kept;
      clearBatch();
      throw StatementError(f.message, runs_);
    }
    refused_.push_back({batchFirst_ + f.run, f.message});
    from = f.run + 1;
    end = batchRuns_;
  }
  runs_ += kept;
  clearBatch();
}

// Runs from..to-1, pipelined, each under a savepoint of its own, so that a
// failure undoes its own run only; the runs before the failing one stay.
PgStatement::Failure PgStatement::replayRuns(int from, int to) {
  Failure f;
  if (from >= to) return f;
  if (!PQenterPipelineMode(pg())) conn_->fail();
  pipelined_ = true;
  auto simple = [this](const char* sql) {
    conn_->sent(PQsendQueryParams(pg(), sql, 0, nullptr, nullptr, nullptr, nullptr, 0));
  };
  for (int run = from; run < to; ++run) {
    simple("savepoint vov_row");
    bindRun(run);
    conn_->sent(PQsendQueryPrepared(pg(), name_.c_str(), nParams_, values_.data(), lengths_.data(),
                                    formats_.data(), 0));
    simple("release savepoint vov_row");
    if ((run - from + 1) % kFlushEvery == 0) conn_->flushAll();
  }
  conn_->sent(PQpipelineSync(pg()));
  conn_->flushAll();
  const int failed = readPipeline(3 * (to - from), &f);
  pipelined_ = false;
  if (failed < 0) return f;
  if (failed % 3 != 1) throw Error(f.message);  // a savepoint itself
  f.run = from + failed / 3;
  conn_->exec("rollback to savepoint vov_row; release savepoint vov_row");
  return f;
}

void PgStatement::keepBatch() {
  runs_ += batchRuns_;
  clearBatch();
}

// The conversation cannot go on (the connection is lost, or the server
// broke the protocol): the batch is gone with the transaction.
void PgStatement::broken(const std::string& message) {
  clearBatch();
  savepoint_ = false;
  conn_->yield(this);
  throw StatementError(message, runs_);
}

void PgStatement::clearBatch() {
  if (pipelined_ && !conn_->lost()) PQexitPipelineMode(pg());
  pipelined_ = false;
  copying_ = false;
  open_ = false;
  batchRuns_ = 0;
  arena_.clear();
  slots_.clear();
  copyBuf_.clear();
  if (arena_.capacity() > 2 * kBatchBytes) std::string().swap(arena_);
  if (!savepoint_) conn_->yield(this);
}

}  // namespace

std::unique_ptr<Statement> prepareStatement(const std::shared_ptr<Conn>& conn,
                                            const std::string& sql) {
  return std::make_unique<PgStatement>(conn, sql);
}

}  // namespace vov::pg
