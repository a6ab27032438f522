// vovarize-mdb-reader: reads one Access file through libmdb on behalf of the
// Access backend, which starts it, reads its standard output (mdb_wire.h)
// and kills it when it stops making progress. libmdb lives here and not in
// the program because a damaged file can make it loop or crash.
//
//   vovarize-mdb-reader tables <file>
//   vovarize-mdb-reader fields <file> <table>
//   vovarize-mdb-reader rows   <file> <table> [<rows to skip>]
//   vovarize-mdb-reader count  <file> <table>
//
// Rows are decoded here from the page bytes rather than through libmdb's
// text conversions, so that every value keeps its type and exactness.
#include <fcntl.h>
// glib first: mdbtools.h includes it inside extern "C", which C++ headers
// reached through glib do not survive.
#include <glib.h>
#include <iconv.h>
#include <mdbtools.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "data/access/mdb_wire.h"
#include "data/field_type.h"
#include "data/text_util.h"

namespace {

using namespace vov::mdbwire;

// libmdb names the column descriptor bytes the other way round: its
// col_scale holds a decimal column's precision and col_prec its scale.
int decimalScale(const MdbColumn* c) { return c->col_prec; }

// Column types newer than this libmdb's list.
constexpr int kMdbBigInt = 0x13;

// ------------------------------------------------------------------ output

std::string out;
timespec lastSent{};

double secondsSince(const timespec& t) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec - t.tv_sec) + (now.tv_nsec - t.tv_nsec) / 1e9;
}

void flushOut() {
  size_t done = 0;
  while (done < out.size()) {
    ssize_t n = write(1, out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) _exit(3);  // the backend has gone
    done += static_cast<size_t>(n);
  }
  out.clear();
  clock_gettime(CLOCK_MONOTONIC, &lastSent);
}

void maybeFlush() {
  if (out.size() >= (64u << 10)) flushOut();
}

// Tells the backend that a long scan is still moving.
void heartbeat() {
  if (secondsSince(lastSent) < 0.5) return;
  putU8(out, kProgress);
  flushOut();
}

[[noreturn]] void fail(Failure f, const std::string& detail) {
  putU8(out, kFail);
  putU8(out, f);
  putText(out, detail);
  flushOut();
  _exit(2);
}

// --------------------------------------------------------- libmdb's stderr

// libmdb reports trouble only on standard error and often carries on with a
// partial result. Its output goes to a memory file that is checked after each
// step; a complaint that means lost data ends the read.
off_t logSeen = 0;

void captureLibmdbLog() {
  int fd = memfd_create("libmdb-log", MFD_CLOEXEC);
  if (fd < 0) fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (fd >= 0) {
    dup2(fd, 2);
    close(fd);
  }
}

bool meansLostData(const std::string& line) {
  static const char* const kMarks[] = {"beyond EOF", "Unable to", "nable to read", "failed",
                                       "Couldn't", "Invalid", "Unhandled"};
  for (const char* m : kMarks)
    if (line.find(m) != std::string::npos) return true;
  return false;
}

void checkLibmdb() {
  off_t end = lseek(2, 0, SEEK_CUR);
  if (end <= logSeen) return;
  std::string text(static_cast<size_t>(std::min<off_t>(end - logSeen, 8192)), '\0');
  ssize_t got = pread(2, text.data(), text.size(), logSeen);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  logSeen = end;
  if (end > (1 << 20)) {  // keep the memory file small on chatty files
    if (ftruncate(2, 0) == 0) lseek(2, 0, SEEK_SET);
    logSeen = 0;
  }
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    std::string line = text.substr(start, nl - start);
    if (meansLostData(line)) fail(kDamaged, line);
    start = nl + 1;
  }
}

// ------------------------------------------------------------------ the file

struct Db {
  MdbHandle* mdb = nullptr;
  uint32_t pages = 0;
  bool jet3 = false;
};

