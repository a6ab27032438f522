// vovarize-mdb-reader: reads one Access file on behalf of the Access
// backend, which starts it, reads its standard output (mdb_wire.h) and
// kills it when it stops making progress. It runs apart from the program
// because a damaged file can make libmdb loop or crash.
//
//   vovarize-mdb-reader tables <file>
//   vovarize-mdb-reader fields <file> <table>
//   vovarize-mdb-reader rows   <file> <table> [<rows to skip>]
//   vovarize-mdb-reader count  <file> <table>
//
// libmdb reads the catalogue, the table definitions and the column
// properties. Rows and values are read from the page bytes by the page
// format layer (data/access/format), so that every value keeps its type and
// exactness, moved rows are found where they belong, and calculated and
// extended-date columns read as what they hold.
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
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "data/access/format/catalog.h"
#include "data/access/format/file_format.h"
#include "data/access/format/long_value.h"
#include "data/access/format/page.h"
#include "data/access/format/row.h"
#include "data/access/format/table_def.h"
#include "data/access/format/value_codec.h"
#include "data/access/mdb_wire.h"
#include "data/field_type.h"
#include "data/text_util.h"

namespace {

using namespace vov::mdbwire;
namespace fmt = vov::access;

// ------------------------------------------------------------------ output

std::string out;
timespec lastSent{};

double secondsSince(const timespec& t) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec - t.tv_sec) + (now.tv_nsec - t.tv_nsec) / 1e9;
}

// The backend's pipe: standard output until libmdb's log takes that over.
int wire = 1;

