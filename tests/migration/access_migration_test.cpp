// Access files as the old database: tables of nwind.mdb and
// DateTestDatabase.mdb migrated into SQLite and exported to CSV, compared
// with what mdb-export reads from the same files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "data/data_module.h"
#include "mapping/mapping_line.h"
#include "migration/export_table.h"
#include "migration/migrate_table.h"
#include "tests/support/test_support.h"

using namespace vov;

namespace {

using Rows = std::vector<std::vector<std::string>>;

// Fields of a CSV text (quoted fields may hold commas, doubled quotes and
// line breaks); rows end in LF or CR LF.
Rows parseCsv(const std::string& text) {
  Rows rows;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      row.push_back(field);
      field.clear();
    } else if (c == '\n' || c == '\r') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      row.push_back(field);
      rows.push_back(row);
      row.clear();
      field.clear();
    } else {
      field += c;
    }
  }
  if (!field.empty() || !row.empty()) {
    row.push_back(field);
    rows.push_back(row);
  }
  return rows;
}

bool isNumber(const std::string& s, double* v) {
  if (s.empty()) return false;
  char* end = nullptr;
  *v = std::strtod(s.c_str(), &end);
  return end == s.c_str() + s.size();
}

// Equal texts, or numbers equal to single precision (mdb-export prints a
// Single's float digits, the engine its shortest decimal form).
void expectSameRows(const Rows& got, const Rows& want, const std::string& what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  for (size_t r = 0; r < got.size(); ++r) {
    ASSERT_EQ(got[r].size(), want[r].size()) << what << " row " << r;
    for (size_t c = 0; c < got[r].size(); ++c) {
      double a, b;
      if (got[r][c] != want[r][c] && isNumber(got[r][c], &a) && isNumber(want[r][c], &b)) {
        EXPECT_NEAR(a, b, 1e-6 * std::max(1.0, std::fabs(b))) << what << " row " << r << " col " << c;
      } else {
        EXPECT_EQ(got[r][c], want[r][c]) << what << " row " << r << " col " << c;
      }
    }
  }
}

const char kDateFormat[] = "'%Y-%m-%d %H:%M:%S'";

std::string mdbExport(const std::string& file, const std::string& table, const std::string& options) {
  return test::runCommand("mdb-export " + options + " -T " + kDateFormat + " '" +
                          test::testData("access/" + file) + "' '" + table + "'");
}

class AccessMigration : public ::testing::Test {
 protected:
  void open(const std::string& mdb, const std::string& newSchema) {
    newDb = dir.file("new.db");
    test::makeSqlite(newDb, newSchema);
    TDataModule2::openSide(dm.ADOConnection2old, dm.ADODataSet2old, test::testData("access/" + mdb));
    TDataModule2::openSide(dm.ADOConnection1new, dm.ADODataSet1new, newDb);
  }

  // Maps every field of the old table onto the new field of the same name.
  int32_t migrateAll(const std::string& oldTable, const std::string& newTable,
                     const std::string& filter = kDefaultFilterText) {
    std::vector<std::string> fields;
    dm.ADOConnection2old.fieldNames(oldTable, fields);
    MigrationRequest r;
    for (const std::string& f : fields)
      r.lines.push_back(composeFieldMappingLine(oldTable, f, 12, newTable, f));
    r.oldTable = [oldTable] { return oldTable; };
    r.newTable = [newTable] { return newTable; };
    r.filter = filter;
    int32_t last = 0;
    r.progress = [&last](int32_t n) { last = n; };
    EXPECT_TRUE(migrateTable(dm, r));
    return last;
  }

  test::TempDir dir;
  std::string newDb;
  TDataModule2 dm;
};

const char kNwindSchema[] =
    "create table od(OrderID integer, ProductID integer, UnitPrice real, Quantity integer,"
    " Discount real);"
    "create table o(OrderID integer, CustomerID varchar(5), EmployeeID integer,"
    " OrderDate datetime, RequiredDate datetime, ShippedDate datetime, ShipVia integer,"
    " Freight real, ShipName varchar(40), ShipAddress varchar(60), ShipCity varchar(15),"
    " ShipRegion varchar(15), ShipPostalCode varchar(10), ShipCountry varchar(15));"
    "create table p(ProductID integer, ProductName varchar(40), SupplierID integer,"
    " CategoryID integer, QuantityPerUnit varchar(20), UnitPrice real, UnitsInStock integer,"
    " UnitsOnOrder integer, ReorderLevel integer, Discontinued boolean);";

}  // namespace

