// The mapping list file: the mapped list's lines, one per line.
#ifndef VOVARIZE_MAPPING_MAPPING_FILE_H
#define VOVARIZE_MAPPING_MAPPING_FILE_H

#include <cstddef>
#include <string>
#include <vector>

namespace vov {

// Writes every line followed by CR LF, UTF-8 without a byte-order mark; an
// empty list gives an empty file. The file is written whole under a
// temporary name and renamed over `path`, or not at all. Raises vov::Error.
void saveMappingList(const std::vector<std::string>& lines, const std::string& path);

// A list longer than this, or with a line longer than this, is no mapping
// list: loading it is refused rather than read on until memory runs out.
constexpr size_t kMaxMappingListBytes = size_t{16} << 20;
constexpr size_t kMaxMappingLineBytes = size_t{64} << 10;

// Reads the whole file: CR, LF and CR LF each end a line, a final line
// without a break is kept, a break at the very end adds no empty line, a
// NUL byte ends the text. A file that is not UTF-8 is read as GB18030 (as
// written on Chinese Windows); one that is neither, or one over the limits
// above, raises vov::Error.
std::vector<std::string> loadMappingList(const std::string& path);

}  // namespace vov

#endif
