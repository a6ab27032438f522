// Connection strings and choosing the backend for a data source.
#include "data/connection_string.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "data/mariadb/maria_text.h"

namespace vov {

static const char kProvider[] = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=";
static const char kTail[] = ";Persist Security Info=False";

std::string buildConnectionString(const std::string& path) {
  std::string s = kProvider;
  s += path;
  s += ";";
  s += "Persist Security Info=False";
  return s;
}

std::string dataSourceOf(const std::string& cs) {
  static const std::string key = "Data Source=";
  size_t at = cs.find(key);
  if (at == std::string::npos) return cs;
  size_t start = at + key.size();
  const size_t tailLen = sizeof kTail - 1;
  // The path may itself hold ";", so the fixed tail is cut from the end.
  if (cs.size() >= start + tailLen &&
      cs.compare(cs.size() - tailLen, tailLen, kTail) == 0)
    return cs.substr(start, cs.size() - tailLen - start);
  size_t end = cs.find(';', start);
  return cs.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

static bool startsWith(std::string_view s, std::string_view p) {
  return s.size() >= p.size() && s.compare(0, p.size(), p) == 0;
}

static bool isPostgresAddress(const std::string& s) {
  return startsWith(s, "postgresql://") || startsWith(s, "postgres://");
}

EngineKind detectEngine(const std::string& source, int* openErrno) {
  if (isPostgresAddress(source)) return EngineKind::Postgres;
  if (maria::isAddress(source)) return EngineKind::MariaDb;
  // Not blocking: opening a named pipe would otherwise wait for a writer
  // that never comes.
  const int fd = ::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (openErrno) *openErrno = errno;
    return EngineKind::Missing;
  }
  struct stat st;
  unsigned char head[32] = {0};
  ssize_t got = 0;
  // Devices, pipes and folders are no database files, whatever they yield.
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) got = ::pread(fd, head, sizeof head, 0);
  ::close(fd);
  if (got >= 16 && std::memcmp(head, "SQLite format 3", 16) == 0)
    return EngineKind::Sqlite;
  // Jet and ACE files carry their format name at offset 4.
  if (got >= 19 && (std::memcmp(head + 4, "Standard Jet DB", 15) == 0 ||
                    std::memcmp(head + 4, "Standard ACE DB", 15) == 0))
    return EngineKind::Access;
  return EngineKind::Unknown;
}

std::string withoutPassword(const std::string& source) {
  if (maria::isAddress(source)) return maria::hidePassword(source);
  if (!isPostgresAddress(source)) return source;
  size_t scheme = source.find("://") + 3;
  size_t slash = source.find('/', scheme);
  size_t at = source.rfind('@', slash == std::string::npos ? std::string::npos : slash);
  std::string out = source;
  if (at != std::string::npos && at > scheme) {
    size_t colon = source.find(':', scheme);
    if (colon != std::string::npos && colon < at)
      out = source.substr(0, colon + 1) + "***" + source.substr(at);
  }
  // A password may also come as a query parameter.
  size_t q = out.find('?');
  if (q != std::string::npos) {
    size_t p = out.find("password=", q);
    while (p != std::string::npos) {
      if (out[p - 1] == '?' || out[p - 1] == '&') {
        size_t e = out.find('&', p);
        out = out.substr(0, p + 9) + "***" +
              (e == std::string::npos ? std::string() : out.substr(e));
      }
      p = out.find("password=", p + 1);
    }
  }
  return out;
}

}  // namespace vov
