// Connecting to a MySQL/MariaDB server, the bounded waits of the
// non-blocking connector, running plain statements and wording errors.
#include "data/mariadb/maria_connection.h"

#include <errmsg.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "data/server_wait.h"

namespace vov::maria {

const char kConnectionLost[] = "与 MySQL/MariaDB 服务器的连接已断开：";

namespace {


// Strict: a value the column cannot hold is an error at its row, never cut
// or zeroed; and a table is never silently made with another engine.
const char kSessionSqlMode[] =
    "SET SESSION sql_mode = 'STRICT_ALL_TABLES,STRICT_TRANS_TABLES,NO_ZERO_IN_DATE,"
    "NO_ZERO_DATE,ERROR_FOR_DIVISION_BY_ZERO,NO_ENGINE_SUBSTITUTION'";

bool isLostError(unsigned e) {
  return e == CR_SERVER_GONE_ERROR || e == CR_SERVER_LOST || e == CR_CONNECTION_ERROR ||
         e == CR_CONN_HOST_ERROR || e == CR_SERVER_LOST_EXTENDED;
}

// Every spelling of the password: as the connector takes it, and as
// written in the address (percent-encoded).
std::vector<std::string> secretsOf(const std::string& text, const Address& a) {
  std::vector<std::string> secrets;
  if (!a.password.empty()) secrets.push_back(a.password);
  const std::string hidden = hidePassword(text);
  const size_t star = hidden.find("***");
  if (star != std::string::npos) {
    const size_t tail = hidden.size() - star - 3;
    std::string raw = text.substr(star, text.size() - star - tail);
    if (!raw.empty() && raw != a.password) secrets.push_back(raw);
  }
  return secrets;
}

}  // namespace

MYSQL* Conn::connect(const Address& a, bool forStop, std::string* why) {
  MYSQL* m = mysql_init(nullptr);
  if (!m) {
    *why = "内存不足";
    return nullptr;
  }
  const unsigned timeout = static_cast<unsigned>(serverTimeoutSeconds());
  mysql_optionsv(m, MYSQL_SET_CHARSET_NAME, "utf8mb4");
  // A server must never be able to ask for a file of this machine.
  unsigned noLocalFiles = 0;
  mysql_optionsv(m, MYSQL_OPT_LOCAL_INFILE, &noLocalFiles);
  if (!forStop) mysql_optionsv(m, MYSQL_OPT_NONBLOCK, 0);
  const char* host = a.host.empty() || !a.socket.empty() ? "localhost" : a.host.c_str();
  const char* socket = a.socket.empty() ? nullptr : a.socket.c_str();
  // Found rows, not changed rows: an update that writes the same values
  // still finds its row.
  const unsigned long flags = CLIENT_FOUND_ROWS;
  MYSQL* ok = nullptr;
  if (forStop) {
    // Blocking, but bounded; the other connections wait in wait() alone.
    mysql_optionsv(m, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
    mysql_optionsv(m, MYSQL_OPT_READ_TIMEOUT, &timeout);
    mysql_optionsv(m, MYSQL_OPT_WRITE_TIMEOUT, &timeout);
    ok = mysql_real_connect(m, host, a.user.c_str(), a.password.c_str(), a.database.c_str(),
                            a.port, socket, flags);
  } else {
    // The connection object does not exist yet, so the wait is run here.
    Conn probe(m, a, {});
    int status = mysql_real_connect_start(&ok, m, host, a.user.c_str(), a.password.c_str(),
                                          a.database.c_str(), a.port, socket, flags);
    probe.complete(status, [&](int ready) { return mysql_real_connect_cont(&ok, m, ready); });
    if (!ok && !probe.gaveUp_.empty()) *why = probe.gaveUp_;
    probe.my_ = nullptr;
  }
  if (!ok) {
    if (why->empty()) *why = mysql_error(m);
    mysql_close(m);
    return nullptr;
  }
  return m;
}

std::shared_ptr<Conn> Conn::open(const std::string& text) {
  const Address a = parseAddress(text);
  std::vector<std::string> secrets = secretsOf(text, a);
  std::string why;
  MYSQL* m = connect(a, false, &why);
  if (!m) {
    Conn scrubber(nullptr, a, secrets);
    throw Error("无法连接 MySQL/MariaDB 服务器“" + hidePassword(text) + "”：" +
                scrubber.scrub(why));
  }
  std::shared_ptr<Conn> conn(new Conn(m, a, std::move(secrets)));
  const char* info = mysql_get_server_info(m);
  conn->mariaDb_ = info && std::strstr(info, "MariaDB") != nullptr;
  conn->exec("SET NAMES utf8mb4");
  conn->exec(kSessionSqlMode);
  std::vector<TextRow> packet = conn->rows("SELECT @@max_allowed_packet");
  if (!packet.empty() && packet[0][0]) conn->maxPacket_ = std::stoul(*packet[0][0]);
  return conn;
}

Conn::Conn(MYSQL* my, Address address, std::vector<std::string> secrets)
    : my_(my), address_(std::move(address)), secrets_(std::move(secrets)) {}

Conn::~Conn() {
  if (my_) mysql_close(my_);
}

void Conn::claim(ConnUser* user) {
  if (holder_ && holder_ != user) {
    ConnUser* previous = holder_;
    holder_ = nullptr;
    previous->release();
  }
  holder_ = user;
}

int Conn::readyNow(int status) {
  const int fd = static_cast<int>(mysql_get_socket(my_));
  if (fd < 0) return 0;
  pollfd p{fd, 0, 0};
  if (status & MYSQL_WAIT_READ) p.events |= POLLIN;
  if (status & MYSQL_WAIT_WRITE) p.events |= POLLOUT;
  if (status & MYSQL_WAIT_EXCEPT) p.events |= POLLPRI;
  if (poll(&p, 1, 0) <= 0) return 0;
  int ready = 0;
  if (p.revents & (POLLIN | POLLHUP | POLLERR)) ready |= status & MYSQL_WAIT_READ;
  if (p.revents & (POLLOUT | POLLHUP | POLLERR)) ready |= status & MYSQL_WAIT_WRITE;
  if (p.revents & POLLPRI) ready |= status & MYSQL_WAIT_EXCEPT;
  return ready;
}

// Waits for what the connector asks; a server silent for the time-out, or a
// stop request, ends the wait and the connection.
int Conn::wait(int status) {
  const int asked = status & (MYSQL_WAIT_READ | MYSQL_WAIT_WRITE | MYSQL_WAIT_EXCEPT);
  for (;;) {
    if (!gaveUp_.empty()) return asked;
    if (!asked) return MYSQL_WAIT_TIMEOUT;  // only the connector's own clock runs
    SocketWait w;
    switch (w.wait(static_cast<int>(mysql_get_socket(my_)), (status & MYSQL_WAIT_WRITE) == 0,
                   (status & MYSQL_WAIT_WRITE) != 0)) {
      case SocketWait::kReady: {
        const int ready = readyNow(status);
        return ready ? ready : asked;
      }
      case SocketWait::kTimedOut:
        giveUp(kConnectionLost + std::string("服务器已有 ") + std::to_string(w.timeoutSeconds()) +
               " 秒没有应答（服务器停止响应或网络中断）");
        break;
      case SocketWait::kInterrupted:
        giveUp(kConnectionLost + std::string("等待服务器应答时被中断"));
        break;
    }
  }
}

// Shutting the socket makes the connector's call in flight fail at once, so
// it ends in a consistent state.
void Conn::giveUp(const std::string& why) {
  if (gaveUp_.empty()) gaveUp_ = why;
  const int fd = static_cast<int>(mysql_get_socket(my_));
  if (fd >= 0) shutdown(fd, SHUT_RDWR);
}

bool Conn::lost() const {
  if (!gaveUp_.empty()) return true;
  return my_ && isLostError(mysql_errno(my_));
}

bool Conn::inTransaction() const {
  unsigned status = 0;
  if (mariadb_get_infov(my_, MARIADB_CONNECTION_SERVER_STATUS, &status) != 0) return false;
  return (status & SERVER_STATUS_IN_TRANS) != 0;
}

bool Conn::transactionDropped() {
  if (!programTransaction_ || lost()) return false;
  try {
    exec("DO 0");
  } catch (const Error&) {
    return false;
  }
  return !inTransaction();
}

std::string Conn::scrub(std::string text) const {
  for (const std::string& secret : secrets_)
    for (size_t p = text.find(secret); p != std::string::npos; p = text.find(secret, p + 3))
      text.replace(p, secret.size(), "***");
  return text;
}

unsigned Conn::errorNumber(MYSQL_STMT* stmt) const {
  return stmt ? mysql_stmt_errno(stmt) : mysql_errno(my_);
}

std::string Conn::message(MYSQL_STMT* stmt) const {
  if (!gaveUp_.empty()) return gaveUp_;
  // Some failures of a statement are told on the connection only.
  if (stmt && mysql_stmt_errno(stmt) == 0) stmt = nullptr;
  const unsigned e = errorNumber(stmt);
  std::string m = stmt ? mysql_stmt_error(stmt) : mysql_error(my_);
  if (m.empty()) m = "MySQL/MariaDB 服务器报告了错误，但没有说明原因";
  if (isLostError(e)) m = kConnectionLost + m;
  return scrub(m);
}

std::string Conn::message() const { return message(nullptr); }

void Conn::exec(const std::string& sql) {
  if (!gaveUp_.empty()) throw Error(gaveUp_);
  int ret = 0;
  complete(mysql_real_query_start(&ret, my_, sql.data(), sql.size()),
           [&](int ready) { return mysql_real_query_cont(&ret, my_, ready); });
  if (ret != 0) fail();
  if (mysql_field_count(my_) == 0) return;
  MYSQL_RES* res = nullptr;
  complete(mysql_store_result_start(&res, my_),
           [&](int ready) { return mysql_store_result_cont(&res, my_, ready); });
  if (!res) fail();
  mysql_free_result(res);
}

std::vector<Conn::TextRow> Conn::rows(const std::string& sql) {
  if (!gaveUp_.empty()) throw Error(gaveUp_);
  int ret = 0;
  complete(mysql_real_query_start(&ret, my_, sql.data(), sql.size()),
           [&](int ready) { return mysql_real_query_cont(&ret, my_, ready); });
  if (ret != 0) fail();
  std::vector<TextRow> out;
  if (mysql_field_count(my_) == 0) return out;
  MYSQL_RES* res = nullptr;
  complete(mysql_store_result_start(&res, my_),
           [&](int ready) { return mysql_store_result_cont(&res, my_, ready); });
  if (!res) fail();
  const unsigned n = mysql_num_fields(res);
  // Rows of a stored result are in memory: fetching them does no I/O.
  while (MYSQL_ROW row = mysql_fetch_row(res)) {
    unsigned long* lengths = mysql_fetch_lengths(res);
    TextRow r(n);
    for (unsigned i = 0; i < n; ++i)
      if (row[i]) r[i] = std::string(row[i], lengths[i]);
    out.push_back(std::move(r));
  }
  mysql_free_result(res);
  return out;
}

std::string Conn::literal(const std::string& s) const {
  std::string out(s.size() * 2 + 3, '\0');
  out[0] = '\'';
  unsigned long n = mysql_real_escape_string(my_, &out[1], s.data(), s.size());
  out.resize(n + 1);
  out += '\'';
  return out;
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

void Conn::stopRunningStatement() noexcept {
  if (lost()) return;
  const unsigned long id = mysql_thread_id(my_);
  std::string why;
  MYSQL* other = connect(address_, true, &why);
  if (!other) return;
  const std::string sql = "KILL QUERY " + std::to_string(id);
  mysql_real_query(other, sql.data(), sql.size());
  mysql_close(other);
}

}  // namespace vov::maria
