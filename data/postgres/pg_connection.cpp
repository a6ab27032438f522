// Connecting to a PostgreSQL server, running statements and wording its
// errors.
#include "data/postgres/pg_connection.h"

#include <poll.h>

#include <cerrno>
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

std::shared_ptr<Conn> Conn::open(const std::string& address) {
  std::vector<std::string> secrets = secretsOf(address);
  // The address's own settings come after the defaults and win over them;
  // the encoding comes last because every text here is UTF-8.
  const char* keys[] = {"connect_timeout", "fallback_application_name", "dbname", "client_encoding",
                        nullptr};
  const char* values[] = {"15", "vovarize", address.c_str(), "UTF8", nullptr};
  PGconn* pg = PQconnectdbParams(keys, values, 1);
  if (!pg) throw Error("无法连接 PostgreSQL 服务器：内存不足");
  std::shared_ptr<Conn> conn(new Conn(pg, std::move(secrets)));
  if (PQstatus(pg) != CONNECTION_OK) {
    std::string why = conn->scrub(trimmed(PQerrorMessage(pg)));
    throw Error("无法连接 PostgreSQL 服务器“" + withoutPassword(address) + "”：" + why);
  }
  PQsetNoticeProcessor(pg, ignoreNotice, nullptr);
  // Text results in the forms valueFromText reads.
  conn->exec(
      "set datestyle = 'ISO, YMD'; set intervalstyle = 'postgres'; "
      "set extra_float_digits = 1; set bytea_output = 'hex'; set lc_monetary = 'C'");
  return conn;
}

Conn::Conn(PGconn* pg, std::vector<std::string> secrets) : pg_(pg), secrets_(std::move(secrets)) {}

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

std::string Conn::scrub(std::string text) const {
  for (const std::string& secret : secrets_)
    for (size_t p = text.find(secret); p != std::string::npos; p = text.find(secret, p + 3))
      text.replace(p, secret.size(), "***");
  return text;
}

std::string Conn::message(const PGresult* r) const {
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

Result Conn::exec(const std::string& sql) {
  Result r(PQexec(pg_, sql.c_str()));
  ExecStatusType s = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
  if (s != PGRES_COMMAND_OK && s != PGRES_TUPLES_OK && s != PGRES_EMPTY_QUERY) fail(r.get());
  return r;
}

Result Conn::run(const std::string& sql, const std::vector<Value>& params) {
  Result prepared(PQprepare(pg_, "", sql.c_str(), 0, nullptr));
  if (!prepared || PQresultStatus(prepared.get()) != PGRES_COMMAND_OK) fail(prepared.get());
  Result desc(PQdescribePrepared(pg_, ""));
  if (!desc || PQresultStatus(desc.get()) != PGRES_COMMAND_OK) fail(desc.get());
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
  Result r(PQexecPrepared(pg_, "", n, values.data(), lengths.data(), formats.data(), 0));
  ExecStatusType s = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
  if (s != PGRES_COMMAND_OK && s != PGRES_TUPLES_OK) fail(r.get());
  return r;
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

void Conn::flushAll() {
  for (;;) {
    int f = PQflush(pg_);
    if (f == 0) return;
    if (f < 0) fail();
    pollfd p{PQsocket(pg_), POLLIN | POLLOUT, 0};
    if (poll(&p, 1, -1) < 0 && errno != EINTR) fail();
    if ((p.revents & (POLLIN | POLLHUP | POLLERR)) && !PQconsumeInput(pg_)) fail();
  }
}

}  // namespace vov::pg