Db openDb(const char* path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) fail(kOpenFailed, std::to_string(errno));
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    int e = S_ISDIR(st.st_mode) ? EISDIR : errno;
    close(fd);
    fail(kOpenFailed, std::to_string(e));
  }
  if (st.st_size == 0) fail(kEmptyFile, "");
  unsigned char head[0x20] = {0};
  ssize_t got = pread(fd, head, sizeof head, 0);
  close(fd);
  if (got < static_cast<ssize_t>(sizeof head) || head[0] != 0 ||
      (std::memcmp(head + 4, "Standard Jet DB", 15) != 0 &&
       std::memcmp(head + 4, "Standard ACE DB", 15) != 0))
    fail(kNotAccess, "");
  Db db;
  db.jet3 = head[0x14] == MDB_VER_JET3;
  const off_t pageSize = db.jet3 ? 2048 : 4096;
  // Access writes whole pages only.
  if (st.st_size < pageSize || st.st_size % pageSize != 0) fail(kTruncated, "");
  db.pages = static_cast<uint32_t>(st.st_size / pageSize);

  db.mdb = mdb_open(path, MDB_NOFLAGS);  // read-only
  checkLibmdb();
  if (!db.mdb) fail(kDamaged, "unknown file format version " + std::to_string(head[0x14]));
  // ACE files keep a non-zero encoding key only when they are encrypted
  // with a password, which libmdb cannot decrypt.
  if (db.mdb->f->jet_version >= MDB_VER_ACCDB_2007 && db.mdb->f->db_key != 0)
    fail(kEncrypted, "");
  if (!mdb_read_catalog(db.mdb, MDB_TABLE)) {
    checkLibmdb();
    fail(kDamaged, "the catalogue cannot be read");
  }
  checkLibmdb();
  return db;
}

bool startsWithIgnoreCase(const char* s, const char* prefix) {
  for (; *prefix; ++s, ++prefix)
    if (std::tolower(static_cast<unsigned char>(*s)) != *prefix) return false;
  return true;
}

// User tables only. Saved queries are left out: libmdb cannot run them, so
// a query listed here could never be read. Linked tables live elsewhere.
bool isUserTable(const MdbCatalogEntry* e) {
  return e->object_type == MDB_TABLE && mdb_is_user_table(const_cast<MdbCatalogEntry*>(e)) &&
         e->object_name[0] != '\0' && e->object_name[0] != '~' &&
         !startsWithIgnoreCase(e->object_name, "msys");
}

std::vector<MdbCatalogEntry*> userTables(const Db& db) {
  std::vector<MdbCatalogEntry*> list;
  for (unsigned i = 0; i < db.mdb->num_catalog; ++i) {
    auto* e = static_cast<MdbCatalogEntry*>(g_ptr_array_index(db.mdb->catalog, i));
    if (isUserTable(e)) list.push_back(e);
  }
  return list;
}

MdbTableDef* openTable(const Db& db, const std::string& name) {
  MdbCatalogEntry* found = nullptr;
  for (MdbCatalogEntry* e : userTables(db)) {
    if (name == e->object_name) {
      found = e;
      break;
    }
    if (!found && vov::equalsIgnoreCase(name, e->object_name)) found = e;
  }
  if (!found) fail(kNoSuchTable, name);
  MdbTableDef* t = mdb_read_table(found);
  checkLibmdb();
  if (!t) fail(kDamaged, "the definition of table " + name + " cannot be read");
  mdb_read_columns(t);
  checkLibmdb();
  if (!t->columns || t->columns->len != t->num_cols)
    fail(kDamaged, "the columns of table " + name + " cannot be read");
  return t;
}

MdbColumn* column(MdbTableDef* t, unsigned i) {
  return static_cast<MdbColumn*>(g_ptr_array_index(t->columns, i));
}

// ------------------------------------------------------------------ fields

