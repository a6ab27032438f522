// Decoding and writing of index pages; see index_page.h.
#include "data/access/format/index_page.h"

#include <algorithm>
#include <cstring>

#include "data/access/format/bytes.h"


namespace vov::access {

using namespace indexpage;

uint32_t readBigEndian32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

std::string indexSortPart(std::string_view key, uint32_t page, uint8_t row) {
  std::string s(key);
  s += static_cast<char>(page >> 16);
  s += static_cast<char>(page >> 8);
  s += static_cast<char>(page);
  s += static_cast<char>(row);
  return s;
}

std::string nodeEntry(std::string_view sortPart, uint32_t child) {
  std::string s(sortPart);
  s += static_cast<char>(child >> 24);
  s += static_cast<char>(child >> 16);
  s += static_cast<char>(child >> 8);
  s += static_cast<char>(child);
  return s;
}

const char* IndexPage::parse(const uint8_t* page, uint32_t pageSize, IndexPage* out) {
  if (page[0] != kNode && page[0] != kLeaf) return "不是索引页";
  *out = IndexPage(page[0] == kLeaf);
  out->previous = get32(page + kPrevious);
  out->next = get32(page + kNext);
  out->tail = get32(page + kTail);
  const uint32_t free = get16(page + kFreeSpace);
  if (free > pageSize - kEntries) return "索引页的剩余空间超出页面";
  const uint32_t end = pageSize - free;
  const uint32_t prefix = get16(page + kPrefix);
  // Entry starts after the first, and the end of the last.
  std::vector<uint32_t> marks;
  for (uint32_t byte = kBitmap; byte < kEntries; ++byte) {
    const uint8_t bits = page[byte];
    for (int b = 0; b < 8 && bits; ++b)
      if (bits & (1 << b)) marks.push_back(kEntries + (byte - kBitmap) * 8 + b);
  }
  if (marks.empty() ? end != kEntries : marks.back() != end)
    return "索引页的条目位图与剩余空间不符";
  const size_t minimum = 1 + kRowPointerSize + (out->leaf_ ? 0 : kChildSize);
  uint32_t start = kEntries;
  std::string shared;
  for (size_t i = 0; i < marks.size(); ++i) {
    if (marks[i] > pageSize) return "索引条目超出页面";
    if (i == 1) shared = out->bytes_.substr(0, prefix);
    out->bytes_ += shared;
    out->bytes_.append(reinterpret_cast<const char*>(page + start), marks[i] - start);
    out->ends_.push_back(static_cast<uint32_t>(out->bytes_.size()));
    if (i == 0 && prefix > out->bytes_.size()) return "共享前缀长于第一个索引条目";
    if (out->entry(i).size() < minimum) return "索引条目过短";
    start = marks[i];
  }
  return nullptr;
}

uint32_t IndexPage::child(size_t i) const {
  std::string_view e = entry(i);
  return readBigEndian32(reinterpret_cast<const uint8_t*>(e.data()) + e.size() - kChildSize);
}

size_t IndexPage::sharedPrefix() const {
  if (!leaf_ || size() < 2) return 0;
  // Entries are sorted, so what the first and last share, all share.
  std::string_view a = entry(0), b = entry(size() - 1);
  size_t n = 0;
  const size_t limit = std::min<size_t>({a.size(), b.size(), 0xFFFF});
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

size_t IndexPage::encodedSize() const {
  if (empty()) return kEntries;
  return kEntries + bytes_.size() - (size() - 1) * sharedPrefix();
}

size_t IndexPage::lowerBound(std::string_view x) const {
  size_t lo = 0, hi = size();
  while (lo < hi) {
    const size_t mid = (lo + hi) / 2;
    if (sortPart(mid) < x) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

void IndexPage::insert(size_t i, std::string_view e) {
  const uint32_t at = i == 0 ? 0 : ends_[i - 1];
  bytes_.insert(at, e);
  ends_.insert(ends_.begin() + i, at);
  for (size_t k = i; k < ends_.size(); ++k) ends_[k] += static_cast<uint32_t>(e.size());
}

void IndexPage::erase(size_t i) {
  const uint32_t at = i == 0 ? 0 : ends_[i - 1];
  const uint32_t n = ends_[i] - at;
  bytes_.erase(at, n);
  ends_.erase(ends_.begin() + i);
  for (size_t k = i; k < ends_.size(); ++k) ends_[k] -= n;
}

void IndexPage::replaceChild(size_t i, uint32_t c) {
  const size_t at = ends_[i] - kChildSize;
  bytes_[at] = static_cast<char>(c >> 24);
  bytes_[at + 1] = static_cast<char>(c >> 16);
  bytes_[at + 2] = static_cast<char>(c >> 8);
  bytes_[at + 3] = static_cast<char>(c);
}

void IndexPage::moveTail(size_t i, IndexPage& to) {
  const uint32_t from = i == 0 ? 0 : ends_[i - 1];
  for (size_t k = i; k < size(); ++k) to.insert(to.size(), entry(k));
  bytes_.resize(from);
  ends_.resize(i);
}

void IndexPage::serialize(uint8_t* page, uint32_t pageSize, uint32_t owner) const {
  std::memset(page, 0, pageSize);
  page[0] = leaf_ ? kLeaf : kNode;
  page[1] = 0x01;
  put32(page + kOwner, owner);
  put32(page + kPrevious, previous);
  put32(page + kNext, next);
  put32(page + kTail, tail);
  const size_t prefix = sharedPrefix();
  put16(page + kPrefix, static_cast<uint16_t>(prefix));
  page[kNodeFlag] = leaf_ ? 0 : 1;
  uint32_t at = kEntries;
  for (size_t i = 0; i < size(); ++i) {
    std::string_view e = entry(i);
    if (i > 0) e.remove_prefix(prefix);
    std::memcpy(page + at, e.data(), e.size());
    at += static_cast<uint32_t>(e.size());
    const uint32_t bit = at - kEntries;
    page[kBitmap + bit / 8] |= static_cast<uint8_t>(1 << (bit % 8));
  }
  put16(page + kFreeSpace, static_cast<uint16_t>(pageSize - at));
}

}  // namespace vov::access
