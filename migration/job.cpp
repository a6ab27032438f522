// Whole migrations over the table migration engine.
#include "migration/job.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "data/error.h"
#include "data/error_context.h"
#include "data/replacing_file.h"
#include "data/text_driver.h"
#include "mapping/display_width.h"
#include "mapping/mapping_line.h"
#include "mapping/progress_line.h"

namespace vov {

// ------------------------------------------------------------------ pairs

std::vector<TablePair> tablePairs(const std::vector<std::string>& listed) {
  // Blank lines (between pairs of a list written by hand, or at its end)
  // name no field: kept, they would fail the pair they fall into.
  std::vector<std::string> lines;
  for (const std::string& l : listed)
    if (!trimControl(l).empty()) lines.push_back(l);
  std::vector<TablePair> pairs;
  std::vector<int> owner(lines.size(), -1);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (parseMappingLine(lines[i], kOldField).empty()) continue;
    const std::string oldTable = parseMappingLine(lines[i], kOldTable);
    const std::string newTable = parseMappingLine(lines[i], kNewTable);
    size_t p = 0;
    while (p < pairs.size() && !(pairs[p].oldTable == oldTable && pairs[p].newTable == newTable)) ++p;
    if (p == pairs.size()) pairs.push_back({oldTable, newTable, {}});
    owner[i] = static_cast<int>(p);
  }
  if (pairs.size() <= 1) {
    TablePair only{pairs.empty() ? std::string() : pairs[0].oldTable, std::string(), lines};
    only.newTable = pairs.empty() ? std::string() : pairs[0].newTable;
    for (size_t i = 0; i < lines.size() && only.newTable.empty(); ++i)
      only.newTable = parseMappingLine(lines[i], kNewTable);
    return {only};
  }
  for (size_t i = 0; i < lines.size(); ++i) {
    if (owner[i] >= 0) continue;
    const std::string newTable = parseMappingLine(lines[i], kNewTable);
    int found = -1;
    if (newTable.empty()) {
      for (size_t j = i; j-- > 0 && found < 0;) found = owner[j];
      if (found < 0) found = 0;
    } else {
      auto same = [&](size_t j) {
        return parseMappingLine(lines[j], kOldField).empty() ? -1
               : pairs[static_cast<size_t>(owner[j])].newTable == newTable ? owner[j]
                                                                          : -1;
      };
      for (size_t j = i; j-- > 0 && found < 0;) found = same(j);
      for (size_t j = i + 1; j < lines.size() && found < 0; ++j) found = same(j);
      if (found < 0)
        throw Error("映射列表文件中的默认值行“" + lines[i] + "”所写的新表“" + newTable +
                    "”没有字段对应行，无法确定它属于哪一对表");
    }
    owner[i] = found;
  }
  for (size_t i = 0; i < lines.size(); ++i) pairs[static_cast<size_t>(owner[i])].lines.push_back(lines[i]);
  return pairs;
}

std::string pairName(const TablePair& pair) {
  std::string line = composeProgressLine(pair.oldTable, pair.newTable, PairOutcome::Done);
  // Without the outcome the progress list appends.
  return line.substr(0, line.rfind("=>"));
}

// ------------------------------------------------------------ reject file

namespace {

std::string rejectHeaderStart() {
  std::string h;
  appendCsvQuoted(h, "对应表");
  return h + ',';
}

bool isRejectFile(const std::string& path) {
  const std::string head = rejectHeaderStart();
  std::string got(head.size(), '\0');
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  const size_t n = std::fread(&got[0], 1, got.size(), f);
  std::fclose(f);
  return n == head.size() && got == head;
}

}  // namespace

RejectFile::RejectFile(std::string path) : path_(std::move(path)) {
  if (isDatabaseFile(path_)) throw Error("无法创建拒绝行文件“" + path_ + "”：" + kNotOverDatabase);
}

RejectFile::~RejectFile() {
  if (fd_ >= 0) ::close(fd_);
}