void putField(const Db& db, const MdbColumn* c) {
  vov::FieldType type = vov::ftUnknown;
  int32_t size = 0;
  switch (c->col_type) {
    case MDB_BOOL: type = vov::ftBoolean; break;
    case MDB_BYTE: type = vov::ftWord; break;
    case MDB_INT: type = vov::ftSmallint; break;
    case MDB_LONGINT: type = c->is_long_auto ? vov::ftAutoInc : vov::ftInteger; break;
    case MDB_COMPLEX: type = vov::ftInteger; break;
    case kMdbBigInt: type = vov::ftLargeint; break;
    case MDB_MONEY: type = vov::ftCurrency; size = 4; break;
    case MDB_FLOAT:
    case MDB_DOUBLE: type = vov::ftFloat; break;
    case MDB_DATETIME: type = vov::ftDateTime; break;
    case MDB_BINARY: type = vov::ftVarBytes; size = c->col_size; break;
    // Jet 4 and later store text as UTF-16, two bytes a character.
    case MDB_TEXT: type = vov::ftWideString; size = db.jet3 ? c->col_size : c->col_size / 2; break;
    case MDB_OLE: type = vov::ftBlob; break;
    case MDB_MEMO: type = vov::ftMemo; break;
    case MDB_REPID: type = vov::ftGuid; size = 38; break;
    case MDB_NUMERIC: type = vov::ftBCD; size = decimalScale(c); break;
    default: break;
  }
  putText(out, c->name, std::strlen(c->name));
  putU8(out, static_cast<uint8_t>(type));
  putU32(out, static_cast<uint32_t>(size));
}

void putFields(const Db& db, MdbTableDef* t) {
  putU8(out, kFields);
  putU16(out, static_cast<uint16_t>(t->num_cols));
  for (unsigned i = 0; i < t->num_cols; ++i) putField(db, column(t, i));
}

// ------------------------------------------------------------------ values

void appendUtf8(std::string& s, uint32_t cp) {
  if (cp < 0x80) {
    s.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    s.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    s.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    s.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    s.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    s.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    s.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    s.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    s.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    s.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Jet 4 text: UTF-16LE, or "compressed" when it starts with FF FE: then a
// zero byte switches between one byte per character (high byte zero) and
// two bytes per character.
std::string jet4Text(const unsigned char* p, size_t n) {
  std::vector<uint16_t> units;
  units.reserve(n);
  if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
    bool compressed = true;
    for (size_t i = 2; i < n;) {
      if (p[i] == 0) {
        compressed = !compressed;
        ++i;
      } else if (compressed) {
        units.push_back(p[i++]);
      } else if (i + 1 < n) {
        units.push_back(static_cast<uint16_t>(p[i] | (p[i + 1] << 8)));
        i += 2;
      } else {
        break;
      }
    }
  } else {
    for (size_t i = 0; i + 1 < n; i += 2) units.push_back(static_cast<uint16_t>(p[i] | (p[i + 1] << 8)));
  }
  std::string s;
  s.reserve(units.size() + units.size() / 2);
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      u = 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      u = 0xFFFD;  // a lone surrogate
    }
    appendUtf8(s, u);
  }
  return s;
}

// Jet 3 text is in the code page the file names; libmdb has opened the
// converter for it.
std::string jet3Text(MdbHandle* mdb, const unsigned char* p, size_t n) {
  std::string s;
  if (mdb->iconv_in == reinterpret_cast<iconv_t>(-1)) {
    for (size_t i = 0; i < n; ++i) appendUtf8(s, p[i]);
    return s;
  }
  iconv(mdb->iconv_in, nullptr, nullptr, nullptr, nullptr);
  char* in = reinterpret_cast<char*>(const_cast<unsigned char*>(p));
  size_t inLeft = n;
  std::string buf(n * 4 + 16, '\0');
  while (inLeft > 0) {
    char* o = buf.data();
    size_t oLeft = buf.size();
    size_t r = iconv(mdb->iconv_in, &in, &inLeft, &o, &oLeft);
    s.append(buf.data(), buf.size() - oLeft);
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      appendUtf8(s, 0xFFFD);  // a byte the code page does not define
      ++in;
      --inLeft;
    }
  }
  return s;
}

