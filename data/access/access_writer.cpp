// Write sessions on Access files (access_writer.h).
#include "data/access/access_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "data/access/format/catalog.h"
#include "data/access/format/checker.h"
#include "data/error.h"
#include "data/replacing_file.h"

namespace vov {

namespace {

namespace fs = std::filesystem;

std::string folderOf(const std::string& path) {
  const fs::path p(path);
  return p.has_parent_path() ? p.parent_path().string() : std::string(".");
}

[[noreturn]] void fail(const std::string& what, const std::string& path) {
  throw Error(what + "“" + path + "”：" + std::strerror(errno));
}

void writeAll(int fd, const char* p, size_t n, const std::string& path) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) fail("无法写入", path);
    p += w;
    n -= static_cast<size_t>(w);
  }
}

// Copies `from` into the open file `to`.
void copyInto(const std::string& from, int to, const std::string& toPath) {
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) fail("无法读取", from);
  std::string buf(1 << 20, '\0');
  for (;;) {
    ssize_t n = ::read(in, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int e = errno;
      ::close(in);
      errno = e;
      fail("无法读取", from);
    }
    if (n == 0) break;
    writeAll(to, buf.data(), static_cast<size_t>(n), toPath);
  }
  ::close(in);
}

// A new file beside `path`, with its mode; returns its name and open fd.
int makeTemp(const std::string& path, const char* tag, mode_t mode, std::string* name) {
  const fs::path p(path);
  std::string pattern = (fs::path(folderOf(path)) / ("." + p.filename().string() + tag + "XXXXXX")).string();
  int fd = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) fail("无法在文件所在的文件夹中创建临时文件，写入", path);
  *name = pattern;
  if (fchmod(fd, mode & 07777) != 0) {
    // Keeping the mode matters more than the copy: give up.
    int e = errno;
    ::close(fd);
    ::unlink(pattern.c_str());
    errno = e;
    fail("无法设置临时文件的权限", pattern);
  }
  return fd;
}

// An unnamed file in the folder of `path`, so nothing of it is left when
// the process dies; -1 where the file system cannot make one.
int makeUnnamed(const std::string& path, mode_t mode) {
  int fd = ::open(folderOf(path).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode & 07777);
  if (fd < 0) return -1;
  if (fchmod(fd, mode & 07777) != 0) {  // the umask took bits away
    ::close(fd);
    return -1;
  }
  return fd;
}

// Links `from` (a name, or /proc/self/fd/N with AT_SYMLINK_FOLLOW) under a
// fresh name beside `path` and returns that name; "" with errno when the
// file system refuses the link.
std::string linkBeside(const std::string& from, int flags, const std::string& path, const char* tag) {
  const fs::path p(path);
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  unsigned seed = static_cast<unsigned>(getpid()) * 2654435761u ^ static_cast<unsigned>(time(nullptr));
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string suffix;
    for (int i = 0; i < 6; ++i) suffix += kChars[rand_r(&seed) % 36];
    const std::string name =
        (fs::path(folderOf(path)) / ("." + p.filename().string() + tag + suffix)).string();
    if (linkat(AT_FDCWD, from.c_str(), AT_FDCWD, name.c_str(), flags) == 0) return name;
    if (errno != EEXIST) return {};
  }
  return {};
}

// Gives an unnamed file a name beside `path`, for the rename that puts it
// in place.
std::string nameUnnamed(int fd, const std::string& path, const char* tag) {
  std::string name = linkBeside("/proc/self/fd/" + std::to_string(fd), AT_SYMLINK_FOLLOW, path, tag);
  if (name.empty()) fail("无法在文件所在的文件夹中为写好的副本命名，替换", path);
  return name;
}

void syncFolder(const std::string& path) {
  int fd = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    ::close(fd);
  }
}

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

std::string firstProblems(const access::CheckReport& r) {
  std::string s;
  for (size_t i = 0; i < r.problems.size() && i < 3; ++i) s += (i ? "；" : "") + r.problems[i];
  if (r.problems.size() > 3) s += "；等 " + std::to_string(r.problems.size()) + " 处";
  return s;
}

