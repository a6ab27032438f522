// Golden keys: the key encoder, applied to the rows of every table of
// every Access-written Jet 4 and ACE test file, gives the index entries
// Access wrote there, byte for byte; and the index checker accepts every
// index of those files.
#include <gtest/gtest.h>

#include <map>

#include "data/access/format/catalog.h"
#include "data/access/format/index_check.h"
#include "data/access/format/table_def.h"
#include "tests/access_index/index_support.h"
#include "tests/support/test_support.h"

namespace vov::access {
namespace {

struct Totals {
  size_t entries = 0, compared = 0, unverified = 0;
};

Totals checkFile(const std::string& file) {
  PageFile f(test::testData(file), false);
  Totals t;
  for (const CatalogEntry& e : readCatalog(f)) {
    if (e.type != kObjectTable) continue;
    SCOPED_TRACE(e.name);
    const TableDef def = readTableDef(f, e.definitionPage());
    for (const IndexReport& r : checkTableIndexes(f, def, e.name)) {
      t.entries += r.entries;
      t.compared += r.keysCompared;
      t.unverified += r.keysUnverified;
    }
  }
  return t;
}

TEST(GoldenKeys, EveryAccessWrittenKeyIsReproduced) {
  // Entries whose key the encoder refuses, by file, and why.
  const std::map<std::string, size_t> refused = {
      // Greek, Cyrillic and Japanese text.
      {"access/unicode_comp_jet4.mdb", 3},
      // Emoji in the text index; the attachment table's complex key.
      {"access/emoticons_ace14.accdb", 81},
      {"access/extdate_ace17.accdb", 1},  // the attachment table's complex key
      {"access/calcfields_ace14.accdb", 1},  // likewise
  };
  size_t all = 0;
  for (std::string file : test::accessWrittenFiles()) {
    SCOPED_TRACE(file);
    Totals t;
    ASSERT_NO_THROW(t = checkFile(file));
    const auto it = refused.find(file);
    EXPECT_EQ(t.unverified, it == refused.end() ? 0 : it->second);
    EXPECT_EQ(t.compared + t.unverified, t.entries);
    EXPECT_GT(t.compared, 0u);
    all += t.compared;
  }
  EXPECT_GT(all, 4400u);
}

// The benchmark files were written by a Java library, not by Access: their
// keys teach nothing, but the checker must take them as it finds them.
TEST(GoldenKeys, TheCheckerAcceptsTheBenchmarkFiles) {
  for (std::string file : {"access/bench_jet4.mdb", "access/bench_ace14.accdb"}) {
    SCOPED_TRACE(file);
    EXPECT_NO_THROW(checkFile(file));
  }
}

}  // namespace
}  // namespace vov::access
