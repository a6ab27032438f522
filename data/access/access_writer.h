// Writing to an Access file without ever changing it in place. A write
// session copies the file to a temporary file in the same folder and
// appends rows there; its commit flushes the copy, checks the whole of it
// with the format checker, keeps the previous file as "<name>.bak" and puts
// the copy in the original's place with one rename. A rollback, a failure
// before the commit, a crash or a kill leave the original as it was. The
// copy has no name in the folder until just before that rename (where the
// file system allows unnamed files), so a crash leaves nothing beside it.
//
// The writer runs inside the program, not in a helper process as the reader
// does: the reader needs its own process because libmdb can loop or crash on
// a damaged file, while this code bounds every offset it follows and raises
// an error instead, and the commit's checker stands between it and the
// user's file.
#ifndef VOVARIZE_DATA_ACCESS_ACCESS_WRITER_H
#define VOVARIZE_DATA_ACCESS_ACCESS_WRITER_H

#include <sys/stat.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "data/access/format/index_hook.h"
#include "data/access/format/page.h"
#include "data/access/format/table_writer.h"

namespace vov {

class AccessWriteSession {
 public:
  // Raises vov::Error when the file cannot be written: open in Access (a
  // lock file beside it), Jet 3, damaged, or its folder not writable.
  explicit AccessWriteSession(const std::string& path);
  ~AccessWriteSession();
  AccessWriteSession(const AccessWriteSession&) = delete;
  AccessWriteSession& operator=(const AccessWriteSession&) = delete;

  // The writer of the table named so (as the catalogue spells it, or
  // differing in ASCII case only).
  access::TableWriter& table(const std::string& name);

  // A failure inside a row after its first byte was written: the copy can
  // no longer be trusted, and commit() refuses.
  void markBroken(const std::string& why) { broken_ = why; }

  void commit();
  void rollback();
  const std::string& path() const { return path_; }

 private:
  void discard();
  void dropTemp();

  std::string path_;
  std::string temp_;  // the copy's name while it has one
  std::string tempLabel_;
  int tempFd_ = -1;
  struct stat original_ {};
  std::unique_ptr<access::PageFile> file_;
  std::unique_ptr<access::PageAllocator> pages_;
  // Before tables_: their index hooks leave it as they go.
  access::IndexRegistry indexes_;
  std::map<std::string, std::unique_ptr<access::TableWriter>> tables_;
  // Tables whose stored row count matched their rows before the session.
  std::map<uint32_t, bool> exactBefore_;
  // Indexes whose stored entry count was exact before the session.
  std::vector<std::pair<uint32_t, size_t>> exactIndexCounts_;
  std::string broken_;
  bool open_ = false;
};

// The values of rows to be appended to one table, checked against its
// columns as a write session would check them, on the file as it stands:
// nothing is written, not even a copy. For a dry run.
class AccessValueCheck {
 public:
  // Raises vov::Error where a write session would refuse the file or the
  // table.
  AccessValueCheck(const std::string& path, const std::string& table);
  ~AccessValueCheck();
  AccessValueCheck(const AccessValueCheck&) = delete;
  AccessValueCheck& operator=(const AccessValueCheck&) = delete;

  const access::TableDef& def() const { return writer_->def(); }
  // One value per column of def().columns, as TableWriter::append takes
  // them. Empty, or why the row would be refused.
  std::string check(const std::vector<const Value*>& values);

 private:
  std::unique_ptr<access::PageFile> file_;
  std::unique_ptr<access::PageAllocator> pages_;
  std::unique_ptr<access::TableWriter> writer_;
};

// The lock file Access keeps beside a database while it has it open, if
// there is one ("<name>.ldb" or "<name>.laccdb").
std::string accessLockFile(const std::string& path);

}  // namespace vov

#endif
