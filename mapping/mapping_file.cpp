// Saving and loading the mapping list file.
#include "mapping/mapping_file.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "data/error.h"
#include "data/text_util.h"

namespace vov {

namespace {

std::string why() { return std::strerror(errno); }

bool writeAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// GB18030 (a superset of GBK) to UTF-8; false when the bytes are not valid.
bool fromGb18030(const std::string& in, std::string* out) {
  iconv_t cd = iconv_open("UTF-8", "GB18030");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out->assign(in.size() * 2 + 16, '\0');
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char* dst = &(*out)[0];
  size_t dstLeft = out->size();
  size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  bool ok = rc != static_cast<size_t>(-1) && srcLeft == 0;
  if (ok) ok = iconv(cd, nullptr, nullptr, &dst, &dstLeft) != static_cast<size_t>(-1);
  iconv_close(cd);
  if (!ok) return false;
  out->resize(out->size() - dstLeft);
  return true;
}

}  // namespace

void saveMappingList(const std::vector<std::string>& lines, const std::string& path) {
  std::string text;
  for (const std::string& l : lines) {
    text += l;
    text += "\r\n";
  }
  // Written whole under a temporary name beside the target, then renamed
  // over it: a failure never leaves a half-written list.
  std::string tmp = path + ".tmp-XXXXXX";
  int fd = mkstemp(&tmp[0]);
  if (fd < 0) throw Error("无法保存列表文件“" + path + "”：" + why());
  struct stat st;
  mode_t mode;
  if (::stat(path.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  fchmod(fd, mode);
  if (!writeAll(fd, text) || fsync(fd) != 0) {
    std::string reason = why();
    ::close(fd);
    ::unlink(tmp.c_str());
    throw Error("无法保存列表文件“" + path + "”：" + reason);
  }
  if (::close(fd) != 0 || std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::string reason = why();
    ::unlink(tmp.c_str());
    throw Error("无法保存列表文件“" + path + "”：" + reason);
  }
}

std::vector<std::string> loadMappingList(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Error("无法打开列表文件“" + path + "”：" + why());
  std::string bytes;
  char buf[65536];
  while (true) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      std::string reason = why();
      ::close(fd);
      throw Error("无法读取列表文件“" + path + "”：" + reason);
    }
    if (n == 0) break;
    bytes.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);

  size_t nul = bytes.find('\0');
  if (nul != std::string::npos) bytes.resize(nul);
  // A byte-order mark is no part of the first line.
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  std::string text;
  if (isValidUtf8(bytes)) {
    text = std::move(bytes);
  } else if (!fromGb18030(bytes, &text)) {
    throw Error("列表文件“" + path + "”的编码无法识别（既不是 UTF-8，也不是 GBK）");
  }

  std::vector<std::string> lines;
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    size_t start = i;
    while (i < n && text[i] != '\r' && text[i] != '\n') ++i;
    lines.push_back(text.substr(start, i - start));
    if (i < n && text[i] == '\r') ++i;
    if (i < n && text[i] == '\n') ++i;
  }
  return lines;
}

}  // namespace vov