TEST_F(AccessMigration, NwindTablesArriveRowForRowAsMdbExportReadsThem) {
  open("nwind.mdb", kNwindSchema);
  struct Case {
    const char* oldTable;
    const char* newTable;
  };
  for (Case c : {Case{"Order Details", "od"}, Case{"Orders", "o"}, Case{"Products", "p"}}) {
    Rows want = parseCsv(mdbExport("nwind.mdb", c.oldTable, "-H"));
    EXPECT_EQ(migrateAll(c.oldTable, c.newTable), static_cast<int32_t>(want.size()));
    Rows got = test::sqliteRows(newDb, std::string("select * from ") + c.newTable + " order by rowid");
    // mdb-export writes nothing for a null.
    for (auto& row : got)
      for (auto& v : row)
        if (v == "<null>") v.clear();
    expectSameRows(got, want, c.oldTable);
  }
  EXPECT_EQ(dm.ADODataSetTmp.commandText(), "select * from [Products];");
  EXPECT_EQ(test::sqliteRows(newDb, "select typeof(OrderDate), typeof(Freight), count(*) from o"
                                    " where ShipRegion is null"),
            (Rows{{"text", "real", "507"}}));
}

TEST_F(AccessMigration, FilterWithDatesAndColonsAndTextCutIntoShorterFields) {
  open("nwind.mdb",
       "create table o(id integer, city varchar(4), name text, d datetime);");
  MigrationRequest r;
  r.lines = {composeFieldMappingLine("Orders", "OrderID", -1, "o", "id"),
             composeFieldMappingLine("Orders", "ShipCity", -1, "o", "city"),
             composeFieldMappingLine("Orders", "ShipName", -1, "o", "name"),
             composeFieldMappingLine("Orders", "OrderDate", -1, "o", "d")};
  r.oldTable = [] { return std::string("Orders"); };
  r.newTable = [] { return std::string("o"); };
  r.filter = "where OrderDate >= #1994-11-28 00:00:00# and ShipCountry = 'france'";
  ASSERT_TRUE(migrateTable(dm, r));

  Rows want;
  for (const auto& o : parseCsv(mdbExport("nwind.mdb", "Orders", "-H")))
    if (o[3] >= "1994-11-28 00:00:00" && o[13] == "France")
      want.push_back({o[0], o[10].substr(0, 4), o[8], o[3]});
  ASSERT_GT(want.size(), 10u);
  expectSameRows(test::sqliteRows(newDb, "select id, city, name, d from o order by rowid"), want,
                 "Orders");
}

TEST_F(AccessMigration, DatesBeforeEighteenHundredAndAfterNineThousandKeepTheirValue) {
  open("DateTestDatabase.mdb",
       "create table dt(IDCol integer, DateTimeCol datetime, DateCol datetime, TimeCol datetime,"
       " LongTextCol text, ShortTextCol varchar(255));");
  EXPECT_EQ(migrateAll("DateTest", "dt"), 6);
  EXPECT_EQ(test::sqliteRows(newDb, "select * from dt order by IDCol"),
            (Rows{{"1", "2021-12-02 00:00:00", "2021-12-02 00:00:00", "2021-12-02 00:00:00",
                   "Hello", "Hello"},
                  {"2", "9999-01-01 00:00:00", "9999-01-01 00:00:00", "9999-01-01 00:00:00",
                   "Year 9999", "Year 1999"},
                  {"3", "1898-01-01 00:00:00", "1899-01-01 00:00:00", "1900-01-01 00:00:00",
                   "Pre-1900 years", "Pre-1900 years"},
                  {"4", "0632-01-01 00:00:00", "0633-01-01 00:00:00", "0634-01-01 00:00:00",
                   "Pre-1000 years", "Pre-1000 years"},
                  {"5", "2021-12-02 00:00:00", "2021-12-02 00:00:00", "2021-12-02 00:00:00",
                   "Escaped new line \\r\\n in field", "Escaped new line \\r\\n in field"},
                  {"6", "2021-12-02 00:00:00", "2021-12-02 00:00:00", "2021-12-02 00:00:00",
                   "New line\r\nin field", "No new line"}}));
}

