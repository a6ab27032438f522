// The shared data module: every database object of the program, wired once
// at start-up. The windows and the migration engine drive its components
// directly; it has no behaviour of its own besides the open and preview
// sequences that both windows share.
#ifndef VOVARIZE_DATA_DATA_MODULE_H
#define VOVARIZE_DATA_DATA_MODULE_H

#include <string>

#include "data/engine.h"

namespace vov {

// Feeds one grid from one result set.
struct DataSource {
  DataSet* dataSet;
};

class TDataModule2 {
 public:
  TDataModule2();
  ~TDataModule2();
  TDataModule2(const TDataModule2&) = delete;
  TDataModule2& operator=(const TDataModule2&) = delete;

  // Declared first so they are destroyed last, after everything on them.
  Connection ADOConnection1new{"ADOConnection1new"};
  Connection ADOConnection2old{"ADOConnection2old"};
  DataSet ADODataSet1new{"ADODataSet1new", &ADOConnection1new};
  DataSet ADODataSet2old{"ADODataSet2old", &ADOConnection2old};
  DataSource DataSource1new{&ADODataSet1new};
  DataSource DataSource2old{&ADODataSet2old};
  DataSet ADODataSetTmp{"ADODataSetTmp"};
  Command ADOCommand1{"ADOCommand1", &ADOConnection1new};
  DataSet ADODataSettmpnew{"ADODataSettmpnew", &ADOConnection1new};

  // Steps 1 to 4 of opening a side's database: close the preview and the
  // connection, set the connection string for `path` (a file path or a
  // server address), connect. The caller lists the tables afterwards.
  static void openSide(Connection& connection, DataSet& preview, const std::string& path);

  // Shows all rows of `table` in a preview result set; the name is quoted
  // for the connection's engine.
  static void preview(DataSet& preview, const std::string& table);
};

extern TDataModule2* DataModule2;

}  // namespace vov

#endif
