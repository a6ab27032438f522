// Writing a file under a temporary name and renaming it into place.
#include "data/replacing_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "data/connection_string.h"
#include "data/error.h"
#include "data/error_context.h"

namespace vov {

const char kNotOverDatabase[] = "这是一个 SQLite 或 Access 数据库文件，不能用文本覆盖";

bool isDatabaseFile(const std::string& path) {
  const EngineKind kind = detectEngine(path);
  return kind == EngineKind::Sqlite || kind == EngineKind::Access;
}

std::string followLink(const std::string& path) {
  struct stat link;
  if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return path;
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return path;
  std::string out = real;
  std::free(real);
  return out;
}

ReplacingFile::ReplacingFile(std::string target, std::string noun)
    : target_(std::move(target)), noun_(std::move(noun)), place_(target_) {
  struct stat st;
  const bool exists = ::stat(target_.c_str(), &st) == 0;
  if (exists) {
    // Renaming over anything but a plain file would put a file where a
    // device, a pipe or a folder stood.
    if (S_ISDIR(st.st_mode)) fail("无法写入", systemReason(EISDIR));
    if (!S_ISREG(st.st_mode)) fail("无法写入", "这不是普通文件（而是设备、管道或套接字）");
    if (isDatabaseFile(target_)) fail("无法写入", kNotOverDatabase);
    place_ = followLink(target_);
  }
  // Named after the target where the name leaves room for the suffix, so a
  // file left by a killed program says what it was; else a fixed name.
  const size_t slash = place_.rfind('/');
  const size_t nameBytes = place_.size() - (slash == std::string::npos ? 0 : slash + 1);
  temp_ = (nameBytes + 11 <= NAME_MAX ? place_ : place_.substr(0, slash + 1) + ".vovarize") +
          ".tmp-XXXXXX";
  fd_ = mkstemp(&temp_[0]);
  if (fd_ < 0) {
    const int err = errno;
    temp_.clear();
    fail("无法创建", systemReason(err));
  }
  // mkstemp makes the file private; give it the mode the target has, or
  // the one a new file would get.
  mode_t mode;
  if (exists) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  fchmod(fd_, mode);
}

ReplacingFile::~ReplacingFile() { discard(); }

void ReplacingFile::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

void ReplacingFile::fail(const char* verb, const std::string& reason) {
  discard();
  throw FileError(verb + noun_ + "“" + echo(target_, 4 * kEchoChars) + "”：" + reason);
}

void ReplacingFile::fail(const char* verb, int err) { fail(verb, systemReason(err)); }

void ReplacingFile::write(const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd_, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail("无法写入", errno);
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
}

void ReplacingFile::commit() {
  if (fsync(fd_) != 0) fail("无法写入", errno);
  int rc = ::close(fd_);
  fd_ = -1;
  if (rc != 0) fail("无法写入", errno);
  if (std::rename(temp_.c_str(), place_.c_str()) != 0) fail("无法写入", errno);
  temp_.clear();
}

}  // namespace vov
