// The strict checker of a whole Jet 4 or ACE file. The writer runs it on
// every file before it replaces the user's; the tests run it on the files
// Access wrote. It checks the pages it can reach from the catalogue: page
// types, every row inside its page and reachable, free-space counts, both
// usage maps of every table against its pages, the long-value chains and
// their pages' maps, the database's free-page map against the pages in use,
// row counts and AutoNumber values, and the indexes.
#ifndef VOVARIZE_DATA_ACCESS_FORMAT_CHECKER_H
#define VOVARIZE_DATA_ACCESS_FORMAT_CHECKER_H

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "data/access/format/page.h"

namespace vov::access {

struct CheckOptions {
  // Tables (by definition page) whose stored row count must equal their
  // rows. Access itself lets the stored count lag, so for other tables a
  // difference is only noted.
  std::vector<uint32_t> exactRowCounts;
  // Indexes (definition page, physical index number) whose stored entry
  // count must equal their distinct keys; Access lets that count drift
  // too, so elsewhere a difference is only noted.
  std::vector<std::pair<uint32_t, size_t>> exactIndexCounts;
};

struct CheckReport {
  std::vector<std::string> problems;  // each a sentence for the user
  std::vector<std::string> notes;     // oddities Access itself leaves
  // Indexes whose stored count equals their distinct keys, to hold a
  // writer to (as CheckOptions::exactIndexCounts).
  std::vector<std::pair<uint32_t, size_t>> exactIndexCounts;
  uint64_t tables = 0;
  uint64_t rows = 0;
  bool ok() const { return problems.empty(); }
};

CheckReport checkFile(PageFile& file, const CheckOptions& options = {});

}  // namespace vov::access

#endif
