// The catalogue (catalog.h).
#include "data/access/format/catalog.h"

#include "data/access/format/bytes.h"
#include "data/access/format/row.h"
#include "data/access/format/table_def.h"
#include "data/access/format/utf16.h"

namespace vov::access {

namespace {

bool startsWithMsys(const std::string& s) {
  if (s.size() < 4) return false;
  static const char kMsys[] = "msys";
  for (int i = 0; i < 4; ++i) {
    char c = s[static_cast<size_t>(i)];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != kMsys[i]) return false;
  }
  return true;
}

bool sameIgnoringAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

// Flags 0x80000000 and 0x2 mark system and hidden objects.
bool CatalogEntry::systemTable() const {
  return startsWithMsys(name) || (flags & 0x80000002u) != 0 || name.empty() || name[0] == '~';
}

std::vector<CatalogEntry> readCatalog(PageFile& file) {
  const TableDef def = readTableDef(file, kCatalogPage);
  const Column* cols[5] = {def.column("Id"), def.column("Name"), def.column("Type"),
                           def.column("Flags"), def.column("ParentId")};
  for (const Column* c : cols)
    if (!c) throw FormatError("目录表 MSysObjects 缺少必需的列");
  size_t pos[5];
  for (int k = 0; k < 5; ++k) pos[k] = static_cast<size_t>(cols[k] - def.columns.data());
  std::vector<CatalogEntry> out;
  std::vector<FieldSpan> f;
  scanRows(file, def, [&](RowPointer at, const uint8_t* row, uint32_t len) {
    if (!crackRow(def, row, len, &f))
      throw FormatError("目录表第 " + std::to_string(at.page) + " 页的行无法拆分");
    auto num = [&](int k, uint32_t width) -> int64_t {
      const FieldSpan& s = f[pos[k]];
      if (s.null || s.length < width) return 0;
      return width == 2 ? static_cast<int16_t>(get16(row + s.start))
                        : static_cast<int32_t>(get32(row + s.start));
    };
    CatalogEntry e;
    e.id = static_cast<int32_t>(num(0, 4));
    e.type = static_cast<int16_t>(num(2, 2));
    e.flags = static_cast<uint32_t>(num(3, 4));
    e.parentId = static_cast<int32_t>(num(4, 4));
    const FieldSpan& n = f[pos[1]];
    if (!n.null) e.name = decodeStoredText(row + n.start, n.length);
    out.push_back(std::move(e));
  });
  return out;
}

CatalogEntry findTable(PageFile& file, const std::string& name) {
  const std::vector<CatalogEntry> all = readCatalog(file);
  const CatalogEntry* loose = nullptr;
  for (const CatalogEntry& e : all) {
    if (e.type != kObjectTable) continue;
    if (e.name == name) return e;
    if (!loose && sameIgnoringAsciiCase(e.name, name)) loose = &e;
  }
  if (loose) return *loose;
  throw FormatError("找不到表“" + name + "”");
}

}  // namespace vov::access
