// Whole migrations: every table pair of a mapping list, one after another,
// each in its own transaction; rows set aside go to a reject file, and each
// pair's counts to a report.
#ifndef VOVARIZE_MIGRATION_JOB_H
#define VOVARIZE_MIGRATION_JOB_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "migration/migrate_table.h"

namespace vov {

struct TablePair {
  std::string oldTable, newTable;
  std::vector<std::string> lines;  // in list order
};

// The table pairs that the field mapping lines of a list name, in the order
// each first appears, each with its lines. A default-value line goes with
// the nearest field mapping line before it (else after it) that has the
// same new table; one whose new table no field mapping line has is an
// error. Lines that name no pair at all (no ">>") go with the pair before
// them, or the first; blank lines are left out.
std::vector<TablePair> tablePairs(const std::vector<std::string>& lines);

// "<old table> => <new table>", as the progress list shows a pair.
std::string pairName(const TablePair& pair);

// The rows set aside, as CSV in the export's format: each pair's rows under
// a header line of their own ("对应表", "老表行号", "错误信息", then the old
// table's field names), each row with the pair, its number among the old
// rows read, the engine's message and the old row's values. A file at the
// same path is replaced at the first row; with no row, only a reject file
// of an earlier run is removed.
class RejectFile {
 public:
  explicit RejectFile(std::string path);
  ~RejectFile();
  RejectFile(const RejectFile&) = delete;
  RejectFile& operator=(const RejectFile&) = delete;

  const std::string& path() const { return path_; }
  // Opens the file, creating it but not yet emptying it (add() does when
  // open() was not called); raises FileError when it cannot.
  void open();
  // Raises FileError when the row cannot be written, and again for every
  // later row.
  void add(const std::string& pair, const RejectedRow& row);
  // Every row written out. Raises FileError when some could not be.
  void close();
  int64_t rows() const { return rows_; }
  // Why the file could not be written; empty while it could.
  const std::string& error() const { return error_; }

 private:
  void write(const std::string& text);

  std::string path_;
  std::string error_;
  int fd_ = -1;
  bool existed_ = false;    // before open()
  bool truncated_ = false;  // emptied for the first row
  uint64_t bytes_ = 0;      // of whole rows
  std::string lastHeader_, lastPair_;
  int64_t rows_ = 0;
};

enum class PairState { NotRun, Done, Failed, Interrupted };

struct PairReport {
  std::string oldTable, newTable;
  MigrationCounts counts;
  int64_t milliseconds = 0;
  PairState state = PairState::NotRun;
  std::string error;  // the message of a failed pair
};

struct JobOptions {
  std::string filter = kDefaultFilterText;
  WriteMode mode = WriteMode::Append;
  OnRowError onRowError = OnRowError::Stop;
  bool dryRun = false;
  // Goes on with the next pair after one fails (an interruption still ends
  // the job).
  bool keepGoing = false;
  // Where rows set aside (or, in a dry run, found refused) are written;
  // empty for none.
  std::string rejectFile;
};

struct JobReport {
  JobOptions options;
  std::vector<PairReport> pairs;
  // Why the reject file could not be finished; the job then counts as failed.
  std::string rejectFileError;
  int64_t rejectedRows() const;
  bool failed() const;
  // 0 all done; 1 a pair failed or the job was interrupted; 3 all pairs
  // done but rows were set aside (or would be, in a dry run).
  int exitCode() const;
};

struct JobEvents {
  std::function<void(size_t index, const TablePair&)> pairStarts;
  std::function<void(int32_t)> progress;  // may throw Abort to interrupt
  // Asked before a pair whose new table cannot undo its rows; false stops the job there.
  std::function<bool(const std::string& caveat)> confirmCaveat;
  std::function<void(const PairReport&)> pairEnds;
};

// Runs every pair on the data module's two connections, as the mapping
// window runs one.
JobReport runJob(TDataModule2& dm, const std::vector<TablePair>& pairs, const JobOptions& options,
                 const JobEvents& events);

// The report as a table for a terminal, one line per pair, columns lined up
// for Chinese names too.
std::string reportTable(const JobReport& report);
// The same as JSON.
std::string reportJson(const JobReport& report);

}  // namespace vov

#endif
