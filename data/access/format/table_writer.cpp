// Appending rows (table_writer.h).
#include "data/access/format/table_writer.h"

#include <algorithm>
#include <cstring>

#include "data/access/format/bytes.h"
#include "data/access/format/long_value.h"
#include "data/access/format/value_codec.h"

namespace vov::access {

namespace {

// Long values up to this size stay in the row when the row has room.
constexpr size_t kInlineLimit = 1024;

void initDataPage(uint8_t* b, uint32_t pageSize, uint32_t owner) {
  b[0] = kPageData;
  b[1] = 0x01;
  put16(b + datapage::kFreeSpace, static_cast<uint16_t>(pageSize - datapage::kRowTable));
  put32(b + datapage::kOwner, owner);
  put32(b + 8, 0);
  put16(b + datapage::kRowCount, 0);
}

// Whether a data page can take a row of `len` bytes.
bool roomFor(const uint8_t* b, size_t len) {
  return get16(b + datapage::kRowCount) < datapage::kMaxRows &&
         get16(b + datapage::kFreeSpace) >= len + 2;
}

// Adds the row to the page's row table, below the lowest row.
uint8_t putRow(uint8_t* b, uint32_t pageSize, const std::string& row) {
  const uint32_t rows = get16(b + datapage::kRowCount);
  const uint32_t lowest =
      rows == 0 ? pageSize : (get16(b + datapage::kRowTable + 2 * (rows - 1)) & datapage::kOffsetMask);
  const uint32_t start = lowest - static_cast<uint32_t>(row.size());
  std::memcpy(b + start, row.data(), row.size());
  put16(b + datapage::kRowTable + 2 * rows, static_cast<uint16_t>(start));
  put16(b + datapage::kRowCount, static_cast<uint16_t>(rows + 1));
  put16(b + datapage::kFreeSpace,
        static_cast<uint16_t>(get16(b + datapage::kFreeSpace) - row.size() - 2));
  return static_cast<uint8_t>(rows);
}

std::string header(uint32_t lengthAndFlags, RowPointer at) {
  std::string h(longvalue::kHeaderSize, '\0');
  auto* p = reinterpret_cast<uint8_t*>(h.data());
  put32(p, lengthAndFlags);
  put32(p + 4, at.encode());
  return h;
}

// The page of the map with the highest number that can still take rows.
PageRef lastOpenPage(PageFile& file, const UsageMap& map, uint32_t owner) {
  std::vector<uint32_t> pages = map.pages();
  for (auto it = pages.rbegin(); it != pages.rend(); ++it) {
    if (*it >= file.pageCount()) continue;
    PageRef p = file.get(*it);
    if (p->bytes[0] == kPageData && get32(p->bytes.data() + datapage::kOwner) == owner &&
        get16(p->bytes.data() + datapage::kRowCount) < datapage::kMaxRows)
      return p;
  }
  return nullptr;
}

}  // namespace

// ------------------------------------------------------------ PageAllocator

PageAllocator::PageAllocator(PageFile& file)
    : file_(file), global_(UsageMap::read(file, RowPointer{1, 0})) {}

PageRef PageAllocator::newPage() {
  PageRef p = file_.append();
  ++added_;
  if (global_.contains(p->number)) {
    global_.remove(p->number);
    changed_ = true;
  }
  return p;
}

void PageAllocator::finish() {
  if (!changed_) return;
  // Only pages leave the free-page map, so it never needs a page of its own.
  global_.write(file_, []() -> PageRef { throw FormatError("数据库的页面分配表无法扩展"); });
  changed_ = false;
}

// ------------------------------------------------------------- TableWriter

TableWriter::TableWriter(PageFile& file, PageAllocator& pages, uint32_t definitionPage,
                         std::string name, std::unique_ptr<IndexHook> indexes)
    : file_(file),
      pages_(pages),
      name_(std::move(name)),
      def_(readTableDef(file, definitionPage)),
      indexes_(std::move(indexes)),
      random_(std::random_device{}()) {
  for (const Column& c : def_.columns) {
    if (c.calculated()) refuse(c, "是计算字段，它的值由 Access 根据表达式算出");
    if (c.type == kColComplex) refuse(c, "是附件或多值字段，它的值存放在 Access 的隐藏表中");
    if (c.hyperlink()) refuse(c, "是超链接字段");
  }
  if (!def_.realIndexes.empty() && !indexes_)
    throw Error("表“" + name_ + "”有索引，而索引的维护尚未接入，不能写入");
  owned_ = UsageMap::read(file, def_.ownedPages);
  free_ = UsageMap::read(file, def_.freePages);
  current_ = lastOpenPage(file, free_, def_.page);
  longValues_.resize(def_.columns.size());
  for (size_t i = 0; i < def_.columns.size(); ++i) {
    const Column& c = def_.columns[i];
    if (!c.longValue() || c.longValuePages.null()) continue;
    auto lv = std::make_unique<LongValueColumn>();
    lv->owned = UsageMap::read(file, c.longValuePages);
    if (!c.longValueFree.null()) {
      lv->free = UsageMap::read(file, c.longValueFree);
      lv->hasFree = true;
      lv->current = lastOpenPage(file, lv->free, datapage::kLvalOwner);
    }
    longValues_[i] = std::move(lv);
  }
  fields_.resize(def_.columns.size());
  longData_.resize(def_.columns.size());
}

void TableWriter::refuse(const Column& c, const std::string& why) const {
  throw Error("表“" + name_ + "”的字段“" + c.name + "”" + why +
              "，本程序不能向这样的表写入行；请改用没有这种字段的表");
}

void TableWriter::encode(const std::vector<const Value*>& values) {
  std::string why;
  for (size_t i = 0; i < def_.columns.size(); ++i) {
    const Column& c = def_.columns[i];
    FieldValue& f = fields_[i];
    f.null = true;
    f.yes = false;
    f.bytes.clear();
    longData_[i].clear();
    const Value* v = i < values.size() ? values[i] : nullptr;
    const bool given = v && !v->isNull();
    if (c.autoNumber() && c.type == kColLong) {
      // Access numbers these rows itself and refuses a value for them.
      if (given)
        throw Error("字段“" + c.name + "”是自动编号字段，它的值由 Access 生成，不能写入“" +
                    v->toText() + "”");
      if (def_.lastAutoNumber >= 0x7FFFFFFFu)
        throw Error("表“" + name_ + "”的自动编号已用尽");
      f.null = false;
      f.bytes.resize(4);
      put32(reinterpret_cast<uint8_t*>(f.bytes.data()), def_.lastAutoNumber + 1);
      continue;
    }
    if (c.autoGuid() && c.type == kColGuid && !given) {
      f.null = false;
      f.bytes.resize(16);
      const uint64_t a = random_(), b = random_();
      std::memcpy(&f.bytes[0], &a, 8);
      std::memcpy(&f.bytes[8], &b, 8);
      f.bytes[7] = static_cast<char>((f.bytes[7] & 0x0F) | 0x40);  // version 4
      f.bytes[8] = static_cast<char>((f.bytes[8] & 0x3F) | 0x80);
      continue;
    }
    if (!given) continue;  // Yes/No: No
    // Encoded where the value stays, so the buffers are reused row after row.
    std::string& bytes = c.longValue() ? longData_[i] : f.bytes;
    if (!encodeValue(c, *v, &bytes, &why)) {
      std::string shown = v->kind() == Value::Kind::Bytes ? "(" + std::to_string(v->str().size()) + " 字节)" : v->toText();
      if (shown.size() > 60) shown = shown.substr(0, 57) + "...";
      throw Error("字段“" + c.name + "”的值“" + shown + "”" + why + "，无法写入");
    }
    if (c.type == kColBool) {
      f.yes = bytes[0] != 0;
      bytes.clear();
      continue;
    }
    f.null = false;
    if (c.longValue() && bytes.size() > longvalue::kLengthMask)
      throw Error("字段“" + c.name + "”的值超过 1 GB，无法写入");
  }
}

void TableWriter::append(const std::vector<const Value*>& values) {
  prepare(values, true);
  store();
}

void TableWriter::checkValues(const std::vector<const Value*>& values) { prepare(values, false); }

void TableWriter::prepare(const std::vector<const Value*>& values, bool withIndexes) {
  try {
    compose(values, withIndexes);
  } catch (const FormatError&) {
    throw;
  } catch (const RowRefused&) {
    throw;
  } catch (const Error& e) {
    throw RowRefused(e.what());
  }
}

void TableWriter::compose(const std::vector<const Value*>& values, bool withIndexes) {
  encode(values);
  // Long values stay in the row while it has room; the largest leave first.
  std::vector<size_t> out;
  for (size_t i = 0; i < def_.columns.size(); ++i) {
    if (!def_.columns[i].longValue() || fields_[i].null) continue;
    const std::string& data = longData_[i];
    if (data.size() <= kInlineLimit) {
      fields_[i].bytes = header(static_cast<uint32_t>(data.size()) | longvalue::kInline, {});
      fields_[i].bytes += data;
    } else {
      fields_[i].bytes = header(0, {});
      out.push_back(i);
    }
  }
  while (!composeRow(def_, fields_, file_.pageSize(), &row_)) {
    size_t largest = def_.columns.size();
    for (size_t i = 0; i < def_.columns.size(); ++i)
      if (def_.columns[i].longValue() && !fields_[i].null && fields_[i].bytes.size() > longvalue::kHeaderSize &&
          (largest == def_.columns.size() || longData_[i].size() > longData_[largest].size()))
        largest = i;
    if (largest == def_.columns.size())
      throw Error("这一行的数据超过 Access 一行的上限（约 4000 字节，不含备注与 OLE 字段），无法写入");
    fields_[largest].bytes = header(0, {});
    out.push_back(largest);
  }
  for (size_t i : out) {
    const Column& c = def_.columns[i];
    if (!longValues_[i])
      throw Error("字段“" + c.name + "”没有存放长数据的页表，本程序不能把长值写入这个字段");
  }
  if (indexes_ && withIndexes)
    indexes_->check(reinterpret_cast<const uint8_t*>(row_.data()), static_cast<uint32_t>(row_.size()));
  out_ = std::move(out);
}

// From here on the row goes in.
void TableWriter::store() {
  const std::vector<size_t>& out = out_;
  if (!out.empty()) {
    for (size_t i : out) storeLongValue(i, fields_[i].bytes, longData_[i]);
    composeRow(def_, fields_, file_.pageSize(), &row_);
  }
  const RowPointer at = placeRow(row_);
  if (indexes_) indexes_->add(reinterpret_cast<const uint8_t*>(row_.data()), static_cast<uint32_t>(row_.size()), at);
  for (const Column& c : def_.columns)
    if (c.autoNumber() && c.type == kColLong) ++def_.lastAutoNumber;
  ++def_.rowCount;
  ++appended_;
}

PageRef TableWriter::newDataPage(uint32_t owner) {
  PageRef p = pages_.newPage();
  initDataPage(p->bytes.data(), file_.pageSize(), owner);
  return p;
}

RowPointer TableWriter::placeRow(const std::string& row) {
  if (!current_ || !roomFor(current_->bytes.data(), row.size())) {
    // A page that could not take a row is no longer offered as free.
    if (current_) free_.remove(current_->number);
    current_ = newDataPage(def_.page);
    owned_.add(current_->number);
    free_.add(current_->number);
  }
  const uint8_t r = putRow(current_->bytes.data(), file_.pageSize(), row);
  file_.touch(current_);
  return RowPointer{current_->number, r};
}

RowPointer TableWriter::placeLongValueRow(LongValueColumn& lv, const std::string& bytes) {
  if (!lv.current || !roomFor(lv.current->bytes.data(), bytes.size())) {
    if (lv.current && lv.hasFree) lv.free.remove(lv.current->number);
    lv.current = newDataPage(datapage::kLvalOwner);
    lv.owned.add(lv.current->number);
    if (lv.hasFree) lv.free.add(lv.current->number);
  }
  const uint8_t r = putRow(lv.current->bytes.data(), file_.pageSize(), bytes);
  file_.touch(lv.current);
  return RowPointer{lv.current->number, r};
}

void TableWriter::storeLongValue(size_t column, std::string& head, const std::string& data) {
  LongValueColumn& lv = *longValues_[column];
  const size_t room = maxRowSize(file_.pageSize());
  const uint32_t length = static_cast<uint32_t>(data.size());
  if (data.size() <= room) {
    head = header(length | longvalue::kSingle, placeLongValueRow(lv, data));
    return;
  }
  // A chain: each row starts with the address of the next; written from
  // the end so every row knows where its successor went.
  const size_t piece = room - 4;
  const size_t pieces = (data.size() + piece - 1) / piece;
  RowPointer next;
  std::string buf;
  for (size_t k = pieces; k-- > 0;) {
    const size_t from = k * piece;
    const size_t n = std::min(piece, data.size() - from);
    buf.assign(4, '\0');
    put32(reinterpret_cast<uint8_t*>(buf.data()), next.encode());
    buf.append(data, from, n);
    next = placeLongValueRow(lv, buf);
  }
  head = header(length, next);
}

void TableWriter::finish() {
  if (indexes_) indexes_->finish(def_);
  auto more = [this] { return pages_.newPage(); };
  owned_.write(file_, more);
  free_.write(file_, more);
  for (auto& lv : longValues_) {
    if (!lv) continue;
    lv->owned.write(file_, more);
    if (lv->hasFree) lv->free.write(file_, more);
  }
  writeTableCounts(file_, def_);
}

}  // namespace vov::access
