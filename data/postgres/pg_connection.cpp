// Connecting to a PostgreSQL server, running statements and wording its
// errors.
#include "data/postgres/pg_connection.h"

#include <sys/socket.h>

#include <set>
#include <utility>

#include "data/connection_string.h"
#include "data/postgres/pg_text.h"

namespace vov::pg {

const char kConnectionLost[] = "与 PostgreSQL 服务器的连接已断开：";

static void ignoreNotice(void*, const char*) {}

static std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.pop_back();
  return s;
}

// Every spelling of the password an address may carry: as libpq reads it,
// and as written in the address (percent-encoded, or as a parameter).
static std::vector<std::string> secretsOf(const std::string& address) {
  std::vector<std::string> secrets;
  char* err = nullptr;
  if (PQconninfoOption* opts = PQconninfoParse(address.c_str(), &err)) {
    for (PQconninfoOption* o = opts; o->keyword; ++o)
      if (std::string(o->keyword) == "password" && o->val && *o->val) secrets.push_back(o->val);
    PQconninfoFree(opts);
  }
  PQfreemem(err);
  size_t scheme = address.find("://");
  if (scheme != std::string::npos) {
    size_t start = scheme + 3;
    size_t slash = address.find_first_of("/?", start);
    size_t at = address.rfind('@', slash == std::string::npos ? std::string::npos : slash);
    if (at != std::string::npos && at > start) {
      size_t colon = address.find(':', start);
      if (colon != std::string::npos && colon < at) secrets.push_back(address.substr(colon + 1, at - colon - 1));
    }
  }
  for (size_t p = address.find("password="); p != std::string::npos;
       p = address.find("password=", p + 1)) {
    size_t end = address.find('&', p);
    secrets.push_back(address.substr(p + 9, end == std::string::npos ? std::string::npos : end - p - 9));
  }
  std::vector<std::string> kept;
  for (auto& s : secrets)
    if (!s.empty()) kept.push_back(s);
  return kept;
}

// What a lost connection says when the server stayed silent.
static std::string silence(int seconds) {
  return "服务器已有 " + std::to_string(seconds) + " 秒没有应答（服务器停止响应或网络中断）";
}

static const char kInterrupted[] = "等待服务器应答时被中断";

std::shared_ptr<Conn> Conn::open(const std::string& address) {
  std::vector<std::string> secrets = secretsOf(address);
  // The address's own settings come after the defaults and win over them;
  // the encoding comes last because every text here is UTF-8.
  const char* keys[] = {"fallback_application_name", "dbname", "client_encoding", nullptr};
  const char* values[] = {"vovarize", address.c_str(), "UTF8", nullptr};
  PGconn* pg = PQconnectStartParams(keys, values, 1);
  if (!pg) throw Error("无法连接 PostgreSQL 服务器：内存不足");
  std::shared_ptr<Conn> conn(new Conn(pg, std::move(secrets)));
  auto refuse = [&](const std::string& why) {
    throw Error("无法连接 PostgreSQL 服务器“" + withoutPassword(address) + "”：" + conn->scrub(why));
  };
  // libpq's own connect_timeout only holds in its blocking connect.
  SocketWait w;
  PostgresPollingStatusType st = PGRES_POLLING_WRITING;
  while (st != PGRES_POLLING_OK) {
    if (st == PGRES_POLLING_FAILED || PQstatus(pg) == CONNECTION_BAD)
      refuse(trimmed(PQerrorMessage(pg)));
    SocketWait::Outcome o = w.wait(PQsocket(pg), st == PGRES_POLLING_READING, st == PGRES_POLLING_WRITING);
    if (o == SocketWait::kTimedOut) refuse(silence(w.timeoutSeconds()));
    if (o == SocketWait::kInterrupted) refuse(kInterrupted);
    st = PQconnectPoll(pg);
  }
  PQsetNoticeProcessor(pg, ignoreNotice, nullptr);
  if (PQsetnonblocking(pg, 1) != 0) refuse(trimmed(PQerrorMessage(pg)));
  // Text results in the forms valueFromText reads.
  conn->exec(
      "set datestyle = 'ISO, YMD'; set intervalstyle = 'postgres'; "
      "set extra_float_digits = 1; set bytea_output = 'hex'; set lc_monetary = 'C'");
  return conn;
}

Conn::Conn(PGconn* pg, std::vector<std::string> secrets) : pg_(pg), secrets_(std::move(secrets)) {}

// The socket is non-blocking, so saying goodbye never waits on the server.
Conn::~Conn() { PQfinish(pg_); }

