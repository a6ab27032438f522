// The paged file of page.h.
#include "data/access/format/page.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "data/access/format/bytes.h"

namespace vov::access {

bool rowExtent(const uint8_t* page, uint32_t pageSize, uint32_t row, RowExtent* out) {
  const uint32_t at = datapage::rowCountOffset(pageSize), table = at + 2;
  const uint32_t count = get16(page + at);
  if (row >= count || table + 2 * count > pageSize) return false;
  const uint16_t raw = get16(page + table + 2 * row);
  // A row ends where the one before it starts, whatever that one's flags.
  uint32_t end = pageSize;
  if (row > 0) end = get16(page + table + 2 * (row - 1)) & datapage::kOffsetMask;
  const uint32_t start = raw & datapage::kOffsetMask;
  if (start < table + 2 * count || start > end || end > pageSize) return false;
  out->start = start;
  out->end = end;
  out->flags = raw & static_cast<uint16_t>(~datapage::kOffsetMask);
  return true;
}

namespace {

[[noreturn]] void systemError(const std::string& what, const std::string& path) {
  throw Error(what + "“" + path + "”：" + std::strerror(errno));
}

}  // namespace

PageFile::PageFile(const std::string& path, bool writable, size_t cachePages)
    : path_(path), writable_(writable), limit_(cachePages < 16 ? 16 : cachePages) {
  fd_ = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd_ < 0) systemError("无法打开文件", path);
  open();
}

PageFile::PageFile(int fd, const std::string& name, bool writable, size_t cachePages)
    : path_(name), writable_(writable), limit_(cachePages < 16 ? 16 : cachePages) {
  fd_ = fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (fd_ < 0) systemError("无法打开文件", name);
  open();
}

void PageFile::open() {
  struct stat st;
  if (fstat(fd_, &st) != 0) {
    int e = errno;
    ::close(fd_);
    errno = e;
    systemError("无法读取文件", path_);
  }
  uint8_t head[kHeaderProbeSize] = {};
  ssize_t got = pread(fd_, head, sizeof head, 0);
  if (got == static_cast<ssize_t>(sizeof head)) format_ = detectFormat(head, sizeof head);
  if (!format_) {
    ::close(fd_);
    throw FormatError("不是 Access 数据库文件");
  }
  pageSize_ = format_->pageSize();
  if (st.st_size % pageSize_ != 0 || st.st_size < 3 * static_cast<off_t>(pageSize_)) {
    ::close(fd_);
    throw FormatError("文件长度不是整页，文件不完整");
  }
  pageCount_ = static_cast<uint32_t>(st.st_size / pageSize_);
}

PageFile::~PageFile() {
  if (fd_ >= 0) ::close(fd_);
}

PageRef PageFile::get(uint32_t number) {
  auto it = cache_.find(number);
  if (it != cache_.end()) {
    lru_.splice(lru_.end(), lru_, it->second);
    return *it->second;
  }
  if (number >= pageCount_)
    throw FormatError("第 " + std::to_string(number) + " 页超出文件末尾");
  auto p = std::make_shared<Page>();
  p->number = number;
  p->bytes.resize(pageSize_);
  size_t done = 0;
  while (done < pageSize_) {
    ssize_t n = pread(fd_, p->bytes.data() + done, pageSize_ - done,
                      static_cast<off_t>(number) * pageSize_ + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) systemError("读取失败", path_);
    done += static_cast<size_t>(n);
  }
  evict();
  lru_.push_back(p);
  cache_[number] = std::prev(lru_.end());
  return p;
}

PageRef PageFile::append() {
  if (!writable_) throw Error("文件以只读方式打开：" + path_);
  if (pageCount_ >= (1u << 24) - 1) throw FormatError("文件已达到 Access 的页数上限");
  auto p = std::make_shared<Page>();
  p->number = pageCount_++;
  p->bytes.assign(pageSize_, 0);
  p->dirty = true;
  evict();
  lru_.push_back(p);
  cache_[p->number] = std::prev(lru_.end());
  return p;
}

void PageFile::writeBack(Page& p) {
  if (!p.dirty) return;
  size_t done = 0;
  while (done < pageSize_) {
    ssize_t n = pwrite(fd_, p.bytes.data() + done, pageSize_ - done,
                       static_cast<off_t>(p.number) * pageSize_ + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) systemError("写入失败", path_);
    done += static_cast<size_t>(n);
  }
  p.dirty = false;
}

// Pages still held by a caller stay; the cache may then grow past its
// limit for as long as they are held.
void PageFile::evict() {
  auto it = lru_.begin();
  while (cache_.size() >= limit_ && it != lru_.end()) {
    if (it->use_count() > 1) {
      ++it;
      continue;
    }
    writeBack(**it);
    cache_.erase((*it)->number);
    it = lru_.erase(it);
  }
}

void PageFile::flush(bool sync) {
  // In page order, so a new page is never written before the ones below it.
  std::vector<Page*> dirty;
  for (auto& p : lru_)
    if (p->dirty) dirty.push_back(p.get());
  std::sort(dirty.begin(), dirty.end(), [](Page* a, Page* b) { return a->number < b->number; });
  for (Page* p : dirty) writeBack(*p);
  if (sync && fsync(fd_) != 0) systemError("写入磁盘失败", path_);
}

}  // namespace vov::access