void RejectFile::open() {
  if (fd_ >= 0) return;
  if (!error_.empty()) throw FileError(error_);
  // Opened, not emptied: a file of that name is replaced only when there
  // is a row to write.
  existed_ = ::access(path_.c_str(), F_OK) == 0;
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd_ < 0) {
    error_ = "无法创建拒绝行文件“" + path_ + "”：" + systemReason(errno);
    throw FileError(error_);
  }
}

void RejectFile::write(const std::string& text) {
  open();
  if (!error_.empty()) throw FileError(error_);
  if (!truncated_) {
    if (::ftruncate(fd_, 0) != 0) {
      error_ = "无法写入拒绝行文件“" + path_ + "”：" + systemReason(errno);
      throw FileError(error_);
    }
    truncated_ = true;
  }
  // Each row goes out at once: what was set aside is on disk even when the
  // job is stopped the hard way.
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = "无法写入拒绝行文件“" + path_ + "”：" + systemReason(n < 0 ? errno : ENOSPC);
      // The rows before stay whole and readable; half a row goes.
      if (::ftruncate(fd_, static_cast<off_t>(bytes_)) != 0) {
        // The error already says the file is not whole.
      }
      throw FileError(error_);
    }
    done += static_cast<size_t>(n);
  }
  bytes_ += text.size();
}

void RejectFile::add(const std::string& pair, const RejectedRow& row) {
  std::string header;
  appendCsvQuoted(header, "对应表");
  header += ',';
  appendCsvQuoted(header, "老表行号");
  header += ',';
  appendCsvQuoted(header, "错误信息");
  for (const FieldInfo& f : row.fields) {
    header += ',';
    appendCsvQuoted(header, f.name);
  }
  std::string text;
  if (header != lastHeader_ || pair != lastPair_ || rows_ == 0) {
    text = header + "\r\n";
    lastHeader_ = header;
    lastPair_ = pair;
  }
  appendCsvQuoted(text, pair);
  text += ',' + std::to_string(row.row) + ',';
  appendCsvQuoted(text, row.message);
  for (const Value& v : row.values) {
    text += ',';
    appendCsvField(text, v);
  }
  text += "\r\n";
  write(text);
  ++rows_;
}

void RejectFile::close() {
  const bool empty = rows_ == 0;
  if (fd_ >= 0) {
    const int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0 && !empty && error_.empty()) error_ = "无法写入拒绝行文件“" + path_ + "”：" + systemReason(errno);
  }
  if (empty) {
    // Only what this run made, or a reject file of an earlier run, goes;
    // never another file that merely carries the name given.
    if (!existed_ || truncated_ || isRejectFile(path_)) {
      std::error_code ec;
      std::filesystem::remove(path_, ec);
    }
    return;
  }
  if (!error_.empty()) throw FileError(error_);
}

// ------------------------------------------------------------------- job

int64_t JobReport::rejectedRows() const {
  int64_t n = 0;
  for (const PairReport& p : pairs) n += p.counts.rejected;
  return n;
}

bool JobReport::failed() const {
  if (!rejectFileError.empty()) return true;
  for (const PairReport& p : pairs)
    if (p.state == PairState::Failed || p.state == PairState::Interrupted) return true;
  return false;
}

int JobReport::exitCode() const { return failed() ? 1 : rejectedRows() > 0 ? 3 : 0; }

