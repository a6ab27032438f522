// Starting, watching and reading the Access reader process.
#include "data/access/reader_process.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "data/access/mdb_wire.h"
#include "data/error.h"
#include "data/error_context.h"
#include "data/interrupt.h"

extern char** environ;

namespace vov {

namespace {

constexpr char kReaderName[] = "vovarize-mdb-reader";

bool executable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

std::string findReader() {
  if (const char* e = std::getenv("VOVARIZE_MDB_READER"); e && *e) return e;
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) {
    std::string path(exe, static_cast<size_t>(n));
    std::string beside = path.substr(0, path.rfind('/') + 1) + kReaderName;
    if (executable(beside)) return beside;
  }
  for (const char* candidate : {VOV_MDB_READER_INSTALLED, VOV_MDB_READER_BUILT})
    if (executable(candidate)) return candidate;
  throw Error(std::string("找不到读取 Access 文件的辅助程序 ") + kReaderName +
              "（它应与 vovarize 在同一文件夹中），请重新安装本程序");
}

int silenceLimitMs() {
  const char* e = std::getenv("VOVARIZE_MDB_TIMEOUT_MS");
  int ms = e ? std::atoi(e) : 0;
  return ms > 0 ? ms : 5000;
}

std::string quoted(const std::string& s) { return "“" + echo(s, 4 * kEchoChars) + "”"; }

std::string failureMessage(uint8_t code, const std::string& detail, const std::string& file) {
  using namespace mdbwire;
  switch (code) {
    case kOpenFailed: {
      int e = std::atoi(detail.c_str());
      if (e == ENOENT) return "找不到 Access 文件" + quoted(file);
      if (e == EACCES || e == EPERM) return "没有读取 Access 文件" + quoted(file) + "的权限";
      if (e == EISDIR) return quoted(file) + "是文件夹，不是 Access 数据库文件";
      return "无法打开 Access 文件" + quoted(file) + "：" + std::strerror(e);
    }
    case kEmptyFile:
      return "Access 文件" + quoted(file) + "是空文件";
    case kNotAccess:
      return quoted(file) + "不是 Access 数据库文件";
    case kTruncated:
      return "Access 文件" + quoted(file) + "不完整（文件被截断），无法读取";
    case kEncrypted:
      return "Access 文件" + quoted(file) +
             "已加密（设有数据库密码），本程序无法读取；请先在 Access 中撤消数据库密码";
    case kDamaged:
      return "Access 文件" + quoted(file) + "已损坏，无法读取（" + detail + "）";
    case kNoSuchTable:
      return "Access 文件" + quoted(file) + "中没有表" + quoted(detail);
    default:
      return "读取 Access 文件" + quoted(file) + "失败：" + detail;
  }
}

}  // namespace

ReaderProcess::ReaderProcess(const std::string& command, const std::string& file,
                             const std::vector<std::string>& args)
    : file_(file), timeoutMs_(silenceLimitMs()), buf_(64 << 10) {
  // Decoded text takes at most three bytes for each byte the file stores
  // it in; pages are at least 2048 bytes.
  struct stat st;
  const uint64_t size = ::stat(file.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
  maxText_ = static_cast<size_t>(std::min<uint64_t>(3 * size, uint64_t{1} << 40)) + (64 << 10);
  maxPage_ = size / 2048;
  const std::string reader = findReader();
  std::vector<std::string> words{reader, command, file};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  int p[2];
  if (pipe2(p, O_CLOEXEC) != 0) throw Error(std::string("无法启动 Access 读取程序：") + std::strerror(errno));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, p[1], 1);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  // The program may ignore or block signals; the reader starts clean.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults, none;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  int rc = posix_spawn(&pid_, reader.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  close(p[1]);
  if (rc != 0) {
    close(p[0]);
    pid_ = -1;
    throw Error("无法启动 Access 读取程序 " + reader + "：" + std::strerror(rc));
  }
  fd_ = p[0];
}

ReaderProcess::~ReaderProcess() { stop(); }

void ReaderProcess::stop() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }
}

void ReaderProcess::broken(const std::string& why) {
  stop();
  // Ctrl-C reaches the reader too (it shares the terminal's process group);
  // its death is then the user's stop, not a damaged file.
  if (interruptRequested()) throw Abort();
  throw Error("Access 文件" + quoted(file_) + "已损坏或无法识别，无法读取（" + why + "）");
}