TEST_F(AccessMigration, ExportedCsvMatchesMdbExport) {
  open("nwind.mdb", kNwindSchema);
  for (const char* table : {"Orders", "Order Details"}) {
    std::string target = dir.file(std::string(table) + ".TXT");
    exportTable(dm.ADOConnection2old, table, target);
    std::string csv = test::readFile(target);
    // mdb-export ends its lines in LF; the export in CR LF.
    EXPECT_EQ(csv.substr(csv.size() - 2), "\r\n");
    expectSameRows(parseCsv(csv), parseCsv(mdbExport("nwind.mdb", table, "")), table);
  }
}

// Nulls of a Memo column arrive as nulls; a NOT NULL column refuses the
// first of them and keeps the rows before it.
TEST_F(AccessMigration, MemoNullsArriveAsNullsAndStopAtANotNullColumn) {
  open("nwind.mdb", "create table s(SupplierID integer, HomePage text);"
                    "create table strict(SupplierID integer, HomePage text not null);");
  const Rows want = parseCsv(mdbExport("nwind.mdb", "Suppliers", "-H -0 '<null>'"));
  ASSERT_EQ(want.size(), 29u);
  auto request = [](const char* table, const std::string& filter) {
    MigrationRequest r;
    r.lines = {composeFieldMappingLine("Suppliers", "SupplierID", -1, table, "SupplierID"),
               composeFieldMappingLine("Suppliers", "HomePage", -1, table, "HomePage")};
    r.oldTable = [] { return std::string("Suppliers"); };
    r.newTable = [table] { return std::string(table); };
    r.filter = filter;
    return r;
  };
  ASSERT_TRUE(migrateTable(dm, request("s", kDefaultFilterText)));
  Rows got = test::sqliteRows(newDb, "select SupplierID, typeof(HomePage) from s order by rowid");
  ASSERT_EQ(got.size(), want.size());
  size_t nulls = 0;
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i][1] == "null", want[i][11] == "<null>") << "SupplierID " << got[i][0];
    nulls += got[i][1] == "null";
  }
  EXPECT_GT(nulls, 10u);

  // From the first supplier with a home page on, up to the next without.
  size_t first = 0;
  while (want[first][11] == "<null>") ++first;
  size_t kept = 0;
  while (first + kept < want.size() && want[first + kept][11] != "<null>") ++kept;
  ASSERT_LT(first + kept, want.size());
  EXPECT_THROW(migrateTable(dm, request("strict", "where SupplierID >= " + want[first][0])), std::exception);
  EXPECT_EQ(test::sqliteRows(newDb, "select count(*) from strict"), (Rows{{std::to_string(kept)}}));
}

