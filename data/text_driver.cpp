// The CSV writer behind the export statement.
#include "data/text_driver.h"

#include <memory>

#include "data/backend.h"
#include "data/error.h"
#include "data/interrupt.h"
#include "data/replacing_file.h"

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
  // The folder ends with a path separator (or is empty) and the file name
  // holds none, so "]." after the last separator ends the folder; the file
  // name itself may hold "]." and "[".
#ifdef _WIN32
  const char* const separators = "\\:";
#else
  const char* const separators = "/";
#endif
  size_t close = std::string::npos;
  const size_t sep = sql.find_last_of(separators, from - 1);
  if (sep != std::string::npos && sep >= head.size()) {
    if (sql.compare(sep + 1, 2, "].") == 0) close = sep + 1;
  } else if (sql.compare(head.size(), 2, "].") == 0) {
    close = head.size();
  }
  if (close == std::string::npos) close = sql.find("].", head.size());
  if (close == std::string::npos || close >= from) return false;
  out->folder = sql.substr(head.size(), close - head.size());
  out->file = sql.substr(close + 2, from - close - 2);
  out->table = sql.substr(from + 6);
  return !out->file.empty();
}

void appendCsvQuoted(std::string& line, const std::string& text) {
  line += '"';
  for (char c : text) {
    if (c == '"') line += '"';
    line += c;
  }
  line += '"';
}

void appendCsvField(std::string& line, const Value& v) {
  static const char hex[] = "0123456789ABCDEF";
  switch (v.kind()) {
    case Value::Kind::Null:
      break;
    case Value::Kind::Text:
      appendCsvQuoted(line, v.str());
      break;
    case Value::Kind::Bytes: {
      std::string h;
      h.reserve(v.str().size() * 2);
      for (unsigned char b : v.str()) {
        h += hex[b >> 4];
        h += hex[b & 15];
      }
      appendCsvQuoted(line, h);
      break;
    }
    default:
      line += v.toText();
  }
}

void runTextExport(Backend& backend, const TextExport& job) {
  const std::string target = job.folder + job.file;
  std::unique_ptr<Cursor> cur = backend.readQuery("select * from " + job.table);
  for (const FieldInfo& f : cur->fields())
    if (!f.unreadable.empty())
      throw Error("字段“" + f.name + "”是 " + f.unreadable + "，本程序无法读取它的值，不能导出");
  ReplacingFile file(target, "文件");

  std::string line;
  const auto& fields = cur->fields();
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) line += ',';
    appendCsvQuoted(line, fields[i].name);
  }
  line += "\r\n";
  std::vector<Value> row;
  for (;;) {
    // A stop request ends the export here; the temporary file goes with it.
    checkInterrupt();
    row.clear();
    if (!cur->next(row)) break;
    for (size_t i = 0; i < row.size(); ++i) {
      if (i) line += ',';
      appendCsvField(line, row[i]);
    }
    line += "\r\n";
    if (line.size() > (1 << 16)) {
      file.write(line);
      line.clear();
    }
  }
  file.write(line);
  file.commit();
}

}  // namespace vov
