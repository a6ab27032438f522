// The file-format versions of Access databases and what differs between
// them. One class per version family behind one interface: Jet 3 (Access
// 97, read elsewhere, never written), Jet 4 (Access 2000-2003) and ACE
// (Access 2007 and later). Jet 4 and ACE share the page layout; ACE adds
// column kinds (calculated, attachment, multi-value, extended date) and
// newer text orders.
#ifndef VOVARIZE_DATA_ACCESS_FORMAT_FILE_FORMAT_H
#define VOVARIZE_DATA_ACCESS_FORMAT_FILE_FORMAT_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vov::access {

// The version byte of page 0 (offset 0x14).
enum class Version : uint8_t {
  Jet3 = 0,
  Jet4 = 1,
  Ace12 = 2,  // Access 2007
  Ace14 = 3,  // Access 2010
  Ace15 = 4,  // Access 2013
  Ace16 = 5,  // Access 2016
  Ace17 = 6,  // Access 2019 and later
};

class FileFormat {
 public:
  virtual ~FileFormat() = default;
  virtual Version version() const = 0;
  // "Jet 4", "ACE 14", ... for messages.
  virtual std::string name() const = 0;
  virtual uint32_t pageSize() const = 0;
  // Empty when this writer can append rows to such files; otherwise why
  // not, for the user.
  virtual std::string whyNotWritable() const = 0;
  // Column kinds that exist only from some version on.
  virtual bool hasComplexColumns() const = 0;     // attachment, multi-value
  virtual bool hasCalculatedColumns() const = 0;  // Access 2010 and later
  virtual bool hasExtendedDates() const = 0;      // Access 2019 and later
};

// Recognises page 0 (`header` holds at least its first 0x20 bytes). Null
// when the bytes are not an Access database.
std::unique_ptr<FileFormat> detectFormat(const uint8_t* header, size_t size);

// Page-0 signature checks, for callers that only need to know the family.
constexpr size_t kHeaderProbeSize = 0x20;

}  // namespace vov::access

#endif