std::string decodeText(const Db& db, const unsigned char* p, size_t n) {
  return db.jet3 ? jet3Text(db.mdb, p, n) : jet4Text(p, n);
}

uint32_t le32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint64_t le64(const unsigned char* p) {
  return static_cast<uint64_t>(le32(p)) | (static_cast<uint64_t>(le32(p + 4)) << 32);
}

// Money: a 64-bit integer of ten-thousandths.
std::string moneyText(int64_t v) {
  bool neg = v < 0;
  uint64_t mag = neg ? ~static_cast<uint64_t>(v) + 1 : static_cast<uint64_t>(v);
  std::string frac = std::to_string(mag % 10000);
  return (neg ? "-" : "") + std::to_string(mag / 10000) + "." + std::string(4 - frac.size(), '0') +
         frac;
}

// Decimal: a sign byte, then a 128-bit magnitude stored as four 32-bit
// little-endian words, most significant word first.
std::string decimalText(const unsigned char* p, int scale) {
  unsigned __int128 mag = 0;
  for (int w = 0; w < 4; ++w) mag = (mag << 32) | le32(p + 1 + 4 * w);
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(mag % 10)));
    mag /= 10;
  } while (mag != 0);
  if (scale > 0) {
    if (digits.size() <= static_cast<size_t>(scale))
      digits.insert(0, static_cast<size_t>(scale) + 1 - digits.size(), '0');
    digits.insert(digits.size() - static_cast<size_t>(scale), 1, '.');
  }
  bool zero = digits.find_first_not_of("0.") == std::string::npos;
  return (p[0] & 0x80) && !zero ? "-" + digits : digits;
}

std::string guidText(const unsigned char* p) {
  static const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  static const char hex[] = "0123456789ABCDEF";
  std::string s = "{";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) s += '-';
    s += hex[p[order[i]] >> 4];
    s += hex[p[order[i]] & 15];
  }
  return s + "}";
}

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
void civilFromDays(int64_t z, int* y, int* m, int* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = static_cast<int>(yoe + era * 400 + (*m <= 2));
}

// An Access date is days since 1899-12-30; before that day the whole part
// counts back while the fraction still runs forward through the day.
// Times are kept to the millisecond, below which the double only holds
// rounding noise. Values outside the years 100 to 9999 stay numbers.
void putDate(double v) {
  if (!(v >= -657434.0 && v < 2958466.0)) {
    putU8(out, kReal);
    putF64(out, v);
    return;
  }
  double whole = std::trunc(v);
  int64_t day = static_cast<int64_t>(whole) - 25569;  // 1899-12-30 is day -25569
  int64_t ms = std::llround(std::fabs(v - whole) * 86400000.0);
  if (ms >= 86400000) {
    ms -= 86400000;
    ++day;
  }
  int y, mo, d;
  civilFromDays(day, &y, &mo, &d);
  putU8(out, kDate);
  putU16(out, static_cast<uint16_t>(y));
  putU8(out, static_cast<uint8_t>(mo));
  putU8(out, static_cast<uint8_t>(d));
  putU8(out, static_cast<uint8_t>(ms / 3600000));
  putU8(out, static_cast<uint8_t>(ms / 60000 % 60));
  putU8(out, static_cast<uint8_t>(ms / 1000 % 60));
  putU32(out, static_cast<uint32_t>(ms % 1000 * 1000));
}

// A Single as the double nearest its shortest decimal form, so 0.15 stays
// 0.15 instead of becoming 0.150000006.
double singleAsDouble(float f) {
  if (!std::isfinite(f)) return f;
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, f);
  *r.ptr = '\0';
  return std::strtod(buf, nullptr);
}

// ------------------------------------------------------------- row scanning

class RowScanner {
 public:
  RowScanner(const Db& db, MdbTableDef* t) : db_(db), t_(t), fields_(t->num_cols) {}

