// Each row's values go to the server in one select that converts them to
// the types of their columns, bound exactly as the insert binds them, so the
// server's own input functions and domain checks refuse what the insert
// would refuse; an update also asks whether its key finds a row. Lengths of
// character columns and NOT NULL are then checked here, in the order the
// server checks them, with the server's wording. Unique, check
// and foreign-key constraints need the table's rows and are not checked.
#include "data/postgres/pg_row_check.h"

#include "data/postgres/pg_text.h"

namespace vov::pg {

namespace {

struct Column {
  std::string name;
  unsigned type = 0;
  int length = -1;  // declared length of a character column, else -1
  bool notNull = false;
  bool filledByServer = false;  // a default, identity or generated value
  int mapped = -1;              // position among the written columns
};

// Characters beyond `n` that are not all blanks: the server refuses them.
bool tooLong(const std::string& text, int n) {
  size_t chars = 0, i = 0;
  for (; i < text.size(); ++i)
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && chars++ == static_cast<size_t>(n)) break;
  if (i >= text.size()) return false;
  return text.find_first_not_of(' ', i) != std::string::npos;
}

class PgRowCheck : public RowCheck {
 public:
  PgRowCheck(std::shared_ptr<Conn> conn, std::string relation, std::vector<Column> columns,
             std::string sql, std::vector<bool> bytea, bool checkKey, WriteMode mode)
      : conn_(std::move(conn)),
        relation_(std::move(relation)),
        columns_(std::move(columns)),
        bytea_(std::move(bytea)),
        checkKey_(checkKey),
        mode_(mode) {
    name_ = conn_->nextName("vov_s");
    conn_->prepare(name_, sql);
  }

  ~PgRowCheck() override {
    try {
      if (!conn_->lost()) conn_->exec("deallocate " + name_);
    } catch (const Error&) {
      // The name dies with the session anyway.
    }
  }

  std::string check(const std::vector<Value>& row) override {
    conn_->claim(nullptr);
    texts_.assign(row.size(), std::string());
    std::vector<const char*> values(row.size(), nullptr);
    std::vector<int> lengths(row.size(), 0), formats(row.size(), 0);
    for (size_t i = 0; i < row.size(); ++i) {
      const Value& v = row[i];
      if (v.isNull()) continue;
      if (v.kind() == Value::Kind::Bytes && bytea_[i]) {
        values[i] = v.str().data();
        lengths[i] = static_cast<int>(v.str().size());
        formats[i] = 1;
        continue;
      }
      if (!appendParamText(v, texts_[i]))
        return "文本中含有零字符（\\0），PostgreSQL 不能保存这样的文本";
      values[i] = texts_[i].c_str();
    }
    conn_->sent(PQsendQueryPrepared(conn_->pg(), name_.c_str(), static_cast<int>(row.size()),
                                    values.data(), lengths.data(), formats.data(), 0));
    Result r = conn_->nextResult();
    conn_->drain();
    ExecStatusType st = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
    if (st != PGRES_TUPLES_OK) {
      if (conn_->lost()) conn_->fail(r.get());
      return conn_->message(r.get());
    }
    for (const Column& c : columns_)
      if (c.mapped >= 0 && c.length >= 0 && !row[static_cast<size_t>(c.mapped)].isNull() &&
          tooLong(texts_[static_cast<size_t>(c.mapped)], c.length))
        return "value too long for type " +
               std::string(c.type == kVarchar ? "character varying" : "character") + "(" +
               std::to_string(c.length) + ")";
    // An update converts its values before it looks for the row (the statement
    // runs with custom plans), and checks NOT NULL only on a row it found.
    if (checkKey_ && std::string(PQgetvalue(r.get(), 0, PQnfields(r.get()) - 1)) != "t")
      return kNoRowToUpdate;
    for (const Column& c : columns_) {
      if (!c.notNull) continue;
      bool null = c.mapped >= 0 ? row[static_cast<size_t>(c.mapped)].isNull()
                                : mode_ != WriteMode::Update && !c.filledByServer;
      if (null)
        return "null value in column \"" + c.name + "\" of relation \"" + relation_ +
               "\" violates not-null constraint";
    }
    return std::string();
  }