// What keeps a session from writing to the file, raised before anything
// is written: Access has it open, or its version is not written.
void refuseLocked(const std::string& path) {
  const std::string lock = accessLockFile(path);
  if (!lock.empty())
    throw Error("数据库“" + path + "”正由 Access 打开（锁定文件“" + lock +
                "”存在），不能写入；请先在 Access 中关闭它。若 Access 并未运行，可删除这个锁定文件后再试");
}

void refuseVersion(const std::string& path, const access::PageFile& file) {
  const std::string why = file.format().whyNotWritable();
  if (!why.empty()) throw Error("数据库“" + path + "”" + why);
}

access::CatalogEntry writableTable(access::PageFile& file, const std::string& name) {
  const access::CatalogEntry entry = access::findTable(file, name);
  if (entry.systemTable()) throw Error("“" + entry.name + "”是 Access 的系统表，不能写入");
  return entry;
}

// A value check composes rows, never stores them, so no index is touched.
class NoIndexes : public access::IndexHook {
 public:
  void check(const uint8_t*, uint32_t) override {}
  void add(const uint8_t*, uint32_t, access::RowPointer) override {}
  void finish(access::TableDef&) override {}
};

}  // namespace

std::string accessLockFile(const std::string& path) {
  const fs::path p(path);
  for (const char* ext : {".ldb", ".laccdb"}) {
    fs::path lock = p;
    lock.replace_extension(ext);
    std::error_code ec;
    if (fs::exists(lock, ec)) return lock.string();
  }
  return {};
}

AccessWriteSession::AccessWriteSession(const std::string& given) : path_(followLink(given)) {
  // Written where a link leads: the copy renamed over the link itself would
  // leave the linked file without the rows.
  const std::string& path = path_;
  refuseLocked(path);
  if (::stat(path.c_str(), &original_) != 0) fail("无法读取", path);
  {
    access::PageFile probe(path, false);
    refuseVersion(path, probe);
    const access::CheckReport before = access::checkFile(probe);
    if (!before.ok())
      throw Error("数据库“" + path + "”的结构有问题，为免损坏，本程序不向它写入：" + firstProblems(before));
    exactIndexCounts_ = before.exactIndexCounts;
  }
  // The copy has no name until the commit where the file system allows
  // it, so a crash or a kill leaves nothing behind.
  tempFd_ = makeUnnamed(path, original_.st_mode);
  if (tempFd_ < 0) tempFd_ = makeTemp(path, ".vovarize-", original_.st_mode, &temp_);
  tempLabel_ = temp_.empty() ? path + "的临时副本" : temp_;
  try {
    copyInto(path, tempFd_, tempLabel_);
    file_ = std::make_unique<access::PageFile>(tempFd_, tempLabel_, true);
    pages_ = std::make_unique<access::PageAllocator>(*file_);
  } catch (...) {
    dropTemp();
    throw;
  }
  open_ = true;
}

AccessWriteSession::~AccessWriteSession() {
  if (open_) discard();
}

access::TableWriter& AccessWriteSession::table(const std::string& name) {
  if (!open_) throw Error("写入已经结束");
  auto it = tables_.find(name);
  if (it != tables_.end()) return *it->second;
  const access::CatalogEntry entry = writableTable(*file_, name);
  const access::TableDef def = access::readTableDef(*file_, entry.definitionPage());
  uint64_t live = 0;
  access::scanRows(*file_, def, [&](access::RowPointer, const uint8_t*, uint32_t) { ++live; });
  exactBefore_[def.page] = live == def.rowCount;
  auto writer = std::make_unique<access::TableWriter>(
      *file_, *pages_, entry.definitionPage(), entry.name,
      def.realIndexes.empty() ? nullptr
                               : access::makeIndexHook(*file_, *pages_, def, entry.name, indexes_));
  return *tables_.emplace(name, std::move(writer)).first->second;
}