void ReaderProcess::need(size_t n) {
  if (end_ - pos_ >= n) return;
  if (fd_ < 0) broken("读取程序已结束");
  if (pos_ > 0) {
    std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
  }
  if (buf_.size() < n) buf_.resize(std::max(n, buf_.size() * 2));
  int silentMs = 0;
  while (end_ < n) {
    // Ctrl-C: the user stops the read, and the reader with it. Waits come
    // in slices, so that a stop asked for just before one is seen too.
    if (interruptRequested()) {
      stop();
      throw Abort();
    }
    const int slice = std::min(100, timeoutMs_ - silentMs);
    pollfd pfd{fd_, POLLIN, 0};
    int r = poll(&pfd, 1, slice);
    if (r < 0 && errno == EINTR) continue;
    if (r == 0) {
      silentMs += slice;
      if (silentMs >= timeoutMs_) broken("读取程序长时间没有响应，已被终止");
      continue;
    }
    silentMs = 0;
    ssize_t got = r < 0 ? -1 : read(fd_, buf_.data() + end_, buf_.size() - end_);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got < 0) broken(std::string("读取程序的输出无法读取：") + std::strerror(errno));
    if (got == 0) {
      // The reader closed its output without finishing: it has died, or
      // is about to; a kill does not change the status of a dead one.
      int status = 0;
      kill(pid_, SIGKILL);
      while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      pid_ = -1;
      if (WIFSIGNALED(status))
        broken("读取程序异常终止，信号 " + std::to_string(WTERMSIG(status)));
      broken("读取程序意外退出，代码 " + std::to_string(WEXITSTATUS(status)));
    }
    end_ += static_cast<size_t>(got);
  }
}

uint8_t ReaderProcess::u8() {
  need(1);
  return static_cast<uint8_t>(buf_[pos_++]);
}

uint16_t ReaderProcess::u16() {
  need(2);
  const auto* p = reinterpret_cast<const unsigned char*>(buf_.data() + pos_);
  pos_ += 2;
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t ReaderProcess::u32() {
  need(4);
  const auto* p = reinterpret_cast<const unsigned char*>(buf_.data() + pos_);
  pos_ += 4;
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint64_t ReaderProcess::u64() {
  uint64_t lo = u32();
  return lo | (static_cast<uint64_t>(u32()) << 32);
}

std::string ReaderProcess::text() {
  size_t n = u32();
  if (n > maxText_) broken("读取程序发来的文本长度 " + std::to_string(n) + " 超出了文件所能容纳的");
  need(n);
  std::string s(buf_.data() + pos_, n);
  pos_ += n;
  return s;
}

uint8_t ReaderProcess::next() {
  for (;;) {
    uint8_t tag = u8();
    if (tag == mdbwire::kProgress) {
      const int64_t page = u32();
      // Alive but no further on: as stuck as a silent reader.
      if (page <= lastPage_ || static_cast<uint64_t>(page) > maxPage_)
        broken("读取程序一直没有进展，已被终止");
      lastPage_ = page;
      checkInterrupt();
      continue;
    }
    if (tag == mdbwire::kFail) {
      uint8_t code = u8();
      std::string detail = text();
      stop();
      throw Error(failureMessage(code, detail, file_));
    }
    return tag;
  }
}

void ReaderProcess::expect(uint8_t tag) {
  if (next() != tag) broken("读取程序的输出不符合约定");
}

std::vector<FieldInfo> ReaderProcess::fields() {
  // An Access table has at most 255 columns.
  const uint16_t n = u16();
  if (n > 4096) broken("读取程序发来的字段数 " + std::to_string(n) + " 不合理");
  std::vector<FieldInfo> list(n);
  for (FieldInfo& f : list) {
    f.name = text();
    f.type = static_cast<FieldType>(u8());
    f.size = static_cast<int32_t>(u32());
    f.unreadable = text();
  }
  return list;
}

void ReaderProcess::value(Value& v) {
  using namespace mdbwire;
  switch (u8()) {
    case kNull:
      v = Value();
      return;
    case kFalse:
      v = Value::fromBool(false);
      return;
    case kTrue:
      v = Value::fromBool(true);
      return;
    case kInt:
      v = Value::fromInt(static_cast<int64_t>(u64()));
      return;
    case kReal: {
      uint64_t bits = u64();
      double d;
      std::memcpy(&d, &bits, sizeof d);
      v = Value::fromReal(d);
      return;
    }
    case kDecimal:
      v = Value::fromDecimal(text());
      return;
    case kText:
      v = Value::fromText(text());
      return;
    case kBytes:
      v = Value::fromBytes(text());
      return;
    case kDate: {
      DateTime d;
      d.year = static_cast<int16_t>(u16());
      d.month = u8();
      d.day = u8();
      d.hour = u8();
      d.minute = u8();
      d.second = u8();
      d.nanosecond = static_cast<int>(u32());
      v = Value::fromDateTime(d);
      return;
    }
    default:
      broken("读取程序的输出不符合约定");
  }
}

void ReaderProcess::finish() { stop(); }

}  // namespace vov
