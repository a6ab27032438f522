// The shared data module.
#include "data/data_module.h"

#include "data/connection_string.h"

namespace vov {

TDataModule2* DataModule2 = nullptr;

TDataModule2::TDataModule2() {
  ADODataSet1new.setBrowsable(true);
  ADODataSet2old.setBrowsable(true);
}

TDataModule2::~TDataModule2() {
  ADOConnection1new.close();
  ADOConnection2old.close();
}

void TDataModule2::openSide(Connection& connection, DataSet& preview, const std::string& path) {
  preview.close();
  connection.close();
  connection.setConnectionString(buildConnectionString(path));
  connection.open();
}

void TDataModule2::preview(DataSet& preview, const std::string& table) {
  preview.close();
  preview.setCommandText("select * from " + preview.connection()->quoteName(table));
  preview.open();
}

}  // namespace vov
