// The marker scan. UTF-8 continuation and lead bytes are never ASCII, so a
// plain byte walk cannot mistake part of a character for a quote or colon.
#include "data/markers.h"

namespace vov {

static bool isQuote(char c) { return c == '"' || c == '\'' || c == '`'; }

static bool endsName(char c) {
  return c == ' ' || c == ',' || c == ';' || c == ')' || c == '\r' || c == '\n';
}

// Only the quote that opened a quoted region closes it, so a name such as
// "it's" stays one quoted name.
static void track(char c, char& open) {
  if (open == 0) {
    if (isQuote(c)) open = c;
  } else if (c == open) {
    open = 0;
  }
}

MarkerScan scanMarkers(const std::string& sql) {
  MarkerScan out;
  out.text.reserve(sql.size());
  char open = 0;  // the quote of the region we are in, or 0
  size_t i = 0;
  const size_t n = sql.size();
  while (i < n) {
    char c = sql[i];
    if (c == ':' && open == 0) {
      if (i + 1 < n && sql[i + 1] == ':') {
        out.text += ':';
        i += 2;
        continue;
      }
      size_t start = i + 1;
      size_t j = start;
      while (j < n && (open != 0 || !endsName(sql[j]))) track(sql[j++], open);
      std::string name = sql.substr(start, j - start);
      if (!name.empty() && isQuote(name.front())) {
        name.erase(0, 1);
        if (!name.empty() && isQuote(name.back())) name.pop_back();
      }
      out.names.push_back(std::move(name));
      out.text += '?';
      i = j;
      continue;
    }
    track(c, open);
    out.text += c;
    ++i;
  }
  return out;
}

}  // namespace vov
