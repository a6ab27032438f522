// Saving and loading the mapping list file.
#include "mapping/mapping_file.h"

#include <fcntl.h>
#include <iconv.h>
#include <unistd.h>

#include <cerrno>

#include "data/error.h"
#include "data/error_context.h"
#include "data/replacing_file.h"
#include "data/text_util.h"

namespace vov {

namespace {

std::string why() { return systemReason(errno); }

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
  // Never a half-written list: written whole beside the target, then
  // renamed over it.
  ReplacingFile file(path, "列表文件");
  file.write(text);
  file.commit();
}

std::vector<std::string> loadMappingList(const std::string& path) {
  const std::string shown = "列表文件“" + echo(path, 4 * kEchoChars) + "”";
  // Opened without waiting, as a named pipe nobody writes to would wait
  // forever; then read as usual, so that a pipe with a writer is read whole.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw Error("无法打开" + shown + "：" + why());
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  // Read no further than a list can be long: a device such as /dev/zero,
  // or a file that is no list, must not fill the memory.
  std::string bytes;
  char buf[65536];
  while (bytes.size() <= kMaxMappingListBytes) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      std::string reason = why();
      ::close(fd);
      throw Error("无法读取" + shown + "：" + reason);
    }
    if (n == 0) break;
    bytes.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  if (bytes.size() > kMaxMappingListBytes)
    throw Error(shown + "太大（超过 " + std::to_string(kMaxMappingListBytes >> 20) +
                " MB），不是映射列表文件");

  size_t nul = bytes.find('\0');
  if (nul != std::string::npos) bytes.resize(nul);
  // A byte-order mark is no part of the first line.
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  std::string text;
  if (isValidUtf8(bytes)) {
    text = std::move(bytes);
  } else if (!fromGb18030(bytes, &text)) {
    throw Error(shown + "的编码无法识别（既不是 UTF-8，也不是 GBK）");
  }

  std::vector<std::string> lines;
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    size_t start = i;
    while (i < n && text[i] != '\r' && text[i] != '\n') ++i;
    if (i - start > kMaxMappingLineBytes)
      throw Error(shown + "的第 " + std::to_string(lines.size() + 1) + " 行太长（超过 " +
                  std::to_string(kMaxMappingLineBytes >> 10) + " KB），不是映射列表文件");
    lines.push_back(text.substr(start, i - start));
    if (i < n && text[i] == '\r') ++i;
    if (i < n && text[i] == '\n') ++i;
  }
  return lines;
}

}  // namespace vov