JobReport runJob(TDataModule2& dm, const std::vector<TablePair>& pairs, const JobOptions& options,
                 const JobEvents& events) {
  using Clock = std::chrono::steady_clock;
  JobReport report;
  report.options = options;
  for (const TablePair& p : pairs) report.pairs.push_back({p.oldTable, p.newTable, {}, 0, PairState::NotRun, {}});
  const bool setAside = options.onRowError == OnRowError::Skip || options.dryRun;
  std::unique_ptr<RejectFile> rejects;
  if (setAside && !options.rejectFile.empty()) {
    rejects = std::make_unique<RejectFile>(options.rejectFile);
    // Before anything is written: rows set aside must have a place to go.
    rejects->open();
  }

  for (size_t i = 0; i < pairs.size(); ++i) {
    const TablePair& pair = pairs[i];
    PairReport& r = report.pairs[i];
    if (events.pairStarts) events.pairStarts(i, pair);
    const std::string name = pairName(pair);
    MigrationRequest request;
    request.oldTable = [&pair] { return pair.oldTable; };
    request.newTable = [&pair] { return pair.newTable; };
    request.lines = pair.lines;
    request.filter = options.filter;
    request.progress = events.progress;
    request.confirmCaveat = events.confirmCaveat;
    request.mode = options.mode;
    request.onRowError = options.onRowError;
    request.dryRun = options.dryRun;
    request.counts = &r.counts;
    if (rejects) request.rejected = [&](const RejectedRow& row) { rejects->add(name, row); };
    const Clock::time_point start = Clock::now();
    bool stop = false;
    try {
      migrateTable(dm, request);
      r.state = PairState::Done;
    } catch (const Abort&) {
      r.state = PairState::Interrupted;
      stop = true;
    } catch (const std::exception& e) {
      r.state = PairState::Failed;
      r.error = e.what();
      stop = !options.keepGoing;
    }
    r.milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    if (events.pairEnds) events.pairEnds(r);
    if (stop) break;
  }
  if (rejects) {
    try {
      rejects->close();
    } catch (const std::exception& e) {
      report.rejectFileError = e.what();
    }
    // A row that found no place in the file also stopped its pair.
    if (report.rejectFileError.empty()) report.rejectFileError = rejects->error();
  }
  return report;
}

// ---------------------------------------------------------------- reports

namespace {

const char* stateText(PairState s) {
  switch (s) {
    case PairState::Done: return "完成";
    case PairState::Failed: return "失败";
    case PairState::Interrupted: return "中断";
    case PairState::NotRun: return "未运行";
  }
  return "";
}

const char* stateKey(PairState s) {
  switch (s) {
    case PairState::Done: return "done";
    case PairState::Failed: return "failed";
    case PairState::Interrupted: return "interrupted";
    case PairState::NotRun: return "not_run";
  }
  return "";
}

const char* modeKey(WriteMode m) {
  switch (m) {
    case WriteMode::Append: return "append";
    case WriteMode::Update: return "update";
    case WriteMode::Upsert: return "upsert";
  }
  return "";
}

std::string count(int64_t n) { return n < 0 ? "-" : std::to_string(n); }

std::string padded(const std::string& s, size_t width, bool right) {
  const size_t w = displayWidth(s);
  const std::string fill(w < width ? width - w : 0, ' ');
  return right ? fill + s : s + fill;
}

MigrationCounts totalOf(const JobReport& report, int64_t* ms) {
  MigrationCounts t;
  *ms = 0;
  for (const PairReport& p : report.pairs) {
    const MigrationCounts& c = p.counts;
    t.read += c.read;
    t.written += c.written;
    t.inserted = t.inserted < 0 || c.inserted < 0 ? -1 : t.inserted + c.inserted;
    t.updated = t.updated < 0 || c.updated < 0 ? -1 : t.updated + c.updated;
    t.rejected += c.rejected;
    t.cut += c.cut;
    *ms += p.milliseconds;
  }
  return t;
}

void appendJsonString(std::string& out, const std::string& s) {
  static const char hex[] = "0123456789abcdef";
  out += '"';
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      out += "\\u00";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
}

std::string jsonCount(int64_t n) { return n < 0 ? "null" : std::to_string(n); }

void appendJsonCounts(std::string& out, const MigrationCounts& c, int64_t ms) {
  out += "\"read\": " + std::to_string(c.read) + ", \"inserted\": " + jsonCount(c.inserted) +
         ", \"updated\": " + jsonCount(c.updated) + ", \"written\": " + std::to_string(c.written) +
         ", \"rejected\": " + std::to_string(c.rejected) + ", \"cut\": " + std::to_string(c.cut) +
         ", \"milliseconds\": " + std::to_string(ms);
}

}  // namespace

