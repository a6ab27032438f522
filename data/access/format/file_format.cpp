// The per-version classes of file_format.h.
#include "data/access/format/file_format.h"

#include <cstring>

namespace vov::access {

namespace {

class Jet3Format : public FileFormat {
 public:
  Version version() const override { return Version::Jet3; }
  std::string name() const override { return "Jet 3"; }
  uint32_t pageSize() const override { return 2048; }
  std::string whyNotWritable() const override {
    return "这是 Access 97（Jet 3）格式的文件，只能读取，不能写入；"
           "请先在 Access 中把它转换为 Access 2000 或更新的格式";
  }
  bool hasComplexColumns() const override { return false; }
  bool hasCalculatedColumns() const override { return false; }
  bool hasExtendedDates() const override { return false; }
};

class Jet4Format : public FileFormat {
 public:
  Version version() const override { return Version::Jet4; }
  std::string name() const override { return "Jet 4"; }
  uint32_t pageSize() const override { return 4096; }
  std::string whyNotWritable() const override { return {}; }
  bool hasComplexColumns() const override { return false; }
  bool hasCalculatedColumns() const override { return false; }
  bool hasExtendedDates() const override { return false; }
};

// ACE keeps Jet 4's pages, rows and table definitions.
class AceFormat : public Jet4Format {
 public:
  explicit AceFormat(Version v) : v_(v) {}
  Version version() const override { return v_; }
  std::string name() const override {
    static const char* const kNames[] = {"ACE 12", "ACE 14", "ACE 15", "ACE 16", "ACE 17"};
    return kNames[static_cast<int>(v_) - static_cast<int>(Version::Ace12)];
  }
  bool hasComplexColumns() const override { return true; }
  bool hasCalculatedColumns() const override { return v_ >= Version::Ace14; }
  bool hasExtendedDates() const override { return v_ >= Version::Ace17; }

 private:
  Version v_;
};

}  // namespace

std::unique_ptr<FileFormat> detectFormat(const uint8_t* header, size_t size) {
  if (size < kHeaderProbeSize || header[0] != 0 || header[1] != 1) return nullptr;
  const char* sig = reinterpret_cast<const char*>(header + 4);
  const bool jet = std::memcmp(sig, "Standard Jet DB", 15) == 0;
  const bool ace = std::memcmp(sig, "Standard ACE DB", 15) == 0;
  if (!jet && !ace) return nullptr;
  const uint8_t v = header[0x14];
  if (v == 0) return std::make_unique<Jet3Format>();
  if (v == 1) return std::make_unique<Jet4Format>();
  if (v >= 2 && v <= 6) return std::make_unique<AceFormat>(static_cast<Version>(v));
  return nullptr;
}

}  // namespace vov::access
