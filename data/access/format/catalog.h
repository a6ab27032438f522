// The catalogue: the rows of MSysObjects (its definition is always on page
// 2), which name every table and say where its definition starts.
#ifndef VOVARIZE_DATA_ACCESS_FORMAT_CATALOG_H
#define VOVARIZE_DATA_ACCESS_FORMAT_CATALOG_H

#include <cstdint>
#include <string>
#include <vector>

#include "data/access/format/page.h"

namespace vov::access {

constexpr uint32_t kCatalogPage = 2;
constexpr int16_t kObjectTable = 1;  // a local table

struct CatalogEntry {
  std::string name;
  int32_t id = 0;
  int16_t type = 0;
  uint32_t flags = 0;
  int32_t parentId = 0;
  // Where a table's definition starts.
  uint32_t definitionPage() const { return static_cast<uint32_t>(id) & 0x00FFFFFF; }
  // MSys* and the hidden tables Access keeps for attachments and the like.
  bool systemTable() const;
};

std::vector<CatalogEntry> readCatalog(PageFile& file);

// The local table of that name: the exact name first, else the first that
// differs only in ASCII letter case. FormatError when there is none.
CatalogEntry findTable(PageFile& file, const std::string& name);

}  // namespace vov::access

#endif
