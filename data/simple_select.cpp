// Recognising "select * from <table> [rest][;]".
#include "data/simple_select.h"

#include "data/text_util.h"

namespace vov {

static bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

static void skipBlanks(const std::string& s, size_t& i) {
  while (i < s.size() && isBlank(s[i])) ++i;
}

static bool keyword(const std::string& s, size_t& i, const char* word) {
  size_t j = i;
  for (const char* w = word; *w; ++w, ++j) {
    if (j >= s.size()) return false;
    char c = s[j];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != *w) return false;
  }
  i = j;
  return true;
}

// The longest of `names` that `sql` holds at `i` as a whole name.
static size_t knownNameAt(const std::string& sql, size_t i, const std::vector<std::string>& names,
                          std::string* found) {
  size_t best = 0;
  for (const std::string& name : names) {
    const size_t end = i + name.size();
    if (name.size() > best && end <= sql.size() &&
        (end == sql.size() || isBlank(sql[end]) || sql[end] == ';') &&
        equalsIgnoreCase(sql.substr(i, name.size()), name)) {
      best = name.size();
      *found = name;
    }
  }
  return best;
}

bool parseSimpleSelect(const std::string& sql, SimpleSelect* out,
                       const std::vector<std::string>* knownNames) {
  size_t i = 0;
  skipBlanks(sql, i);
  if (!keyword(sql, i, "select")) return false;
  size_t before = i;
  skipBlanks(sql, i);
  if (i == before || i >= sql.size() || sql[i] != '*') return false;
  ++i;
  skipBlanks(sql, i);
  if (!keyword(sql, i, "from")) return false;
  before = i;
  skipBlanks(sql, i);
  if (i == before || i >= sql.size()) return false;

  std::string name;
  char open = sql[i];
  if (open == '"' || open == '`' || open == '[') {
    char close = open == '[' ? ']' : open;
    ++i;
    while (true) {
      if (i >= sql.size()) return false;
      if (sql[i] == close) {
        if (close != ']' && i + 1 < sql.size() && sql[i + 1] == close) {
          name += close;
          i += 2;
          continue;
        }
        ++i;
        break;
      }
      name += sql[i++];
    }
  } else if (size_t known = knownNames ? knownNameAt(sql, i, *knownNames, &name) : 0) {
    i += known;
  } else {
    while (i < sql.size() && !isBlank(sql[i]) && sql[i] != ';') name += sql[i++];
  }
  if (name.empty()) return false;

  std::string rest = sql.substr(i);
  size_t a = 0;
  while (a < rest.size() && isBlank(rest[a])) ++a;
  size_t b = rest.size();
  while (b > a && isBlank(rest[b - 1])) --b;
  if (b > a && rest[b - 1] == ';') {
    --b;
    while (b > a && isBlank(rest[b - 1])) --b;
  }
  // A name directly followed by more text ("t1x", "[t]x") is no simple select.
  if (a == 0 && b > 0) return false;
  out->table = name;
  out->rest = rest.substr(a, b - a);
  return true;
}

}  // namespace vov
