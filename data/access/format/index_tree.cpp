// The B-tree of one index; see index_tree.h.
#include "data/access/format/index_tree.h"

#include "data/access/format/page.h"

namespace vov::access {

namespace {

// Decoded pages kept between inserts; appends touch only the right edge.
constexpr size_t kCachedPages = 64;
// Deeper than any index of a file of at most 2^32 pages can be.
constexpr int kMaxDepth = 16;

bool hasKey(std::string_view entry, std::string_view key) {
  return entry.size() == key.size() + indexpage::kRowPointerSize &&
         entry.substr(0, key.size()) == key;
}

[[noreturn]] void damaged(uint32_t page, const std::string& what) {
  throw FormatError("索引页 " + std::to_string(page) + " 损坏：" + what);
}

}  // namespace

IndexTree::IndexTree(IndexPages& pages, uint32_t owner, uint32_t root)
    : pages_(pages), owner_(owner), root_(root) {}

IndexPage& IndexTree::load(uint32_t n) {
  auto it = cache_.find(n);
  if (it != cache_.end()) {
    ages_.splice(ages_.begin(), ages_, it->second.age);
    return it->second.page;
  }
  Cached c;
  if (const char* bad = IndexPage::parse(pages_.read(n), pages_.pageSize(), &c.page))
    damaged(n, bad);
  ages_.push_front(n);
  c.age = ages_.begin();
  return cache_.emplace(n, std::move(c)).first->second.page;
}

IndexPage& IndexTree::create(uint32_t n, bool leaf) {
  Cached c;
  c.page = IndexPage(leaf);
  c.dirty = true;
  ages_.push_front(n);
  c.age = ages_.begin();
  return cache_.emplace(n, std::move(c)).first->second.page;
}

uint32_t IndexTree::descend(const std::string& x, std::vector<Step>* path, bool raise) {
  uint32_t n = root_;
  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth) damaged(n, "索引树的层数过多（页面成环？）");
    IndexPage& p = load(n);
    if (p.leaf()) return n;
    size_t i = p.lowerBound(x);
    uint32_t child;
    if (i < p.size()) {
      child = p.child(i);
    } else if (p.tail != 0) {
      i = kTailSlot;
      child = p.tail;
    } else if (!p.empty()) {
      // Past the last child of a node without a tail: that child's largest
      // entry becomes `x`, and so does the node's entry for it.
      i = p.size() - 1;
      child = p.child(i);
      if (raise) {
        p.erase(i);
        p.insert(i, nodeEntry(x, child));
        touch(n);
      }
    } else {
      damaged(n, "索引节点页没有条目");
    }
    if (path) path->push_back({n, i});
    n = child;
  }
}

bool IndexTree::neighbourHasKey(uint32_t leafPage, size_t pos, std::string_view key) {
  // Cached pages stay where they are while others load.
  const IndexPage& leaf = load(leafPage);
  if (pos > 0) {
    if (hasKey(leaf.entry(pos - 1), key)) return true;
  } else if (leaf.previous != 0) {
    const IndexPage& before = load(leaf.previous);
    if (!before.empty() && hasKey(before.entry(before.size() - 1), key)) return true;
  }
  if (pos < leaf.size()) return hasKey(leaf.entry(pos), key);
  if (leaf.next == 0) return false;
  const IndexPage& after = load(leaf.next);
  return !after.empty() && hasKey(after.entry(0), key);
}

bool IndexTree::containsKey(std::string_view key) {
  const std::string x = indexSortPart(key, 0, 0);
  const uint32_t n = descend(x, nullptr, false);
  const IndexPage& leaf = load(n);
  const size_t pos = leaf.lowerBound(x);
  bool found = false;
  if (pos < leaf.size()) {
    found = hasKey(leaf.entry(pos), key);
  } else if (leaf.next != 0) {
    const IndexPage& after = load(leaf.next);
    found = !after.empty() && hasKey(after.entry(0), key);
  }
  trim();
  return found;
}

bool IndexTree::containsEntry(std::string_view key, uint32_t rowPage, uint8_t rowNumber) {
  const std::string x = indexSortPart(key, rowPage, rowNumber);
  const IndexPage& leaf = load(descend(x, nullptr, false));
  const size_t pos = leaf.lowerBound(x);
  const bool found = pos < leaf.size() && leaf.entry(pos) == x;
  trim();
  return found;
}

