// Writing a file under a temporary name and renaming it into place.
#include "data/replacing_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "data/error.h"
#include "data/error_context.h"

namespace vov {

ReplacingFile::ReplacingFile(std::string target, std::string noun)
    : target_(std::move(target)), noun_(std::move(noun)) {
  temp_ = target_ + ".tmp-XXXXXX";
  fd_ = mkstemp(&temp_[0]);
  if (fd_ < 0) {
    temp_.clear();
    fail("无法创建", errno);
  }
  // mkstemp makes the file private; give it the mode the target has, or
  // the one a new file would get.
  struct stat st;
  mode_t mode;
  if (::stat(target_.c_str(), &st) == 0) {
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

void ReplacingFile::fail(const char* verb, int err) {
  discard();
  throw FileError(verb + noun_ + "“" + echo(target_, 4 * kEchoChars) + "”：" + systemReason(err));
}

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
  if (std::rename(temp_.c_str(), target_.c_str()) != 0) fail("无法写入", errno);
  temp_.clear();
}

}  // namespace vov