 private:
  std::shared_ptr<Conn> conn_;
  std::string relation_;
  std::vector<Column> columns_;
  std::vector<bool> bytea_;
  bool checkKey_;
  WriteMode mode_;
  std::string name_;
  std::vector<std::string> texts_;
};

}  // namespace

std::unique_ptr<RowCheck> makeRowCheck(const std::shared_ptr<Conn>& conn, const RowWrite& w) {
  std::unique_ptr<RowCheck> check;
  conn->fenced([&] {
    // The table as the statement names it: its quoted name on the search path.
    Result rel = conn->run(
        "select c.oid, c.relname from pg_catalog.pg_class c "
        "where c.oid = pg_catalog.to_regclass($1) and c.relkind in ('r', 'p')",
        {Value::fromText(quoteIdent(w.table))});
    if (PQntuples(rel.get()) == 0) return;
    const std::string oid = PQgetvalue(rel.get(), 0, 0);
    const std::string relation = PQgetvalue(rel.get(), 0, 1);
    Result cols = conn->run(
        "select a.attname, a.atttypid, a.atttypmod, a.attnotnull, "
        "a.atthasdef or a.attidentity <> '' or a.attgenerated <> '', "
        "pg_catalog.format_type(a.atttypid, a.atttypmod) "
        "from pg_catalog.pg_attribute a where a.attrelid = $1::oid and a.attnum > 0 "
        "and not a.attisdropped order by a.attnum",
        {Value::fromText(oid)});
    std::vector<Column> columns;
    std::vector<std::string> casts(w.columns.size());
    std::vector<bool> bytea(w.columns.size(), false);
    for (int row = 0; row < PQntuples(cols.get()); ++row) {
      Column c;
      c.name = PQgetvalue(cols.get(), row, 0);
      c.type = static_cast<unsigned>(std::stoul(PQgetvalue(cols.get(), row, 1)));
      const int typmod = std::stoi(PQgetvalue(cols.get(), row, 2));
      c.notNull = std::string(PQgetvalue(cols.get(), row, 3)) == "t";
      c.filledByServer = std::string(PQgetvalue(cols.get(), row, 4)) == "t";
      // The statement's quoted names match exactly.
      for (size_t i = 0; i < w.columns.size(); ++i)
        if (w.columns[i] == c.name) c.mapped = static_cast<int>(i);
      const bool character = c.type == kVarchar || c.type == kBpchar;
      if (character && typmod >= 4) c.length = typmod - 4;
      if (c.mapped >= 0) {
        // A cast to a character type of a length cuts instead of refusing,
        // so lengths are checked apart.
        casts[static_cast<size_t>(c.mapped)] =
            character ? "pg_catalog.text" : PQgetvalue(cols.get(), row, 5);
        bytea[static_cast<size_t>(c.mapped)] = c.type == kBytea;
      }
      columns.push_back(std::move(c));
    }
    std::string sql = "select ";
    for (size_t i = 0; i < casts.size(); ++i) {
      // A column the table does not have: preparing the statement says so.
      if (casts[i].empty()) return;
      sql += (i ? ", $" : "$") + std::to_string(i + 1) + "::" + casts[i];
    }
    const bool checkKey = w.mode == WriteMode::Update;
    if (checkKey) {
      sql += ", exists (select 1 from " + quoteIdent(w.table) + " where ";
      for (size_t j = 0; j < w.key.size(); ++j)
        sql += (j ? " and " : "") + quoteIdent(w.columns[w.key[j]]) + " = $" +
               std::to_string(w.key[j] + 1);
      sql += ")";
    }
    check = std::make_unique<PgRowCheck>(conn, relation, std::move(columns), sql,
                                         std::move(bytea), checkKey, w.mode);
  });
  return check;
}

}  // namespace vov::pg