void AccessWriteSession::commit() {
  if (!open_) return;
  // Nothing written (every row refused): the file stays as it is, no .bak.
  uint64_t rows = 0;
  for (auto& [name, t] : tables_) rows += t->appended();
  if (rows == 0 && broken_.empty()) {
    discard();
    return;
  }
  try {
    if (!broken_.empty()) throw Error(broken_);
    for (auto& [name, t] : tables_) t->finish();
    pages_->finish();
    file_->flush(true);
    file_.reset();
    // What the disk now holds, read afresh.
    {
      access::PageFile written(tempFd_, tempLabel_, false);
      access::CheckOptions options;
      for (auto& [page, exact] : exactBefore_)
        if (exact) options.exactRowCounts.push_back(page);
      options.exactIndexCounts = exactIndexCounts_;
      const access::CheckReport r = access::checkFile(written, options);
      if (!r.ok()) throw Error("写入后的检查发现问题：" + firstProblems(r));
    }
    struct stat now;
    if (::stat(path_.c_str(), &now) != 0 || !sameFile(now, original_))
      throw Error("数据库在写入期间被别的程序改动过");
    // The previous file stays as <name>.bak: linked, or copied where the
    // file system has no links, then renamed over an older .bak.
    const std::string bak = path_ + ".bak";
    std::string bakTemp = linkBeside(path_, 0, path_, ".bak-");
    if (bakTemp.empty()) {
      int fd = makeUnnamed(path_, original_.st_mode);
      const bool named = fd < 0;
      if (named) fd = makeTemp(path_, ".bak-", original_.st_mode, &bakTemp);
      try {
        copyInto(path_, fd, bak);
        if (fsync(fd) != 0) fail("无法写入", bak);
        if (!named) bakTemp = nameUnnamed(fd, path_, ".bak-");
        ::close(fd);
      } catch (...) {
        ::close(fd);
        if (named) ::unlink(bakTemp.c_str());
        throw;
      }
    }
    if (::rename(bakTemp.c_str(), bak.c_str()) != 0) {
      int e = errno;
      ::unlink(bakTemp.c_str());
      errno = e;
      fail("无法保留原文件为", bak);
    }
    if (::fchown(tempFd_, original_.st_uid, original_.st_gid) != 0) {
      // Only the owner or root may give a file away; the mode is kept anyway.
    }
    if (temp_.empty()) temp_ = nameUnnamed(tempFd_, path_, ".vovarize-");
    if (::rename(temp_.c_str(), path_.c_str()) != 0) fail("无法替换", path_);
    temp_.clear();
    syncFolder(path_);
    dropTemp();
    open_ = false;
  } catch (...) {
    discard();
    throw;
  }
}

AccessValueCheck::AccessValueCheck(const std::string& path, const std::string& table) {
  refuseLocked(path);
  file_ = std::make_unique<access::PageFile>(path, false);
  refuseVersion(path, *file_);
  const access::CatalogEntry entry = writableTable(*file_, table);
  pages_ = std::make_unique<access::PageAllocator>(*file_);
  writer_ = std::make_unique<access::TableWriter>(*file_, *pages_, entry.definitionPage(), entry.name,
                                                  std::make_unique<NoIndexes>());
}

AccessValueCheck::~AccessValueCheck() = default;

std::string AccessValueCheck::check(const std::vector<const Value*>& values) {
  try {
    writer_->checkValues(values);
  } catch (const access::RowRefused& e) {
    return e.what();
  }
  return {};
}

void AccessWriteSession::rollback() {
  if (open_) discard();
}

void AccessWriteSession::discard() {
  tables_.clear();
  pages_.reset();
  file_.reset();
  dropTemp();
  open_ = false;
}

void AccessWriteSession::dropTemp() {
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
  if (tempFd_ >= 0) ::close(tempFd_);
  tempFd_ = -1;
}

}  // namespace vov