  // Moves to the next live row and splits it into fields; false at the end.
  bool next() {
    MdbHandle* mdb = db_.mdb;
    if (away_) {  // the last row lived on an overflow page
      readPage(page_);
      away_ = false;
    }
    for (;;) {
      if (row_ >= rowsOnPage_) {
        if (!nextPage()) return false;
        row_ = 0;
        rowsOnPage_ = mdb_get_int16(mdb->pg_buf, mdb->fmt->row_count_offset);
        if (mdb->fmt->row_count_offset + 2 + 2 * rowsOnPage_ > mdb->fmt->pg_size)
          damaged("its row table is too long");
      }
      int r = row_++;
      int start = 0;
      size_t len = 0;
      if (mdb_find_row(mdb, r, &start, &len) == -1 || len == 0) continue;
      if (start & 0x4000) continue;  // deleted
      if (start & 0x8000) {
        // The row grew and moved: here is only where it went.
        followOverflow(start & 0x1FFF, len);
        return true;
      }
      crack(start & 0x1FFF, len);
      return true;
    }
  }

  const MdbField& field(unsigned i) const { return fields_[i]; }

  [[noreturn]] void damaged(const std::string& what) const {
    fail(kDamaged, "table " + std::string(t_->name) + ", page " + std::to_string(page_) + ": " + what);
  }

 private:
  void readPage(uint32_t pg) {
    if (pg >= db_.pages) fail(kTruncated, "page " + std::to_string(pg));
    if (!mdb_read_pg(db_.mdb, pg)) {
      checkLibmdb();
      fail(kDamaged, "page " + std::to_string(pg) + " cannot be read");
    }
  }

  bool isOwnDataPage() const {
    const unsigned char* b = db_.mdb->pg_buf;
    return b[0] == MDB_PAGE_DATA && le32(b + 4) == t_->entry->table_pg;
  }

  bool nextPage() {
    for (;;) {
      heartbeat();
      uint32_t next;
      if (!bruteForce_) {
        gint32 n = mdb_map_find_next(db_.mdb, t_->usage_map, static_cast<unsigned>(t_->map_sz), page_);
        if (n < 0) {  // a map libmdb cannot read: look at every page instead
          bruteForce_ = true;
          continue;
        }
        if (n == 0) return false;
        if (static_cast<uint32_t>(n) <= page_) damaged("its page map loops");
        next = static_cast<uint32_t>(n);
      } else {
        next = page_ + 1;
        if (next >= db_.pages) return false;
      }
      page_ = next;
      readPage(page_);
      if (isOwnDataPage()) return true;
    }
  }

  void crack(int start, size_t len) {
    if (mdb_crack_row(t_, start, len, fields_.data()) < 0)
      damaged("row " + std::to_string(row_ - 1) + " cannot be split into fields");
    for (const MdbField& f : fields_)
      if (f.siz < 0 || f.start < 0 || f.start + f.siz > db_.mdb->fmt->pg_size)
        damaged("row " + std::to_string(row_ - 1) + " points outside its page");
  }

  // A moved row leaves four bytes behind: its row number and its page.
  // The row it moved to is marked deleted; it may have moved on again.
  void followOverflow(int start, size_t len) {
    for (int hop = 0; hop < 16; ++hop) {
      if (len < 4) damaged("a moved row has no address");
      const unsigned char* p = db_.mdb->pg_buf + start;
      int row = p[0];
      uint32_t pg = static_cast<uint32_t>(p[1]) | (static_cast<uint32_t>(p[2]) << 8) |
                    (static_cast<uint32_t>(p[3]) << 16);
      if (pg == 0) damaged("a moved row has no address");
      readPage(pg);
      away_ = true;
      if (!isOwnDataPage()) damaged("a moved row points to another table's page");
      int next = 0;
      if (mdb_find_row(db_.mdb, row, &next, &len) == -1 || len == 0)
        damaged("a moved row cannot be found");
      start = next & 0x1FFF;
      if (!(next & 0x8000)) {
        crack(start, len);
        return;
      }
    }
    damaged("a moved row moves in circles");
  }

  const Db& db_;
  MdbTableDef* t_;
  std::vector<MdbField> fields_;
  uint32_t page_ = 0;
  int rowsOnPage_ = 0;
  int row_ = 0;
  bool bruteForce_ = false;
  bool away_ = false;
};

