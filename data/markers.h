// The marker scan of parameterised statements: every ":name" outside
// quotes becomes "?" and one parameter, in order of appearance.
#ifndef VOVARIZE_DATA_MARKERS_H
#define VOVARIZE_DATA_MARKERS_H

#include <string>
#include <vector>

namespace vov {

struct MarkerScan {
  std::string text;                 // the statement with "?" for each marker
  std::vector<std::string> names;   // one per marker, repeats included
};

// Byte by byte over UTF-8 text. A double quote, single quote or backquote
// opens a quoted region that only the same quote closes, so "it's" is one
// quoted name and 'a"b' one string (square brackets do not quote). Outside
// quotes "::" stands for one ":", and a single ":" starts a marker whose
// name runs to the first blank, comma, semicolon, ")", CR or LF outside
// quotes, or the end; a name that starts with a quote loses its first and
// last quote.
MarkerScan scanMarkers(const std::string& sql);

}  // namespace vov

#endif
