// One run of the Access reader process (vovarize-mdb-reader): started with
// a command, read message by message, and watched. When the reader dies,
// sends nothing for a few seconds, says it is still working without getting
// any further, or announces a message longer than the file could hold, it
// is killed and the read fails with a message saying the file is damaged.
#ifndef VOVARIZE_DATA_ACCESS_READER_PROCESS_H
#define VOVARIZE_DATA_ACCESS_READER_PROCESS_H

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "data/field_type.h"
#include "data/value.h"

namespace vov {

class ReaderProcess {
 public:
  // Runs "vovarize-mdb-reader <command> <file> <args...>". The reader is
  // the one named by VOVARIZE_MDB_READER, else the one beside the running
  // program, else the installed or built one. VOVARIZE_MDB_TIMEOUT_MS sets
  // how long it may stay silent (5000 by default).
  ReaderProcess(const std::string& command, const std::string& file,
                const std::vector<std::string>& args = {});
  ~ReaderProcess();
  ReaderProcess(const ReaderProcess&) = delete;
  ReaderProcess& operator=(const ReaderProcess&) = delete;

  // The tag of the next message (mdb_wire.h), past progress messages. A
  // failure message is raised as vov::Error.
  uint8_t next();
  // Raises unless the next message has tag `tag`.
  void expect(uint8_t tag);

  std::string text();
  uint64_t u64();
  // The payload of a fields message.
  std::vector<FieldInfo> fields();
  // One value of a row message.
  void value(Value& v);

  // After the end message: lets the reader exit.
  void finish();

  // Kills the reader and raises the damaged-file error with `why`.
  [[noreturn]] void broken(const std::string& why);

 private:
  void need(size_t n);
  uint8_t u8();
  uint16_t u16();
  uint32_t u32();
  void stop();

  std::string file_;
  pid_t pid_ = -1;
  int fd_ = -1;
  int timeoutMs_ = 5000;
  // No text from a file can be longer, nor a scan reach a later page.
  size_t maxText_ = 0;
  uint64_t maxPage_ = 0;
  int64_t lastPage_ = -1;
  std::vector<char> buf_;
  size_t pos_ = 0;
  size_t end_ = 0;
};

}  // namespace vov

#endif
