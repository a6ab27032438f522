// Benchmark of the main window's data grid on an SQLite table of a million
// rows (or the count given as the first argument): the time from the click
// on the table to the first rows on screen, the jump to the last row, and
// the resident memory while scrolling, against holding the whole table.
//
//   grid_bench [rows] [database file to keep]
#include <QApplication>
#include <QScrollBar>

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/startup.h"
#include "data/connection_string.h"
#include "data/data_module.h"
#include "ui/data_grid/db_grid_eh.h"
#include "ui/main_window/form1.h"
#include "ui/platform/list_box.h"
#include "ui/platform/platform.h"

using namespace vov;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

long rssKb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

void makeTable(const std::string& path, long rows) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  std::string sql =
      "pragma journal_mode=off; pragma synchronous=off;"
      "create table big(id integer primary key, code varchar(20), name varchar(50),"
      "  note text, qty integer, price real, made date, active boolean);"
      "with recursive n(i) as (select 1 union all select i + 1 from n where i < " +
      std::to_string(rows) +
      ") insert into big select i, 'C' || i, '华东贸易有限公司第' || i || '号仓库',"
      "  case when i % 7 = 0 then null else 'note ' || i end, i % 1000, i * 0.25,"
      "  date('2020-01-01', '+' || (i % 2000) || ' days'), i % 2 from n;";
  char* err = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::fprintf(stderr, "cannot build the table: %s\n", err);
    std::exit(1);
  }
  sqlite3_close(db);
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
  std::string path = argc > 2 ? argv[2] : std::string();
  const bool keep = !path.empty();
  if (!keep)
    path = (std::filesystem::temp_directory_path() / "vovarize-grid-bench.db").string();
  if (!keep || !std::filesystem::exists(path)) {
    std::filesystem::remove(path);
    auto t = Clock::now();
    makeTable(path, rows);
    std::printf("table of %ld rows built in %.0f ms (%.1f MB on disk)\n", rows, msSince(t),
                std::filesystem::file_size(path) / 1048576.0);
  }

  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  ui::DialogSeam::script();
  createMainObjects();
  ui::TForm1* form = ui::Form1;
  form->show();
  app.processEvents();
  ui::DialogSeam::answerFile(path);
  form->Button1Click();
  ui::TDBGridEh* grid = form->DBGridEh1;
  ui::GridModel* model = grid->gridModel();
  auto show = [&] {
    app.processEvents();
    grid->viewport()->repaint();
  };
  show();
  const long rssOpen = rssKb();

  // The click: field list, preview, and the first rows painted.
  auto t = Clock::now();
  form->ListBox1->pick(form->ListBox1->indexOf("big"));
  show();
  const double firstMs = msSince(t);
  const bool firstOk = model->index(0, 0).data().toString() == "1";
  const long rssFirst = rssKb();
  std::printf("click to first rows: %.1f ms (target < 300 ms)%s\n", firstMs,
              firstOk ? "" : "  [WRONG FIRST ROW]");
  std::printf("rows in the grid: %d\n", model->rowCount());

  // Some windows scrolled into view, one jump each.
  QScrollBar* bar = grid->verticalScrollBar();
  const int windows = 100;
  t = Clock::now();
  for (int k = 0; k < windows; ++k) {
    bar->setValue(k * ui::GridModel::kWindowRows);
    show();
  }
  std::printf("%d windows scrolled: %.2f ms per jump\n", windows, msSince(t) / windows);
  const long rssSome = rssKb();

  t = Clock::now();
  grid->scrollToBottom();
  show();
  const double lastMs = msSince(t);
  const QString last = model->index(model->rowCount() - 1, 0).data().toString();
  std::printf("jump to the last row: %.1f ms, last id %s%s\n", lastMs, qPrintable(last),
              last.toLong() == rows ? "" : "  [WRONG LAST ROW]");

  // Every window of the table, in order.
  t = Clock::now();
  for (long r = 0; r < rows; r += ui::GridModel::kWindowRows) {
    bar->setValue(static_cast<int>(r));
    show();
  }
  std::printf("whole table scrolled through: %.0f ms\n", msSince(t));
  const long rssAll = rssKb();
  std::printf("rows held by the grid: %zu\n", model->heldRows());

  // For comparison: the whole table held in memory, as a grid that reads
  // every row at once would hold it.
  std::vector<std::vector<Value>> whole;
  whole.reserve(static_cast<size_t>(rows));
  {
    DataSet& ds = DataModule2->ADODataSetTmp;
    ds.setConnection(&DataModule2->ADOConnection2old);
    ds.setCommandText("select * from big");
    t = Clock::now();
    for (ds.open(); !ds.eof(); ds.next()) {
      std::vector<Value> row;
      row.reserve(static_cast<size_t>(ds.fieldCount()));
      for (int i = 0; i < ds.fieldCount(); ++i) row.push_back(ds.field(i).value());
      whole.push_back(std::move(row));
    }
    ds.close();
  }
  const double wholeMs = msSince(t);
  const long rssWhole = rssKb();

  std::printf("\nresident memory (MB)\n");
  std::printf("  database open, no table shown     %8.1f\n", rssOpen / 1024.0);
  std::printf("  first rows shown                  %8.1f  (+%.1f)\n", rssFirst / 1024.0,
              (rssFirst - rssOpen) / 1024.0);
  std::printf("  after %d windows                 %8.1f  (+%.1f)\n", windows, rssSome / 1024.0,
              (rssSome - rssOpen) / 1024.0);
  std::printf("  after every window of the table   %8.1f  (+%.1f)\n", rssAll / 1024.0,
              (rssAll - rssOpen) / 1024.0);
  std::printf("  whole table read into memory      %8.1f  (+%.1f, read in %.0f ms)\n",
              rssWhole / 1024.0, (rssWhole - rssAll) / 1024.0, wholeMs);

  whole.clear();
  destroyMainObjects();
  if (!keep) std::filesystem::remove(path);
  return firstOk && last.toLong() == rows ? 0 : 1;
}