void Conn::claim(ConnUser* user) {
  if (holder_ && holder_ != user) {
    ConnUser* previous = holder_;
    holder_ = nullptr;
    previous->release();
  }
  holder_ = user;
}

bool Conn::inTransaction() const {
  PGTransactionStatusType s = PQtransactionStatus(pg_);
  return s == PQTRANS_INTRANS || s == PQTRANS_INERROR;
}

void Conn::checkAlive() {
  if (!lostReason_.empty()) throw Error(lostReason_);
  if (PQstatus(pg_) == CONNECTION_BAD) lostNow();
}

std::string Conn::scrub(std::string text) const {
  for (const std::string& secret : secrets_)
    for (size_t p = text.find(secret); p != std::string::npos; p = text.find(secret, p + 3))
      text.replace(p, secret.size(), "***");
  return text;
}

std::string Conn::message(const PGresult* r) const {
  if (!r && !lostReason_.empty()) return lostReason_;
  std::string m;
  if (r) {
    if (const char* primary = PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY)) {
      m = primary;
      if (const char* detail = PQresultErrorField(r, PG_DIAG_MESSAGE_DETAIL)) {
        m += "\n";
        m += detail;
      }
    } else {
      m = PQresultErrorMessage(r);
    }
  }
  m = trimmed(m);
  if (m.empty()) m = trimmed(PQerrorMessage(pg_));
  if (m.empty()) m = "PostgreSQL 服务器报告了错误，但没有说明原因";
  if (lost()) m = kConnectionLost + m;
  return scrub(m);
}

void Conn::fail(const PGresult* r) {
  std::string m = message(r);
  if (PQstatus(pg_) == CONNECTION_BAD && lostReason_.empty()) lostReason_ = m;
  throw Error(m);
}

void Conn::lostNow() {
  if (lostReason_.empty()) {
    std::string why = trimmed(PQerrorMessage(pg_));
    if (why.empty()) why = "服务器关闭了连接";
    lostReason_ = kConnectionLost + scrub(why);
  }
  throw Error(lostReason_);
}

void Conn::abandon(const std::string& why) {
  if (lostReason_.empty()) lostReason_ = kConnectionLost + why;
  // The server, when it comes back, finds the connection closed and undoes
  // the transaction it was in; libpq fails at once from here on.
  shutdown(PQsocket(pg_), SHUT_RDWR);
  throw Error(lostReason_);
}

void Conn::await(SocketWait& w, bool read, bool write) {
  switch (w.wait(PQsocket(pg_), read, write)) {
    case SocketWait::kReady: return;
    case SocketWait::kTimedOut: abandon(silence(w.timeoutSeconds()));
    case SocketWait::kInterrupted: abandon(kInterrupted);
  }
}

void Conn::sent(int ok) {
  if (ok == 1) return;
  if (PQstatus(pg_) == CONNECTION_BAD) lostNow();
  throw Error(scrub(trimmed(PQerrorMessage(pg_))));
}

Result Conn::nextResult() {
  checkAlive();
  SocketWait w;
  for (;;) {
    if (!PQisBusy(pg_)) {
      Result r(PQgetResult(pg_));
      // A server that ends the connection says why in its last result.
      if (PQstatus(pg_) == CONNECTION_BAD && lostReason_.empty()) lostReason_ = message(r.get());
      return r;
    }
    int f = PQflush(pg_);
    if (f < 0) lostNow();
    await(w, true, f == 1);
    if (!PQconsumeInput(pg_) && PQisBusy(pg_)) lostNow();
  }
}

void Conn::drain() {
  while (Result r = nextResult()) {
    ExecStatusType s = PQresultStatus(r.get());
    if (s == PGRES_COPY_IN || s == PGRES_COPY_OUT || s == PGRES_COPY_BOTH) break;
  }
}

void Conn::flushAll() {
  checkAlive();
  SocketWait w;
  for (;;) {
    int f = PQflush(pg_);
    if (f == 0) return;
    if (f < 0) lostNow();
    await(w, true, true);
    if (!PQconsumeInput(pg_)) lostNow();
  }
}

void Conn::putCopyData(const char* data, size_t n) {
  for (;;) {
    int r = PQputCopyData(pg_, data, static_cast<int>(n));
    if (r == 1) break;
    if (r < 0) sent(r);
    flushAll();
  }
  // Bytes the socket would not take stay in libpq's buffer, which would
  // grow without bound while the server is behind.
  int f = PQflush(pg_);
  if (f < 0) lostNow();
  if (f == 1) flushAll();
}