bool IndexTree::insert(std::string_view key, uint32_t rowPage, uint8_t rowNumber) {
  if (key.size() > kMaxIndexKey)
    throw Error("索引键长 " + std::to_string(key.size()) + " 字节，超过索引页能容纳的 " +
                std::to_string(kMaxIndexKey) + " 字节");
  const std::string x = indexSortPart(key, rowPage, rowNumber);
  std::vector<Step> path;
  const uint32_t n = descend(x, &path, true);
  IndexPage& leaf = load(n);
  const size_t pos = leaf.lowerBound(x);
  if (pos < leaf.size() && leaf.entry(pos) == x)
    damaged(n, "该行已有索引条目");
  const bool fresh = !neighbourHasKey(n, pos, key);
  leaf.insert(pos, x);
  touch(n);
  if (!leaf.fits(pages_.pageSize())) split(path, n, pos);
  trim();
  return fresh;
}

size_t IndexTree::splitPoint(const IndexPage& p, size_t inserted) const {
  // Appending at the right edge: keep the page full, start the next one.
  if (p.next == 0 && inserted == p.size() - 1) return p.size() - 1;
  size_t total = 0;
  for (size_t i = 0; i < p.size(); ++i) total += p.entry(i).size();
  size_t half = 0, s = 0;
  while (s < p.size() - 1 && half + p.entry(s).size() <= total / 2) half += p.entry(s++).size();
  return s == 0 ? 1 : s;
}

void IndexTree::split(std::vector<Step>& path, uint32_t n, size_t inserted) {
  const uint32_t pageSize = pages_.pageSize();
  while (!load(n).fits(pageSize)) {
    if (n == root_) {
      splitRoot(inserted);
      return;
    }
    IndexPage& left = load(n);
    const size_t s = splitPoint(left, inserted);
    const uint32_t q = pages_.allocate();
    IndexPage& right = create(q, left.leaf());
    left.moveTail(s, right);
    right.tail = left.tail;
    left.tail = 0;
    right.previous = n;
    right.next = left.next;
    left.next = q;
    if (right.next != 0) {
      load(right.next).previous = q;
      touch(right.next);
    }
    if (!left.fits(pageSize) || !right.fits(pageSize)) damaged(n, "索引条目过长，页面无法拆分");
    const std::string separator = nodeEntry(left.last(), n);
    const Step up = path.back();
    path.pop_back();
    IndexPage& parent = load(up.page);
    if (up.slot == kTailSlot) {
      parent.tail = q;
      inserted = parent.size();
    } else {
      parent.replaceChild(up.slot, q);
      inserted = up.slot;
    }
    parent.insert(inserted, separator);
    touch(up.page);
    n = up.page;
  }
}

void IndexTree::splitRoot(size_t inserted) {
  IndexPage& top = load(root_);
  const size_t s = splitPoint(top, inserted);
  const uint32_t a = pages_.allocate();
  const uint32_t b = pages_.allocate();
  IndexPage& left = create(a, top.leaf());
  IndexPage& right = create(b, top.leaf());
  top.moveTail(s, right);
  top.moveTail(0, left);
  right.tail = top.tail;
  left.next = b;
  right.previous = a;
  if (!left.fits(pages_.pageSize()) || !right.fits(pages_.pageSize()))
    damaged(root_, "索引条目过长，页面无法拆分");
  top = IndexPage(false);
  top.tail = b;
  top.insert(0, nodeEntry(left.last(), a));
  touch(root_);
}

void IndexTree::trim() {
  while (cache_.size() > kCachedPages) {
    const uint32_t n = ages_.back();
    Cached& c = cache_.at(n);
    if (c.dirty) c.page.serialize(pages_.write(n), pages_.pageSize(), owner_);
    ages_.pop_back();
    cache_.erase(n);
  }
}

void IndexTree::flush() {
  for (auto& [n, c] : cache_) {
    if (!c.dirty) continue;
    c.page.serialize(pages_.write(n), pages_.pageSize(), owner_);
    c.dirty = false;
  }
}

}  // namespace vov::access
