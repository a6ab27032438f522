// Composing and parsing progress lines.
#include "mapping/progress_line.h"

#include "mapping/mapping_line.h"

namespace vov {

std::string composeProgressLine(const std::string& oldTable, const std::string& newTable,
                                PairOutcome outcome) {
  return oldTable + " => " + newTable + (outcome == PairOutcome::Done ? "=>完成" : "=>跳过");
}

void parseProgressLine(const std::string& line, std::string* oldTable, std::string* newTable) {
  oldTable->clear();
  newTable->clear();
  const size_t p = line.find("=>");
  if (p == std::string::npos) return;
  *oldTable = trimControl(line.substr(0, p));
  const std::string rest = line.substr(p + 2);
  const size_t q = rest.find("=>");
  if (q != std::string::npos) *newTable = trimControl(rest.substr(0, q));
}

}  // namespace vov
