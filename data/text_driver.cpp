// The CSV writer behind the export statement.
#include "data/text_driver.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "data/backend.h"
#include "data/error.h"

namespace vov {

static std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// One identifier, bare or in "", [] or `` quotes, filling all of `s`.
static bool isSingleName(const std::string& s) {
  if (s.empty()) return false;
  char open = s.front();
  char close = open == '[' ? ']' : open;
  if (open == '"' || open == '`' || open == '[') {
    if (s.size() < 2 || s.back() != close) return false;
    for (size_t i = 1; i + 1 < s.size(); ++i) {
      if (s[i] == close) {
        if (close == ']' || i + 2 >= s.size() || s[i + 1] != close) return false;
        ++i;  // doubled quote inside the name
      }
    }
    return true;
  }
  // A bare name holds no blank and no quote: " from " inside a quoted name
  // must not pass for the statement's own.
  for (char c : s)
    if (c == ' ' || c == '\t' || c == ';' || c == '"' || c == '`' || c == '[' || c == ']')
      return false;
  return true;
}

bool parseTextExport(const std::string& sql, TextExport* out) {
  static const std::string head = "select * into [text;database=";
  std::string low = lower(sql);
  if (low.compare(0, head.size(), head) != 0) return false;
  // The table is the name after the last " from " that leaves one name.
  size_t from = std::string::npos;
  for (size_t p = low.rfind(" from "); p != std::string::npos && p > head.size();
       p = low.rfind(" from ", p - 1)) {
    if (isSingleName(sql.substr(p + 6))) {
      from = p;
      break;
    }
    if (p == 0) break;
  }
  if (from == std::string::npos) return false;
  size_t close = sql.rfind("].", from);
  if (close == std::string::npos || close < head.size()) return false;
  out->folder = sql.substr(head.size(), close - head.size());
  out->file = sql.substr(close + 2, from - close - 2);
  out->table = sql.substr(from + 6);
  return !out->file.empty();
}

static void appendQuoted(std::string& line, const std::string& text) {
  line += '"';
  for (char c : text) {
    if (c == '"') line += '"';
    line += c;
  }
  line += '"';
}

static void appendField(std::string& line, const Value& v) {
  static const char hex[] = "0123456789ABCDEF";
  switch (v.kind()) {
    case Value::Kind::Null:
      break;
    case Value::Kind::Text:
      appendQuoted(line, v.str());
      break;
    case Value::Kind::Bytes: {
      std::string h;
      h.reserve(v.str().size() * 2);
      for (unsigned char b : v.str()) {
        h += hex[b >> 4];
        h += hex[b & 15];
      }
      appendQuoted(line, h);
      break;
    }
    default:
      line += v.toText();
  }
}

void runTextExport(Backend& backend, const TextExport& job) {
  const std::string target = job.folder + job.file;
  std::unique_ptr<Cursor> cur = backend.query("select * from " + job.table);

  std::string tmp = target + ".tmp-XXXXXX";
  int fd = mkstemp(&tmp[0]);
  if (fd < 0)
    throw Error("无法创建文件“" + target + "”：" + std::strerror(errno));
  // mkstemp makes the file private; give it the mode a new file would get.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  FILE* f = fdopen(fd, "wb");
  auto fail = [&](const std::string& why) {
    std::fclose(f);
    std::remove(tmp.c_str());
    throw Error("无法写入文件“" + target + "”：" + why);
  };

  std::string line;
  const auto& fields = cur->fields();
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) line += ',';
    appendQuoted(line, fields[i].name);
  }
  line += "\r\n";
  std::vector<Value> row;
  try {
    bool more = true;
    while (more) {
      row.clear();
      more = cur->next(row);
      if (more) {
        for (size_t i = 0; i < row.size(); ++i) {
          if (i) line += ',';
          appendField(line, row[i]);
        }
        line += "\r\n";
      }
      if (!more || line.size() > (1 << 16)) {
        if (std::fwrite(line.data(), 1, line.size(), f) != line.size())
          fail(std::strerror(errno));
        line.clear();
      }
    }
  } catch (...) {
    std::fclose(f);
    std::remove(tmp.c_str());
    throw;
  }
  if (std::fflush(f) != 0 || fsync(fileno(f)) != 0) fail(std::strerror(errno));
  if (std::fclose(f) != 0) {
    std::remove(tmp.c_str());
    throw Error("无法写入文件“" + target + "”：" + std::strerror(errno));
  }
  if (std::rename(tmp.c_str(), target.c_str()) != 0) {
    int e = errno;
    std::remove(tmp.c_str());
    throw Error("无法写入文件“" + target + "”：" + std::strerror(e));
  }
}

}  // namespace vov
