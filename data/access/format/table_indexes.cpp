// The indexes of one table on insert; see table_indexes.h.
#include "data/access/format/table_indexes.h"

#include <algorithm>
#include <vector>

#include "data/access/format/utf16.h"
#include "data/error.h"

namespace vov::access {

namespace {

const KeyValue& valueOf(const std::vector<KeyValue>& values, uint16_t number) {
  static const KeyValue kNull;
  return number < values.size() ? values[number] : kNull;
}

std::string where(const std::string& table, const IndexDef& def) {
  return "表“" + table + "”的索引“" + def.name + "”";
}

}  // namespace

std::vector<IndexDef> indexDefs(const TableDef& table) {
  std::vector<IndexDef> out;
  for (size_t i = 0; i < table.realIndexes.size(); ++i) {
    const RealIndex& r = table.realIndexes[i];
    IndexDef d;
    const LogicalIndex* named = nullptr;
    for (const LogicalIndex& l : table.indexes) {
      if (l.realIndex != r.number) continue;
      // Names starting with "." are those Access gives relationships' indexes.
      const bool better =
          !named || (l.kind == kIndexKindPrimaryKey && named->kind != kIndexKindPrimaryKey) ||
          (named->name.rfind(".", 0) == 0 && l.name.rfind(".", 0) != 0);
      if (better) named = &l;
    }
    d.name = named ? named->name : "索引 " + std::to_string(r.number);
    for (const IndexColumn& ic : r.columns) {
      auto c = std::find_if(table.columns.begin(), table.columns.end(),
                            [&](const Column& col) { return col.number == ic.column; });
      if (c == table.columns.end())
        throw FormatError("索引“" + d.name + "”用到表中没有的第 " + std::to_string(ic.column) +
                          " 列");
      IndexedColumn k;
      k.number = c->number;
      k.name = c->name;
      k.key.type = c->type;
      k.key.ascending = ic.ascending;
      k.key.sortOrder = c->sortOrder();
      k.key.sortVersion = c->sortVersion();
      d.columns.push_back(std::move(k));
    }
    d.root = r.firstPage;
    d.unique = r.unique();
    d.ignoreNulls = r.ignoreNulls();
    d.required = r.required();
    d.count = r.entryCount;
    out.push_back(std::move(d));
  }
  return out;
}

StoredRowValues::StoredRowValues(const TableDef& table, const std::vector<IndexDef>& wanted)
    : table_(table) {
  uint16_t highest = 0;
  for (size_t i = 0; i < table.columns.size(); ++i) {
    highest = std::max(highest, table.columns[i].number);
    for (const IndexDef& d : wanted)
      for (const IndexedColumn& c : d.columns)
        if (c.number == table.columns[i].number &&
            std::find(columns_.begin(), columns_.end(), i) == columns_.end())
          columns_.push_back(i);
  }
  text_.resize(table.columns.size());
  values_.resize(size_t{highest} + 1);
}

const std::vector<KeyValue>& StoredRowValues::read(const uint8_t* row, uint32_t length) {
  if (!crackRow(table_, row, length, &spans_)) throw FormatError("行无法拆分为各列");
  for (size_t i : columns_) {
    const Column& c = table_.columns[i];
    const FieldSpan& s = spans_[i];
    KeyValue& v = values_[c.number];
    if (c.type == kColBool) {
      // Yes/No lives in the null mask: a set bit is Yes, never NULL.
      text_[i].assign(1, s.null ? '\0' : '\1');
      v = KeyValue::of(text_[i]);
    } else if (s.null) {
      v = KeyValue{};
    } else if (c.type == kColText) {
      text_[i] = decodeStoredText(row + s.start, s.length);
      v = KeyValue::of(text_[i]);
    } else {
      v = KeyValue::of(std::string_view(reinterpret_cast<const char*>(row) + s.start, s.length));
    }
  }
  return values_;
}

const uint8_t* FileIndexPages::read(uint32_t page) {
  held_ = file_.get(page);
  return held_->bytes.data();
}

uint8_t* FileIndexPages::write(uint32_t page) {
  held_ = file_.get(page);
  file_.touch(held_);
  return held_->bytes.data();
}

uint32_t FileIndexPages::allocate() {
  if (!allocate_) throw Error("索引以只读方式打开");
  return allocate_();
}

std::string rowKey(const IndexDef& def, const std::vector<KeyValue>& values) {
  std::vector<uint8_t> key;
  for (const IndexedColumn& c : def.columns) appendKeySegment(key, c.key, valueOf(values, c.number));
  return std::string(key.begin(), key.end());
}

bool rowIndexed(const IndexDef& def, const std::vector<KeyValue>& values) {
  if (!def.ignoreNulls) return true;
  for (const IndexedColumn& c : def.columns)
    if (!valueOf(values, c.number).null) return true;
  return false;
}

TableIndexes::TableIndexes(std::string table, uint32_t owner, std::vector<IndexDef> defs,
                           std::vector<IndexPages*> pages)
    : table_(std::move(table)), defs_(std::move(defs)) {
  for (size_t i = 0; i < defs_.size(); ++i)
    trees_.push_back(std::make_unique<IndexTree>(*pages.at(i), owner, defs_[i].root));
}

TableIndexes::Keys TableIndexes::prepare(const std::vector<KeyValue>& values) {
  Keys out;
  for (size_t i = 0; i < defs_.size(); ++i) {
    const IndexDef& def = defs_[i];
    bool anyNull = false;
    for (const IndexedColumn& c : def.columns) {
      if (!valueOf(values, c.number).null) continue;
      anyNull = true;
      if (def.required)
        throw Error(where(table_, def) + "不允许空值，而列“" + c.name + "”为空");
    }
    out.indexed.push_back(rowIndexed(def, values));
    std::vector<uint8_t> bytes;
    for (const IndexedColumn& c : def.columns) {
      try {
        appendKeySegment(bytes, c.key, valueOf(values, c.number));
      } catch (const KeyError& e) {
        throw Error("无法写入" + where(table_, def) + "：列“" + c.name + "”：" + e.what());
      }
    }
    std::string key(bytes.begin(), bytes.end());
    if (key.size() > kMaxIndexKey)
      throw Error("无法写入" + where(table_, def) + "：该行的索引键长 " +
                  std::to_string(key.size()) + " 字节，超过 " + std::to_string(kMaxIndexKey) +
                  " 字节");
    if (def.unique && !anyNull && trees_[i]->containsKey(key))
      throw Error(where(table_, def) + "不允许重复的值，而该行的值已在表中");
    out.keys.push_back(std::move(key));
  }
  for (const Parent& p : parents_) {
    const IndexDef& def = defs_[p.child];
    std::vector<uint8_t> bytes;
    bool complete = true;
    for (size_t j = 0; j < def.columns.size() && complete; ++j) {
      const KeyValue& v = valueOf(values, def.columns[j].number);
      complete = !v.null;
      try {
        if (complete) appendKeySegment(bytes, p.columns.at(j), v);
      } catch (const KeyError& e) {
        throw Error("无法核对关系“" + p.relation + "”：列“" + def.columns[j].name + "”：" +
                    e.what());
      }
    }
    if (complete && !p.tree().containsKey(std::string(bytes.begin(), bytes.end())))
      throw Error("表“" + table_ + "”与表“" + p.table + "”的关系“" + p.relation +
                  "”要求表“" + p.table + "”中有相关的记录，而该行的值在那里没有");
  }
  return out;
}

void TableIndexes::insert(const Keys& keys, uint32_t rowPage, uint8_t rowNumber) {
  for (size_t i = 0; i < defs_.size(); ++i) {
    if (!keys.indexed[i]) continue;
    if (trees_[i]->insert(keys.keys[i], rowPage, rowNumber)) ++defs_[i].count;
  }
}

void TableIndexes::flush() {
  for (auto& t : trees_) t->flush();
}

}  // namespace vov::access