void flushOut() {
  size_t done = 0;
  while (done < out.size()) {
    ssize_t n = write(wire, out.data() + done, out.size() - done);
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

// Tells the backend that a long scan is still moving, and how far it got.
void heartbeat(uint32_t page) {
  if (secondsSince(lastSent) < 0.5) return;
  putU8(out, kProgress);
  putU32(out, page);
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

// libmdb reports trouble on standard error, and some of it on standard
// output, and often carries on with a partial result. Both go to a memory
// file that is checked after each step (a complaint that means lost data
// ends the read); the messages to the backend go out on a copy of the
// original standard output, where nothing of libmdb's can reach them.
off_t logSeen = 0;

void captureLibmdbLog() {
  wire = fcntl(1, F_DUPFD_CLOEXEC, 3);
  if (wire < 0) _exit(3);
  int fd = memfd_create("libmdb-log", MFD_CLOEXEC);
  if (fd < 0) fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (fd < 0 || dup2(fd, 1) < 0 || dup2(fd, 2) < 0) _exit(3);
  close(fd);
  // Unbuffered, so that what libmdb prints is in the log when it is checked.
  setvbuf(stdout, nullptr, _IONBF, 0);
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
  std::unique_ptr<fmt::PageFile> file;  // the pages, for rows and values
  bool jet3 = false;
  uint32_t pages = 0;
  bool catalogRead = false;
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
  unsigned char head[fmt::kHeaderProbeSize] = {0};
  ssize_t got = pread(fd, head, sizeof head, 0);
  close(fd);
  std::unique_ptr<fmt::FileFormat> format;
  if (got == static_cast<ssize_t>(sizeof head)) format = fmt::detectFormat(head, sizeof head);
  if (!format) fail(kNotAccess, "");
  Db db;
  db.jet3 = format->version() == fmt::Version::Jet3;
  const off_t pageSize = format->pageSize();
  // Access writes whole pages only.
  if (st.st_size < pageSize || st.st_size % pageSize != 0) fail(kTruncated, "");
  db.pages = static_cast<uint32_t>(st.st_size / pageSize);
  db.file = std::make_unique<fmt::PageFile>(path, false);

  db.mdb = mdb_open(path, MDB_NOFLAGS);  // read-only
  checkLibmdb();
  if (!db.mdb) fail(kDamaged, "unknown file format version " + std::to_string(head[0x14]));
  // ACE files keep a non-zero encoding key only when they are encrypted
  // with a password, which this reader cannot decrypt.
  if (db.mdb->f->jet_version >= MDB_VER_ACCDB_2007 && db.mdb->f->db_key != 0)
    fail(kEncrypted, "");
  return db;
}

// libmdb's catalogue: every object with its properties. Reading the
// properties of every object is most of a short read's work, so the rows of
// one table go without it where they can (findTableQuickly).
void readCatalog(Db& db) {
  if (db.catalogRead) return;
  if (!mdb_read_catalog(db.mdb, MDB_TABLE)) {
    checkLibmdb();
    fail(kDamaged, "the catalogue cannot be read");
  }
  checkLibmdb();
  db.catalogRead = true;
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

MdbColumn* column(MdbTableDef* t, unsigned i) {
  return static_cast<MdbColumn*>(g_ptr_array_index(t->columns, i));
}

// ------------------------------------------------------------------ columns

// What the reader needs of one column: where its value stands in a row,
// how its bytes decode, and what the program is told about it.
struct Column {
  std::string name;
  fmt::Column layout;      // where its value stands in a row
  uint8_t stored = 0;      // the type in the table definition
  uint8_t holds = 0;       // the type of its values: a calculated column's result type
  bool calculated = false;
  bool longValue = false;  // the row holds a reference to Memo or OLE data
  bool autoNumber = false;
  int scale = 0;           // Decimal
  vov::FieldType fieldType = vov::ftUnknown;
  int32_t size = 0;
  std::string unreadable;  // why its values cannot be read, for the user
};

bool knownType(uint8_t t) {
  switch (t) {
    case fmt::kColBool: case fmt::kColByte: case fmt::kColInt: case fmt::kColLong:
    case fmt::kColMoney: case fmt::kColFloat: case fmt::kColDouble: case fmt::kColDateTime:
    case fmt::kColBinary: case fmt::kColText: case fmt::kColOle: case fmt::kColMemo:
    case fmt::kColGuid: case fmt::kColNumeric: case fmt::kColBigInt: case fmt::kColExtDate:
      return true;
    default:
      return false;
  }
}

// Calculated columns (Access 2010 and later) carry their formula and the
// type of its result among the column's properties; the table definition
// keeps a type of its own that need not be the result's.
void readCalculation(const Db& db, const MdbColumn* c, Column& col) {
  if (db.mdb->f->jet_version < MDB_VER_ACCDB_2010) return;
  const char* expression = mdb_col_get_prop(c, "Expression");
  if (!expression) return;
  col.calculated = true;
  const char* result = mdb_col_get_prop(c, "ResultType");
  const long code = result ? std::strtol(result, nullptr, 10) : 0;
  if (code > 0 && code < 256 && knownType(static_cast<uint8_t>(code)))
    col.holds = static_cast<uint8_t>(code);
}

void describe(const Db& db, Column& col) {
  const bool jet3 = db.jet3;
  const int32_t declared = col.size;
  col.size = 0;
  switch (col.holds) {
    case fmt::kColBool: col.fieldType = vov::ftBoolean; break;
    case fmt::kColByte: col.fieldType = vov::ftWord; break;
    case fmt::kColInt: col.fieldType = vov::ftSmallint; break;
    case fmt::kColLong: col.fieldType = col.autoNumber ? vov::ftAutoInc : vov::ftInteger; break;
    case fmt::kColBigInt: col.fieldType = vov::ftLargeint; break;
    case fmt::kColMoney: col.fieldType = vov::ftCurrency; col.size = 4; break;
    case fmt::kColFloat:
    case fmt::kColDouble: col.fieldType = vov::ftFloat; break;
    case fmt::kColDateTime:
    case fmt::kColExtDate: col.fieldType = vov::ftDateTime; break;
    case fmt::kColBinary: col.fieldType = vov::ftVarBytes; col.size = declared; break;
    // Jet 4 and later store text as UTF-16, two bytes a character.
    case fmt::kColText: col.fieldType = vov::ftWideString; col.size = jet3 ? declared : declared / 2; break;
    case fmt::kColOle: col.fieldType = vov::ftBlob; break;
    case fmt::kColMemo: col.fieldType = vov::ftMemo; break;
    case fmt::kColGuid: col.fieldType = vov::ftGuid; col.size = 38; break;
    case fmt::kColNumeric: col.fieldType = vov::ftBCD; col.size = col.scale; break;
    case fmt::kColComplex:
      col.fieldType = vov::ftUnknown;
      col.unreadable = "Access 附件或多值字段";
      break;
    default:  // a type this reader does not know: its bytes, unchanged
      col.fieldType = vov::ftVarBytes;
      col.size = declared;
      break;
  }
  // A calculated Decimal result carries its scale in each value.
  if (col.calculated && col.holds == fmt::kColNumeric) col.size = 0;
}

std::vector<Column> readColumns(const Db& db, MdbTableDef* t) {
  std::vector<Column> cols(t->num_cols);
  for (unsigned i = 0; i < t->num_cols; ++i) {
    const MdbColumn* c = column(t, i);
    Column& col = cols[i];
    col.name = c->name;
    col.stored = col.holds = static_cast<uint8_t>(c->col_type);
    col.layout.type = col.stored;
    col.layout.flags = c->is_fixed ? fmt::kColumnFixed : 0;
    col.layout.fixedOffset = static_cast<uint16_t>(c->fixed_offset);
    col.layout.length = static_cast<uint16_t>(c->col_size);
    col.layout.varIndex = static_cast<uint16_t>(c->var_col_num);
    // libmdb names some column descriptor bytes the other way round: its
    // col_scale holds a Decimal column's precision and col_prec its scale.
    col.scale = c->col_prec;
    // And its col_num is the column's place in the row, deleted columns
    // counted (its row_col_num is the place in the table's current order).
    col.layout.number = static_cast<uint16_t>(c->col_num);
    col.size = c->col_size;
    col.autoNumber = c->is_long_auto;
    readCalculation(db, c, col);
    col.longValue = col.stored == fmt::kColMemo || col.stored == fmt::kColOle ||
                    (col.calculated && (col.holds == fmt::kColMemo || col.holds == fmt::kColOle));
    describe(db, col);
  }
  return cols;
}

void putFields(const std::vector<Column>& cols) {
  putU8(out, kFields);
  putU16(out, static_cast<uint16_t>(cols.size()));
  for (const Column& c : cols) {
    putText(out, c.name);
    putU8(out, static_cast<uint8_t>(c.fieldType));
    putU32(out, static_cast<uint32_t>(c.size));
    putText(out, c.unreadable);
  }
}

// ------------------------------------------------------------- row scanning

class RowScanner {
 public:
  RowScanner(const Db& db, MdbTableDef* t, const std::vector<Column>& cols)
      : db_(db), file_(*db.file), t_(t) {
    def_.page = static_cast<uint32_t>(t->entry->table_pg);
    def_.variableColumns = static_cast<uint16_t>(t->num_var_cols);
    for (const Column& c : cols) def_.columns.push_back(c.layout);
  }

  // Moves to the next row and, when `split`, splits it into fields; false
  // at the end. Rows come in the order of their places on the table's
  // pages; a row that moved to another page is read where it was.
  bool next(bool split = true) {
    for (;;) {
      if (slot_ >= slots_) {
        if (!nextPage()) return false;
        slot_ = 0;
        const uint8_t* b = page_->bytes.data();
        slots_ = fmt::get16(b + fmt::datapage::rowCountOffset(file_.pageSize()));
      }
      const uint32_t i = slot_++;
      fmt::RowExtent e;
      if (!fmt::rowExtent(page_->bytes.data(), file_.pageSize(), i, &e))
        damaged("row " + std::to_string(i) + " lies outside its page");
      // Deleted, or the new home of a row that moved here: listed at its
      // old place.
      if ((e.flags & fmt::datapage::kDeleted) || e.start == e.end) continue;
      row_ = page_->bytes.data() + e.start;
      rowSize_ = e.end - e.start;
      if (e.flags & fmt::datapage::kLookup) followMove(i);
      if (split && !fmt::crackRow(def_, row_, rowSize_, &fields_, db_.jet3))
        damaged("row " + std::to_string(i) + " cannot be split into fields");
      return true;
    }
  }

  const std::vector<fmt::FieldSpan>& fields() const { return fields_; }
  const uint8_t* row() const { return row_; }

  [[noreturn]] void damaged(const std::string& what) const {
    fail(kDamaged, "table " + std::string(t_->name) + ", page " + std::to_string(pageNo_) + ": " + what);
  }

 private:
  fmt::PageRef readPage(uint32_t pg) {
    if (pg >= db_.pages) damaged("a row points to page " + std::to_string(pg) + ", past the end of the file");
    return file_.get(pg);
  }

  bool isOwnDataPage(const fmt::PageRef& page) const {
    const uint8_t* b = page->bytes.data();
    return b[0] == fmt::kPageData && fmt::get32(b + fmt::datapage::kOwner) == def_.page;
  }

  bool nextPage() {
    for (;;) {
      heartbeat(pageNo_);
      uint32_t next;
      if (!bruteForce_) {
        gint32 n = mdb_map_find_next(db_.mdb, t_->usage_map, static_cast<unsigned>(t_->map_sz), pageNo_);
        if (n < 0) {  // a map libmdb cannot read: look at every page instead
          bruteForce_ = true;
          continue;
        }
        if (n == 0) return false;
        if (static_cast<uint32_t>(n) <= pageNo_) damaged("its page map loops");
        next = static_cast<uint32_t>(n);
      } else {
        next = pageNo_ + 1;
        if (next >= db_.pages) return false;
      }
      pageNo_ = next;
      page_ = readPage(pageNo_);
      if (isOwnDataPage(page_)) return true;
    }
  }

  // A moved row leaves its new address behind; the row there is marked
  // deleted so that a scan lists it only once, here. It may move on.
  void followMove(uint32_t slot) {
    for (int hop = 0; hop < 16; ++hop) {
      if (rowSize_ < 4) damaged("moved row " + std::to_string(slot) + " has no address");
      const fmt::RowPointer to{fmt::get24(row_ + 1), row_[0]};
      away_ = readPage(to.page);
      fmt::RowExtent e;
      if (!isOwnDataPage(away_)) damaged("moved row " + std::to_string(slot) + " points to another table's page");
      if (!fmt::rowExtent(away_->bytes.data(), file_.pageSize(), to.row, &e))
        damaged("moved row " + std::to_string(slot) + " cannot be found");
      row_ = away_->bytes.data() + e.start;
      rowSize_ = e.end - e.start;
      if (!(e.flags & fmt::datapage::kLookup)) return;
    }
    damaged("moved row " + std::to_string(slot) + " moves in circles");
  }

  const Db& db_;
  fmt::PageFile& file_;
  MdbTableDef* t_;
  fmt::TableDef def_;
  std::vector<fmt::FieldSpan> fields_;
  fmt::PageRef page_;  // the data page being scanned
  fmt::PageRef away_;  // the page a moved row went to
  uint32_t pageNo_ = 0;
  uint32_t slots_ = 0;
  uint32_t slot_ = 0;
  bool bruteForce_ = false;
  const uint8_t* row_ = nullptr;
  uint32_t rowSize_ = 0;
};

// ------------------------------------------------------------------ values

void putValue(const vov::Value& v) {
  using K = vov::Value::Kind;
  switch (v.kind()) {
    case K::Null: putU8(out, kNull); return;
    case K::Bool: putU8(out, v.asBool() ? kTrue : kFalse); return;
    case K::Int: putU8(out, kInt); putU64(out, static_cast<uint64_t>(v.asInt())); return;
    case K::Real: putU8(out, kReal); putF64(out, v.asReal()); return;
    case K::Decimal: putU8(out, kDecimal); putText(out, v.str()); return;
    case K::Text: putU8(out, kText); putText(out, v.str()); return;
    case K::Bytes: putU8(out, kBytes); putText(out, v.str()); return;
    case K::DateTime: {
      const vov::DateTime& d = v.asDateTime();
      putU8(out, kDate);
      putU16(out, static_cast<uint16_t>(d.year));
      putU8(out, static_cast<uint8_t>(d.month));
      putU8(out, static_cast<uint8_t>(d.day));
      putU8(out, static_cast<uint8_t>(d.hour));
      putU8(out, static_cast<uint8_t>(d.minute));
      putU8(out, static_cast<uint8_t>(d.second));
      putU32(out, static_cast<uint32_t>(d.nanosecond));
      return;
    }
  }
}

class ValueReader {
 public:
  ValueReader(const Db& db, const RowScanner& rows)
      : db_(db), rows_(rows), text_{db.jet3, db.mdb->iconv_in} {}

  void put(const Column& c, const fmt::FieldSpan& f) { putValue(decode(c, f)); }

  // The value of column `c` in the current row.
  const vov::Value& decode(const Column& c, const fmt::FieldSpan& f) {
    if (c.stored == fmt::kColBool && !c.calculated) {  // kept in the null mask, never null
      value_ = vov::Value::fromBool(!f.null);
      return value_;
    }
    if (f.null || !c.unreadable.empty()) {
      value_ = vov::Value();
      return value_;
    }
    const uint8_t* p = rows_.row() + f.start;
    size_t n = f.length;
    if (c.longValue) {
      long_ = fmt::readLongValue(*db_.file, p, f.length);
      p = reinterpret_cast<const uint8_t*>(long_.data());
      n = long_.size();
    }
    if (c.calculated && !fmt::calculatedResult(p, n, &p, &n))
      rows_.damaged("the value of calculated column " + c.name + " is damaged");
    if (c.calculated && n == 0) {
      value_ = vov::Value();
      return value_;
    }
    if (const char* why = fmt::decodeValue(text_, c.holds, c.scale, c.calculated, p, n, value_))
      rows_.damaged(std::string(why) + " (column " + c.name + ")");
    return value_;
  }

 private:
  const Db& db_;
  const RowScanner& rows_;
  fmt::TextCodec text_;
  std::string long_;
  vov::Value value_;
};

// ------------------------------------------------------------- the table

MdbCatalogEntry* newEntry(const Db& db, const std::string& name, uint32_t page) {
  auto* entry = static_cast<MdbCatalogEntry*>(g_malloc0(sizeof(MdbCatalogEntry)));
  entry->mdb = db.mdb;
  std::memcpy(entry->object_name, name.data(), std::min<size_t>(name.size(), MDB_MAX_OBJ_NAME));
  entry->object_type = MDB_TABLE;
  entry->table_pg = page;
  return entry;
}

MdbTableDef* readDefinition(MdbCatalogEntry* e, const std::string& name) {
  MdbTableDef* t = mdb_read_table(e);
  checkLibmdb();
  if (!t) fail(kDamaged, "the definition of table " + name + " cannot be read");
  mdb_read_columns(t);
  checkLibmdb();
  if (!t->columns || t->columns->len != t->num_cols)
    fail(kDamaged, "the columns of table " + name + " cannot be read");
  return t;
}

// The user table `name` found by reading the catalogue table (MSysObjects,
// its definition on page 2) row by row, as every other table is read,
// without the properties of every object that libmdb's catalogue parses:
// they are most of a short read's work. Null when libmdb's catalogue must
// decide: no such table, a catalogue this cannot read, or calculated
// columns, whose result types are column properties.
MdbCatalogEntry* findTableQuickly(Db& db, const std::string& name) {
  try {
    MdbTableDef* sys = readDefinition(newEntry(db, "MSysObjects", 2), "MSysObjects");
    const std::vector<Column> cols = readColumns(db, sys);
    int idCol = -1, nameCol = -1, typeCol = -1, flagsCol = -1;
    for (size_t i = 0; i < cols.size(); ++i) {
      if (cols[i].name == "Id") idCol = static_cast<int>(i);
      else if (cols[i].name == "Name") nameCol = static_cast<int>(i);
      else if (cols[i].name == "Type") typeCol = static_cast<int>(i);
      else if (cols[i].name == "Flags") flagsCol = static_cast<int>(i);
    }
    if (idCol < 0 || nameCol < 0 || typeCol < 0 || flagsCol < 0) return nullptr;
    RowScanner rows(db, sys, cols);
    ValueReader values(db, rows);
    std::string found;
    uint32_t page = 0;
    while (rows.next()) {
      auto value = [&](int c) { return values.decode(cols[c], rows.fields()[c]); };
      const vov::Value type = value(typeCol), objectName = value(nameCol);
      if (type.kind() != vov::Value::Kind::Int || type.asInt() != 1 ||
          objectName.kind() != vov::Value::Kind::Text)
        continue;
      const std::string& n = objectName.str();
      const bool exact = n == name;
      if (!exact && (!found.empty() || !vov::equalsIgnoreCase(n, name))) continue;
      const vov::Value id = value(idCol), flags = value(flagsCol);
      // The system tables, as libmdb tells them apart, and Access's own.
      const uint32_t f = flags.kind() == vov::Value::Kind::Int ? static_cast<uint32_t>(flags.asInt()) : 0;
      if ((f & 0x80000002u) || n.empty() || n[0] == '~' || startsWithIgnoreCase(n.c_str(), "msys") ||
          id.kind() != vov::Value::Kind::Int)
        continue;
      found = n;
      page = static_cast<uint32_t>(id.asInt()) & 0x00FFFFFF;
      if (exact) break;
    }
    if (found.empty() || found.size() > MDB_MAX_OBJ_NAME) return nullptr;
    if (!db.jet3) {
      for (const fmt::Column& c : fmt::readTableDef(*db.file, page).columns)
        if (c.calculated()) return nullptr;
    }
    return newEntry(db, found, page);
  } catch (const std::exception&) {
    return nullptr;
  }
}

MdbTableDef* openTable(Db& db, const std::string& name) {
  MdbCatalogEntry* found = findTableQuickly(db, name);
  if (!found) readCatalog(db);
  for (MdbCatalogEntry* e : found ? std::vector<MdbCatalogEntry*>{} : userTables(db)) {
    if (name == e->object_name) {
      found = e;
      break;
    }
    if (!found && vov::equalsIgnoreCase(name, e->object_name)) found = e;
  }
  if (!found) fail(kNoSuchTable, name);
  return readDefinition(found, name);
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
  const std::vector<Column> cols = readColumns(db, t);
  putFields(cols);
  flushOut();
  RowScanner rows(db, t, cols);
  for (uint64_t i = 0; i < skip && rows.next(false); ++i) {
  }
  ValueReader values(db, rows);
  while (rows.next()) {
    putU8(out, kRow);
    for (size_t i = 0; i < cols.size(); ++i) values.put(cols[i], rows.fields()[i]);
    maybeFlush();
  }
  checkLibmdb();
  return 0;
}

int countRows(const Db& db, MdbTableDef* t) {
  RowScanner rows(db, t, readColumns(db, t));
  uint64_t n = 0;
  while (rows.next(false)) ++n;
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

  int rc = 0;
  try {
    Db db = openDb(argv[2]);
    if (cmd == "tables") {
      readCatalog(db);
      rc = listTables(db);
    } else {
      MdbTableDef* t = openTable(db, argv[3]);
      if (cmd == "fields") {
        putFields(readColumns(db, t));
      } else if (cmd == "rows") {
        rc = sendRows(db, t, argc == 5 ? std::strtoull(argv[4], nullptr, 10) : 0);
      } else {
        rc = countRows(db, t);
      }
    }
  } catch (const std::exception& e) {  // the page layer's word on a damaged structure
    fail(kDamaged, e.what());
  }
  putU8(out, kEnd);
  flushOut();
  // Leaving without tearing down libmdb's structures: the process ends here.
  _exit(rc);
}
