// The marker scan. UTF-8 continuation and lead bytes are never ASCII, so a
// plain byte walk cannot mistake part of a character for a quote or colon.
#include "data/markers.h"

namespace vov {

static bool isQuote(char c) { return c == '"' || c == '\'' || c == '`'; }

static bool endsName(char c) {
  return c == ' ' || c == ',' || c == ';' || c == ')' || c == '\r' || c == '\n';
}

MarkerScan scanMarkers(const std::string& sql) {
  MarkerScan out;
  out.text.reserve(sql.size());
  bool inQuotes = false;
  size_t i = 0;
  const size_t n = sql.size();
  while (i < n) {
    char c = sql[i];
    if (c == ':' && !inQuotes) {
      if (i + 1 < n && sql[i + 1] == ':') {
        out.text += ':';
        i += 2;
        continue;
      }
      size_t start = i + 1;
      size_t j = start;
      bool quotedName = false;
      while (j < n && (inQuotes || !endsName(sql[j]))) {
        if (isQuote(sql[j])) {
          inQuotes = !inQuotes;
          if (j == start) quotedName = true;
        }
        ++j;
      }
      std::string name = sql.substr(start, j - start);
      if (quotedName) {
        if (!name.empty() && isQuote(name.front())) name.erase(0, 1);
        if (!name.empty() && isQuote(name.back())) name.pop_back();
      }
      out.names.push_back(std::move(name));
      out.text += '?';
      i = j;
      continue;
    }
    if (isQuote(c)) inQuotes = !inQuotes;
    out.text += c;
    ++i;
  }
  return out;
}

}  // namespace vov
