// Damaged Access files: a few hundred mutated and truncated copies of the
// samples, each opened, listed and read to the end. Every one must either
// read or fail with a vov::Error; a crash or a hang fails the test. The
// mutations are seeded, so every run reads the same files.
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "data/access/access_backend.h"
#include "data/error.h"
#include "data/text_util.h"
#include "tests/access/access_support.h"
#include "tests/support/test_support.h"

using namespace vov;

namespace {

// Damage mostly lands where the catalogue and table definitions live, the
// part libmdb trusts most.
std::string mutate(std::string bytes, std::mt19937& rng) {
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  const size_t front = std::min<size_t>(bytes.size(), 96 * 4096);
  switch (pick(10)) {
    case 7:  // cut anywhere
      bytes.resize(pick(bytes.size()));
      break;
    case 8: {  // cut at a page boundary
      size_t pages = bytes.size() / 2048;
      bytes.resize(2048 * (1 + pick(pages)));
      break;
    }
    case 9: {  // one page of noise
      size_t page = 1 + pick(front / 2048 - 1);
      for (size_t i = 0; i < 2048; ++i) bytes[page * 2048 + i] = static_cast<char>(rng());
      break;
    }
    default: {  // a few flipped bytes
      size_t n = 1 + pick(16);
      for (size_t i = 0; i < n; ++i) {
        size_t at = pick(4) ? 2048 + pick(front - 2048) : pick(bytes.size());
        bytes[at] = static_cast<char>(bytes[at] ^ (1 + pick(255)));
      }
    }
  }
  return bytes;
}

}  // namespace

TEST(AccessFuzz, DamagedCopiesFailCleanly) {
  // Hangs are expected among the copies; they need not cost five seconds.
  test::ScopedEnv quick("VOVARIZE_MDB_TIMEOUT_MS", "1500");
  const std::vector<std::string> sources = {"access/nwind.mdb", "access/DateTestDatabase.mdb",
                                            "access/ASampleDatabase.accdb", "access/types_jet3.mdb"};
  std::vector<std::string> originals;
  for (const std::string& s : sources) originals.push_back(test::readFile(test::testData(s)));

  test::TempDir dir;
  const std::string path = dir.file("damaged.mdb");
  std::mt19937 rng(20240501);
  int refusedAtOpen = 0, refusedLater = 0, readWhole = 0, hangs = 0, crashes = 0;
  auto note = [&](const Error& e) {
    std::string m = e.what();
    hangs += m.find("没有响应") != std::string::npos;
    crashes += m.find("异常终止") != std::string::npos;
  };
  for (int i = 0; i < 300; ++i) {
    test::writeFile(path, mutate(originals[static_cast<size_t>(i) % originals.size()], rng));
    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<Backend> b;
    try {
      b = openAccessBackend(path);
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()), "") << "copy " << i;
      note(e);
      ++refusedAtOpen;
      continue;
    }
    bool whole = true;
    for (const std::string& table : b->tableNames()) {
      try {
        b->tableFields(table);
        auto cursor = b->query("select * from \"" + table + "\"");
        std::vector<Value> row;
        while (cursor->next(row)) {
          ASSERT_EQ(row.size(), cursor->fields().size()) << "copy " << i;
          for (const Value& v : row)
            ASSERT_TRUE(v.kind() != Value::Kind::Text || isValidUtf8(v.str())) << "copy " << i;
        }
      } catch (const Error& e) {
        note(e);
        whole = false;
      }
    }
    (whole ? readWhole : refusedLater)++;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60)) << "copy " << i;
  }
  EXPECT_TRUE(test::noChildProcesses());
  std::cout << "damaged copies: " << refusedAtOpen << " refused at open, " << refusedLater
            << " refused while reading, " << readWhole << " read whole; the reader hung "
            << hangs << " and crashed " << crashes << " times\n";
  // The mutations must reach both outcomes, or they test little.
  EXPECT_GT(refusedAtOpen + refusedLater, 30);
  EXPECT_GT(readWhole, 30);
}
