// Progress lines: one per table pair migrated or skipped,
//   <old table> => <new table>=>完成     or     ... =>跳过
#ifndef VOVARIZE_MAPPING_PROGRESS_LINE_H
#define VOVARIZE_MAPPING_PROGRESS_LINE_H

#include <string>

namespace vov {

enum class PairOutcome { Done, Skipped };

std::string composeProgressLine(const std::string& oldTable, const std::string& newTable,
                                PairOutcome outcome);

// Splits at the first "=>" and at the first "=>" after it; both names are
// trimmed. A line without "=>" gives two empty names.
void parseProgressLine(const std::string& line, std::string* oldTable, std::string* newTable);

}  // namespace vov

#endif