Result Conn::exec(const std::string& sql) {
  checkAlive();
  sent(PQsendQuery(pg_, sql.c_str()));
  Result last, failure;
  while (Result r = nextResult()) {
    ExecStatusType s = PQresultStatus(r.get());
    if (s == PGRES_COPY_IN || s == PGRES_COPY_OUT) return r;
    if (s != PGRES_COMMAND_OK && s != PGRES_TUPLES_OK && s != PGRES_EMPTY_QUERY) {
      if (!failure) failure = std::move(r);
    } else {
      last = std::move(r);
    }
  }
  if (failure || !last) fail(failure.get());
  return last;
}

// The one result of a command sent with the extended protocol.
static Result single(Conn& c, ExecStatusType want) {
  Result r = c.nextResult();
  c.drain();
  ExecStatusType s = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
  if (s != want && !(want == PGRES_TUPLES_OK && s == PGRES_COMMAND_OK)) c.fail(r.get());
  return r;
}

Result Conn::prepare(const std::string& name, const std::string& sql) {
  checkAlive();
  sent(PQsendPrepare(pg_, name.c_str(), sql.c_str(), 0, nullptr));
  single(*this, PGRES_COMMAND_OK);
  sent(PQsendDescribePrepared(pg_, name.c_str()));
  return single(*this, PGRES_COMMAND_OK);
}

void Conn::probe() {
  checkAlive();
  if (!PQconsumeInput(pg_)) lostNow();
}

Result Conn::run(const std::string& sql, const std::vector<Value>& params) {
  Result desc = prepare("", sql);
  const int n = PQnparams(desc.get());
  std::vector<std::string> texts(static_cast<size_t>(n));
  std::vector<const char*> values(static_cast<size_t>(n), nullptr);
  std::vector<int> lengths(static_cast<size_t>(n), 0), formats(static_cast<size_t>(n), 0);
  for (int i = 0; i < n && i < static_cast<int>(params.size()); ++i) {
    const Value& v = params[static_cast<size_t>(i)];
    const size_t k = static_cast<size_t>(i);
    if (v.isNull()) continue;
    if (v.kind() == Value::Kind::Bytes && PQparamtype(desc.get(), i) == kBytea) {
      values[k] = v.str().data();
      lengths[k] = static_cast<int>(v.str().size());
      formats[k] = 1;
      continue;
    }
    if (!appendParamText(v, texts[k]))
      throw Error("文本中含有零字符（\\0），PostgreSQL 不能保存这样的文本");
    values[k] = texts[k].c_str();
  }
  sent(PQsendQueryPrepared(pg_, "", n, values.data(), lengths.data(), formats.data(), 0));
  return single(*this, PGRES_TUPLES_OK);
}

void Conn::setPending(const void* owner, const StatementError& e) {
  if (pending_) return;  // the first failure is the one that counts
  pending_ = std::make_unique<StatementError>(e);
  pendingOwner_ = owner;
}

void Conn::throwPending(const void* owner) {
  if (!pending_ || (owner && pendingOwner_ != owner)) return;
  StatementError e = *pending_;
  pending_.reset();
  throw e;
}

std::vector<FieldInfo> Conn::describeFields(const PGresult* d) {
  const int n = PQnfields(d);
  std::set<Oid> tables;
  for (int i = 0; i < n; ++i)
    if (PQftable(d, i) != InvalidOid && isIntegerType(PQftype(d, i))) tables.insert(PQftable(d, i));
  std::set<std::pair<Oid, int>> autoInc;
  if (!tables.empty()) {
    std::string list = "{";
    for (Oid t : tables) list += (list.size() > 1 ? "," : "") + std::to_string(t);
    list += "}";
    Result r = run(
        "select a.attrelid, a.attnum from pg_catalog.pg_attribute a "
        "left join pg_catalog.pg_attrdef d on d.adrelid = a.attrelid and d.adnum = a.attnum "
        "where a.attrelid = any($1::oid[]) and a.attnum > 0 and not a.attisdropped "
        "and (a.attidentity in ('a', 'd') "
        "or pg_catalog.pg_get_expr(d.adbin, d.adrelid) like 'nextval(%')",
        {Value::fromText(list)});
    for (int row = 0; row < PQntuples(r.get()); ++row)
      autoInc.emplace(static_cast<Oid>(std::stoul(PQgetvalue(r.get(), row, 0))),
                      std::stoi(PQgetvalue(r.get(), row, 1)));
  }
  std::vector<FieldInfo> fields;
  fields.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    bool ai = autoInc.count({PQftable(d, i), PQftablecol(d, i)}) > 0;
    fields.push_back(fieldInfoFor(PQfname(d, i), PQftype(d, i), PQfmod(d, i), ai));
  }
  return fields;
}

}  // namespace vov::pg
