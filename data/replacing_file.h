// A file written whole or not at all: the bytes go to a temporary file
// beside the target, which is renamed over the target only when every byte
// is on the disk. A failure, an exception or an interruption in between
// removes the temporary file and leaves the target as it was.
#ifndef VOVARIZE_DATA_REPLACING_FILE_H
#define VOVARIZE_DATA_REPLACING_FILE_H

#include <cstddef>
#include <string>

namespace vov {

// Whether `path` is an SQLite or Access database file. Text the program
// writes never replaces one: a file name mistyped or picked by mistake
// would otherwise cost the user a database.
bool isDatabaseFile(const std::string& path);
extern const char kNotOverDatabase[];

// The file a link leads to (through every link), or `path` itself when it
// is no link or leads nowhere. A file written by renaming another over it
// is renamed over this, so that the link keeps leading to the new file.
std::string followLink(const std::string& path);

class ReplacingFile {
 public:
  // Creates the temporary file. `noun` names the file in messages: "文件"
  // gives "无法创建文件“<target>”：<reason>" and "无法写入文件“<target>”：…".
  // A replaced file's permissions are kept; a link to a file keeps leading
  // to it; a target that is no plain file, or a database, is refused.
  // Raises vov::FileError.
  ReplacingFile(std::string target, std::string noun);
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  void write(const char* data, size_t size);
  void write(const std::string& bytes) { write(bytes.data(), bytes.size()); }
  // Puts the file in the target's place. Raises vov::FileError.
  void commit();

 private:
  [[noreturn]] void fail(const char* verb, int err);
  [[noreturn]] void fail(const char* verb, const std::string& reason);
  void discard();

  std::string target_, noun_;
  std::string place_;  // the file renamed over: the target, or where its link leads
  std::string temp_;
  int fd_ = -1;
};

}  // namespace vov

#endif