// Moved rows, calculated columns and extended dates, as a migration into
// SQLite carries them.
TEST_F(AccessMigration, MovedRowsCalculatedColumnsAndExtendedDatesArriveAsStored) {
  open("overflow_jet4.mdb", "create table t(data1 text, data3 text, data4 text, data5 text, data6 text,"
                            " data7 text, data8 text, data9 text, data10 text);");
  EXPECT_EQ(migrateAll("Table1", "t"), 7);
  EXPECT_EQ(test::sqliteRows(newDb, "select coalesce(data1, '-'), coalesce(data3, '-'), coalesce(data9, '-')"
                                    " from t order by rowid"),
            (Rows{{"row1col1", "-", "-"}, {"row2col1", "row2col3", "-"}, {"-", "row3col3", "row3col9"},
                  {"row4col1", "row4col2", "-"}, {"-", "row5col2", "-"}, {"-", "row6col2", "-"},
                  {"row7col1", "-", "-"}}));

  dm.ADOConnection2old.close();
  open("calcfields_ace14.accdb",
       "create table c(ID integer, FirstName text, LastName text, LastFirst text, City text,"
       " LastFirstLen integer, Salary numeric, MonthlySalary numeric, IsRich boolean, AllNames text,"
       " WeeklySalary text, SalaryTest numeric, BoolTest boolean, Popularity text, DecimalTest text,"
       " FloatTest real, BigNumTest text);");
  EXPECT_EQ(migrateAll("Table1", "c"), 4);
  EXPECT_EQ(test::sqliteRows(newDb, "select LastFirst, LastFirstLen, MonthlySalary, IsRich, AllNames,"
                                    " WeeklySalary, BigNumTest from c where ID = 1"),
            (Rows{{"Wayne, Bruce", "12", "83333.3333", "1", "Wayne, Bruce=Wayne, Bruce",
                   "19230.7692307692", "56505085819.424791296572280180"}}));

  dm.ADOConnection2old.close();
  open("extdate_ace17.accdb", "create table d(ID integer, Field1 text, DateExt text, DateNormal datetime,"
                              " DateExtStr text, DateNormalCalc datetime);");
  EXPECT_EQ(migrateAll("Table1", "d"), 9);
  EXPECT_EQ(test::sqliteRows(newDb, "select ID, DateExt, DateNormalCalc = DateNormal from d"
                                    " where ID in (1, 6, 8) order by ID"),
            (Rows{{"1", "2020-06-17 00:00:00", "1"},
                  {"6", "2021-06-14 22:45:12.3456789", "1"},
                  {"8", "0100-06-14 12:45:00.1234567", "1"}}));
}

// An attachment or multi-value column holds only a key into hidden tables:
// its values are never passed on as numbers, and carrying it over or
// exporting it fails naming the column's kind. (types_ace14.accdb's Long
// column E made one by its type byte.)
TEST_F(AccessMigration, ComplexColumnsAreNamedInsteadOfMangled) {
  const std::string path = test::copyTestData(dir, "access/types_ace14.accdb");
  std::string bytes = test::readFile(path);
  const size_t typeByte = 74 * 4096 + 87 + 4 * 25;  // Table1's definition, column E
  ASSERT_EQ(bytes[typeByte], 0x04);
  bytes[typeByte] = 0x12;
  test::writeFile(path, bytes);
  newDb = dir.file("new.db");
  test::makeSqlite(newDb, "create table t(A text, E integer);");
  TDataModule2::openSide(dm.ADOConnection2old, dm.ADODataSet2old, path);
  TDataModule2::openSide(dm.ADOConnection1new, dm.ADODataSet1new, newDb);

  std::vector<FieldInfo> fields = dm.ADOConnection2old.backend().tableFields("Table1");
  ASSERT_EQ(fields.size(), 9u);
  EXPECT_EQ(fields[4].name, "E");
  EXPECT_EQ(fields[4].unreadable, "Access 附件或多值字段");
  EXPECT_TRUE(fields[3].unreadable.empty());

  MigrationRequest r;
  r.oldTable = [] { return std::string("Table1"); };
  r.newTable = [] { return std::string("t"); };
  r.filter = kDefaultFilterText;
  r.lines = {composeFieldMappingLine("Table1", "A", -1, "t", "A")};
  ASSERT_TRUE(migrateTable(dm, r));
  EXPECT_EQ(test::sqliteRows(newDb, "select count(*), count(E) from t"), (Rows{{"2", "0"}}));
  r.lines.push_back(composeFieldMappingLine("Table1", "E", -1, "t", "E"));
  try {
    migrateTable(dm, r);
    ADD_FAILURE() << "no error";
  } catch (const std::exception& e) {
    EXPECT_EQ(std::string(e.what()), "旧表字段“E”是 Access 附件或多值字段，本程序无法读取它的值，不能迁移");
  }
  EXPECT_EQ(test::sqliteRows(newDb, "select count(*) from t"), (Rows{{"2"}}));
  try {
    exportTable(dm.ADOConnection2old, "Table1", dir.file("t.TXT"));
    ADD_FAILURE() << "no error";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("字段“E”是 Access 附件或多值字段，本程序无法读取它的值，不能导出"),
              std::string::npos) << e.what();
  }
}