// Memo and OLE values: a 12-byte header (length and flags, then where the
// data lives), followed by the data itself or pointing to LVAL pages.
std::string longValue(const Db& db, const RowScanner& rows, const MdbField& f) {
  MdbHandle* mdb = db.mdb;
  if (f.siz < MDB_MEMO_OVERHEAD) rows.damaged("a memo or OLE value is too short");
  const unsigned char* h = mdb->pg_buf + f.start;
  const uint32_t head = le32(h);
  const uint32_t length = head & 0x3FFFFFFF;
  std::string data;
  if (head & 0x80000000) {  // stored in the row
    size_t n = std::min<size_t>(length, static_cast<size_t>(f.siz) - MDB_MEMO_OVERHEAD);
    data.assign(reinterpret_cast<const char*>(h + MDB_MEMO_OVERHEAD), n);
    return data;
  }
  uint32_t pgRow = le32(h + 4);
  const bool single = head & 0x40000000;
  data.reserve(std::min<size_t>(length, 16u << 20));
  // Each step must add data, so a damaged chain cannot loop for ever.
  while (data.size() < length) {
    void* buf = nullptr;
    int off = 0;
    size_t len = 0;
    if (pgRow == 0 || (pgRow >> 8) >= db.pages ||
        mdb_find_pg_row(mdb, static_cast<int>(pgRow), &buf, &off, &len) != 0 ||
        off + len > static_cast<size_t>(mdb->fmt->pg_size)) {
      checkLibmdb();
      rows.damaged("a memo or OLE value points to a missing page");
    }
    const char* p = static_cast<const char*>(buf) + off;
    if (single) {
      data.append(p, std::min<size_t>(len, length));
      return data;
    }
    if (len <= 4) break;
    pgRow = le32(reinterpret_cast<const unsigned char*>(p));
    data.append(p + 4, std::min<size_t>(len - 4, length - data.size()));
  }
  if (data.size() < length) rows.damaged("a memo or OLE value is shorter than its length");
  return data;
}

void needBytes(const RowScanner& rows, const MdbField& f, int n) {
  if (f.siz < n) rows.damaged("a value is shorter than its type");
}

void putValue(const Db& db, const RowScanner& rows, const MdbColumn* c, const MdbField& f) {
  if (c->col_type == MDB_BOOL) {  // kept in the null mask, never null
    putU8(out, f.is_null ? kFalse : kTrue);
    return;
  }
  if (f.is_null) {
    putU8(out, kNull);
    return;
  }
  const unsigned char* p = db.mdb->pg_buf + f.start;
  switch (c->col_type) {
    case MDB_BYTE:
      needBytes(rows, f, 1);
      putU8(out, kInt);
      putU64(out, p[0]);
      return;
    case MDB_INT:
      needBytes(rows, f, 2);
      putU8(out, kInt);
      putU64(out, static_cast<uint64_t>(static_cast<int64_t>(static_cast<int16_t>(p[0] | (p[1] << 8)))));
      return;
    case MDB_LONGINT:
    case MDB_COMPLEX:
      needBytes(rows, f, 4);
      putU8(out, kInt);
      putU64(out, static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(le32(p)))));
      return;
    case kMdbBigInt:
      needBytes(rows, f, 8);
      putU8(out, kInt);
      putU64(out, le64(p));
      return;
    case MDB_MONEY:
      needBytes(rows, f, 8);
      putU8(out, kDecimal);
      putText(out, moneyText(static_cast<int64_t>(le64(p))));
      return;
    case MDB_FLOAT: {
      needBytes(rows, f, 4);
      uint32_t bits = le32(p);
      float v;
      std::memcpy(&v, &bits, sizeof v);
      putU8(out, kReal);
      putF64(out, singleAsDouble(v));
      return;
    }
    case MDB_DOUBLE: {
      needBytes(rows, f, 8);
      uint64_t bits = le64(p);
      double v;
      std::memcpy(&v, &bits, sizeof v);
      putU8(out, kReal);
      putF64(out, v);
      return;
    }
    case MDB_DATETIME: {
      needBytes(rows, f, 8);
      uint64_t bits = le64(p);
      double v;
      std::memcpy(&v, &bits, sizeof v);
      putDate(v);
      return;
    }
    case MDB_TEXT:
      putU8(out, kText);
      putText(out, decodeText(db, p, static_cast<size_t>(f.siz)));
      return;
    case MDB_MEMO: {
      std::string raw = longValue(db, rows, f);
      putU8(out, kText);
      putText(out, decodeText(db, reinterpret_cast<const unsigned char*>(raw.data()), raw.size()));
      return;
    }
    case MDB_OLE:
      putU8(out, kBytes);
      putText(out, longValue(db, rows, f));
      return;
    case MDB_REPID:
      needBytes(rows, f, 16);
      putU8(out, kText);
      putText(out, guidText(p));
      return;
    case MDB_NUMERIC:
      needBytes(rows, f, 17);
      if (decimalScale(c) > 38) rows.damaged("a decimal column has an impossible scale");
      putU8(out, kDecimal);
      putText(out, decimalText(p, decimalScale(c)));
      return;
    default:  // a type this reader does not know: its bytes, unchanged
      putU8(out, kBytes);
      putText(out, reinterpret_cast<const char*>(p), static_cast<size_t>(f.siz));
      return;
  }
}

