// The indexes of one table on insert; see table_indexes.h.
#include "data/access/format/table_indexes.h"

#include <vector>

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
