// Usage maps (usage_map.h).
#include "data/access/format/usage_map.h"

#include <algorithm>
#include <string>

namespace vov::access {

namespace {

constexpr uint8_t kInline = 0x00;
constexpr uint8_t kReference = 0x01;
constexpr uint32_t kBitmapStart = 4;  // in a bitmap page

std::string mapName(RowPointer p) {
  return "第 " + std::to_string(p.page) + " 页第 " + std::to_string(p.row) + " 行的页面分配表";
}

// The bytes of the map's row, checked.
uint8_t* mapRow(PageFile& file, const PageRef& page, RowPointer at, uint32_t* len) {
  if (page->bytes[0] != kPageData) throw FormatError(mapName(at) + "不在数据页上");
  RowExtent e;
  if (!rowExtent(page->bytes.data(), file.pageSize(), at.row, &e) || (e.flags & datapage::kDeleted))
    throw FormatError(mapName(at) + "不存在");
  *len = e.end - e.start;
  if (*len < 5) throw FormatError(mapName(at) + "太短");
  return page->bytes.data() + e.start;
}

}  // namespace

UsageMap UsageMap::read(PageFile& file, RowPointer at) {
  UsageMap m;
  m.where_ = at;
  PageRef page = file.get(at.page);
  uint32_t len = 0;
  const uint8_t* row = mapRow(file, page, at, &len);
  if (row[0] == kInline) {
    m.first_ = get32(row + 1);
    m.rowBits_ = (len - 5) * 8;
    for (uint32_t i = 0; i < m.rowBits_; ++i)
      if (row[5 + i / 8] & (1u << (i % 8))) m.set(m.first_ + i, true);
    return m;
  }
  if (row[0] != kReference) throw FormatError(mapName(at) + "的类型未知");
  m.reference_ = true;
  m.bitsPerPage_ = (file.pageSize() - kBitmapStart) * 8;
  const uint32_t slots = (len - 1) / 4;
  m.refPages_.assign(slots, 0);
  for (uint32_t k = 0; k < slots; ++k) m.refPages_[k] = get32(row + 1 + 4 * k);
  for (uint32_t k = 0; k < slots; ++k) {
    const uint32_t pg = m.refPages_[k];
    if (pg == 0) continue;
    if (pg >= file.pageCount()) throw FormatError(mapName(at) + "指向文件末尾之外的第 " + std::to_string(pg) + " 页");
    PageRef bitmap = file.get(pg);
    if (bitmap->bytes[0] != kPageUsageMap)
      throw FormatError(mapName(at) + "指向的第 " + std::to_string(pg) + " 页不是分配表页");
    const uint8_t* b = bitmap->bytes.data() + kBitmapStart;
    for (uint32_t i = 0; i < m.bitsPerPage_; ++i)
      if (b[i / 8] & (1u << (i % 8))) m.set(k * m.bitsPerPage_ + i, true);
  }
  return m;
}

void UsageMap::set(uint32_t page, bool on) {
  const size_t word = page / 64;
  if (word >= bits_.size()) {
    if (!on) return;
    bits_.resize(word + 1 + word / 4, 0);
  }
  const uint64_t mask = uint64_t{1} << (page % 64);
  const bool was = bits_[word] & mask;
  if (was == on) return;
  if (on) {
    bits_[word] |= mask;
    ++count_;
    if (page > highest_) highest_ = page;
  } else {
    bits_[word] &= ~mask;
    --count_;
  }
}

bool UsageMap::contains(uint32_t page) const {
  const size_t word = page / 64;
  return word < bits_.size() && (bits_[word] >> (page % 64) & 1);
}

std::vector<uint32_t> UsageMap::pages() const {
  std::vector<uint32_t> out;
  out.reserve(count_);
  for (size_t w = 0; w < bits_.size(); ++w)
    for (uint64_t b = bits_[w]; b; b &= b - 1)
      out.push_back(static_cast<uint32_t>(w * 64 + static_cast<size_t>(__builtin_ctzll(b))));
  return out;
}

uint32_t UsageMap::next(uint32_t after) const {
  uint64_t start = uint64_t{after} + 1;
  for (size_t w = start / 64; w < bits_.size(); ++w) {
    uint64_t b = bits_[w];
    if (w == start / 64) b &= ~uint64_t{0} << (start % 64);
    if (b) return static_cast<uint32_t>(w * 64 + static_cast<size_t>(__builtin_ctzll(b)));
  }
  return 0;
}

void UsageMap::add(uint32_t page) { set(page, true); }
void UsageMap::remove(uint32_t page) { set(page, false); }

bool UsageMap::fitsInline(uint32_t first) const {
  if (count_ == 0) return true;
  for (size_t w = 0; w < bits_.size(); ++w) {
    if (!bits_[w]) continue;
    uint32_t low = static_cast<uint32_t>(w * 64 + static_cast<size_t>(__builtin_ctzll(bits_[w])));
    return low >= first && highest_ < first + rowBits_;
  }
  return true;
}

void UsageMap::writeInline(uint8_t* row) {
  row[0] = kInline;
  put32(row + 1, first_);
  for (uint32_t i = 0; i < rowBits_ / 8; ++i) row[5 + i] = 0;
  for (uint32_t p : pages()) {
    const uint32_t i = p - first_;
    row[5 + i / 8] |= static_cast<uint8_t>(1u << (i % 8));
  }
}

void UsageMap::write(PageFile& file, const std::function<PageRef()>& newPage) {
  PageRef page = file.get(where_.page);
  uint32_t len = 0;
  uint8_t* row = mapRow(file, page, where_, &len);
  if (!reference_) {
    if (fitsInline(first_)) {
      writeInline(row);
      file.touch(page);
      return;
    }
    // Access itself turns small maps into reference maps; moving the
    // inline window instead would be a form no Access-written file shows.
    reference_ = true;
    bitsPerPage_ = (file.pageSize() - kBitmapStart) * 8;
    refPages_.assign((len - 1) / 4, 0);
  }
  if (highest_ / bitsPerPage_ >= refPages_.size())
    throw FormatError(mapName(where_) + "无法再容纳第 " + std::to_string(highest_) + " 页");
  std::vector<std::vector<uint32_t>> bySlot(refPages_.size());
  for (uint32_t p : pages()) bySlot[p / bitsPerPage_].push_back(p);
  for (size_t k = 0; k < refPages_.size(); ++k) {
    if (bySlot[k].empty() && refPages_[k] == 0) continue;
    PageRef bitmap;
    if (refPages_[k] == 0) {
      bitmap = newPage();
      bitmap->bytes[0] = kPageUsageMap;
      bitmap->bytes[1] = 0x01;
      refPages_[k] = bitmap->number;
    } else {
      bitmap = file.get(refPages_[k]);
    }
    uint8_t* b = bitmap->bytes.data() + kBitmapStart;
    std::fill(b, b + bitsPerPage_ / 8, 0);
    const uint32_t base = static_cast<uint32_t>(k) * bitsPerPage_;
    for (uint32_t p : bySlot[k]) b[(p - base) / 8] |= static_cast<uint8_t>(1u << ((p - base) % 8));
    file.touch(bitmap);
  }
  row[0] = kReference;
  for (size_t k = 0; k < refPages_.size(); ++k) put32(row + 1 + 4 * k, refPages_[k]);
  file.touch(page);
}

}  // namespace vov::access