// ---------------------------------------------------------------- commands

int listTables(const Db& db) {
  for (MdbCatalogEntry* e : userTables(db)) {
    putU8(out, kTable);
    putText(out, e->object_name, std::strlen(e->object_name));
  }
  return 0;
}

int sendRows(const Db& db, MdbTableDef* t, uint64_t skip) {
  putFields(db, t);
  flushOut();
  RowScanner rows(db, t);
  for (uint64_t i = 0; i < skip && rows.next(); ++i) {
  }
  while (rows.next()) {
    putU8(out, kRow);
    for (unsigned i = 0; i < t->num_cols; ++i) putValue(db, rows, column(t, i), rows.field(i));
    maybeFlush();
  }
  checkLibmdb();
  return 0;
}

int countRows(const Db& db, MdbTableDef* t) {
  RowScanner rows(db, t);
  uint64_t n = 0;
  while (rows.next()) ++n;
  checkLibmdb();
  putU8(out, kCount);
  putU64(out, n);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // A crash on a damaged file is expected and handled by the backend: no
  // core files. The memory cap turns a runaway allocation into an abort.
  rlimit none{0, 0};
  setrlimit(RLIMIT_CORE, &none);
  rlimit mem{3ull << 30, 3ull << 30};
  setrlimit(RLIMIT_AS, &mem);
  close_range(3, ~0u, 0);
  captureLibmdbLog();
  unsetenv("MDBICONV");  // values are decoded as UTF-8 here
  clock_gettime(CLOCK_MONOTONIC, &lastSent);

  const std::string cmd = argc > 1 ? argv[1] : "";
  const bool needTable = cmd == "fields" || cmd == "rows" || cmd == "count";
  if (!(cmd == "tables" && argc == 3) && !(needTable && (argc == 4 || (cmd == "rows" && argc == 5))))
    fail(kBadUsage, "usage: vovarize-mdb-reader tables|fields|rows|count <file> [<table> [<skip>]]");

  Db db = openDb(argv[2]);
  int rc = 0;
  if (cmd == "tables") {
    rc = listTables(db);
  } else {
    MdbTableDef* t = openTable(db, argv[3]);
    if (cmd == "fields") {
      putFields(db, t);
    } else if (cmd == "rows") {
      rc = sendRows(db, t, argc == 5 ? std::strtoull(argv[4], nullptr, 10) : 0);
    } else {
      rc = countRows(db, t);
    }
  }
  putU8(out, kEnd);
  flushOut();
  // Leaving without tearing down libmdb's structures: the process ends here.
  _exit(rc);
}