std::string reportTable(const JobReport& report) {
  std::vector<std::vector<std::string>> cells;
  cells.push_back({"老表", "新表", "读取", "插入", "更新", "拒绝", "截断", "毫秒", "结果"});
  for (const PairReport& p : report.pairs) {
    const MigrationCounts& c = p.counts;
    const bool ran = p.state != PairState::NotRun;
    std::string state = stateText(p.state);
    if (report.options.dryRun && p.state == PairState::Done && !c.checked) state += "（未检查）";
    cells.push_back({p.oldTable, p.newTable, ran ? count(c.read) : "", ran ? count(c.inserted) : "",
                     ran ? count(c.updated) : "", ran ? count(c.rejected) : "",
                     ran ? count(c.cut) : "", ran ? std::to_string(p.milliseconds) : "", state});
  }
  if (report.pairs.size() > 1) {
    int64_t ms = 0;
    MigrationCounts t = totalOf(report, &ms);
    cells.push_back({"合计", "", count(t.read), count(t.inserted), count(t.updated),
                     count(t.rejected), count(t.cut), std::to_string(ms), ""});
  }
  std::vector<size_t> widths(cells[0].size(), 0);
  for (const auto& row : cells)
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], displayWidth(row[i]));
  std::string out;
  if (report.options.dryRun) out += "试运行：没有写入任何行，插入、更新和拒绝的行数是预计的。\n";
  for (const auto& row : cells) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      const bool number = i >= 2 && i + 1 < row.size();
      line += (i ? "  " : "") + padded(row[i], widths[i], number);
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line + "\n";
  }
  return out;
}

std::string reportJson(const JobReport& report) {
  const JobOptions& o = report.options;
  std::string out = "{\n  \"dry_run\": ";
  out += o.dryRun ? "true" : "false";
  out += ",\n  \"mode\": \"";
  out += modeKey(o.mode);
  out += "\",\n  \"on_error\": \"";
  out += o.onRowError == OnRowError::Skip ? "skip" : "stop";
  out += "\",\n  \"rejects_file\": ";
  const bool setAside = o.onRowError == OnRowError::Skip || o.dryRun;
  if (setAside && !o.rejectFile.empty() && report.rejectedRows() > 0)
    appendJsonString(out, o.rejectFile);
  else
    out += "null";
  out += ",\n  \"exit_code\": " + std::to_string(report.exitCode()) + ",\n  \"pairs\": [";
  for (size_t i = 0; i < report.pairs.size(); ++i) {
    const PairReport& p = report.pairs[i];
    out += i ? ",\n    {" : "\n    {";
    out += "\"old_table\": ";
    appendJsonString(out, p.oldTable);
    out += ", \"new_table\": ";
    appendJsonString(out, p.newTable);
    out += ", \"status\": \"";
    out += stateKey(p.state);
    out += "\", ";
    appendJsonCounts(out, p.counts, p.milliseconds);
    out += ", \"checked\": ";
    out += p.counts.checked ? "true" : "false";
    out += ", \"error\": ";
    if (p.error.empty())
      out += "null";
    else
      appendJsonString(out, p.error);
    out += "}";
  }
  int64_t ms = 0;
  MigrationCounts t = totalOf(report, &ms);
  out += report.pairs.empty() ? "],\n  \"totals\": {" : "\n  ],\n  \"totals\": {";
  appendJsonCounts(out, t, ms);
  out += "}";
  if (!report.rejectFileError.empty()) {
    out += ",\n  \"reject_file_error\": ";
    appendJsonString(out, report.rejectFileError);
  }
  out += "\n}\n";
  return out;
}

}  // namespace vov
