// BatchInsert: rows added to a table by prepared inserts of many rows at a time.
#include <optional>
#include <utility>

#include "platform/dao/dao.h"
#include "platform/error.h"

namespace platform::dao {

struct BatchInsertImpl {
    Database db;
    std::string table;                 // as Jet SQL writes it, in brackets
    std::string columns;               // the insert's column list
    int width = 0;                     // columns a row
    int perStatement = 0;
    std::vector<Variant> pending;      // the rows not inserted yet, row after row
    int count = 0;                     // ... their number
    std::int64_t rows = 0;
    std::optional<std::int64_t> before;  // the table's last rowid before the first row
    QueryDef many, one;
    bool leaveOutRefused = false;

    // Inserts the `rowCount` pending rows from `first` by `q`; the values are kept while a refused row
    // may still have to be tried alone.
    void Run(QueryDef &q, int first, int rowCount) {
        for (int i = 0; i < rowCount * width; ++i) {
            Variant &v = pending[static_cast<std::size_t>(first * width + i)];
            q.SetParameter(i, leaveOutRefused ? Variant(v) : std::move(v));
        }
        q.Execute();
    }
    // Runs the statement of `rowCount` rows from `first`; when the table refuses a row of it, each row
    // goes in alone and a refused one is left out.
    void RunLeavingOutRefused(QueryDef &q, int first, int rowCount) {
        try {
            Run(q, first, rowCount);
        } catch (const Error &e) {
            if (!leaveOutRefused || !RefusesValues(e)) throw;
            if (rowCount == 1) {
                --rows;
                return;
            }
            for (int r = first; r < first + rowCount; ++r) RunLeavingOutRefused(one, r, 1);
        }
    }
    // The failures of a row's own values: a type or size the column cannot take, a constraint broken.
    static bool RefusesValues(const Error &e) {
        return e.number == 13 || e.number == 6 || e.number == 3022 || e.number == 3314;
    }

    std::int64_t Scalar(const std::string &sql) {
        Recordset rs = db.OpenRecordset(sql, dbOpenSnapshot);
        const Variant v = rs.Fields("n");
        rs.Close();
        return v.IsNull() ? 0 : v.ToLong();
    }
    QueryDef Insert(int rowCount) {
        std::string row = "(";
        for (int c = 0; c < width; ++c) row += c ? ", ?" : "?";
        row += ")";
        std::string sql = "insert into " + table + " (" + columns + ") values ";
        for (int r = 0; r < rowCount; ++r) sql += (r ? ", " : "") + row;
        return db.CreateQueryDef(sql);
    }
};

BatchInsert::BatchInsert(Database db, std::string_view table, const std::vector<std::string> &columns,
                         int perStatement)
    : impl_(std::make_shared<BatchInsertImpl>()) {
    BatchInsertImpl &b = *impl_;
    b.db = std::move(db);
    b.table = "[" + std::string(table) + "]";
    for (const std::string &c : columns) b.columns += (b.columns.empty() ? "[" : ", [") + c + "]";
    b.width = static_cast<int>(columns.size());
    b.perStatement = perStatement;
    b.pending.resize(static_cast<std::size_t>(b.width * perStatement));
    b.one = b.Insert(1);  // a table or column that is not there fails here
}

void BatchInsert::Set(int column, Variant value) {
    BatchInsertImpl &b = *impl_;
    if (column < 0 || column >= b.width) Raise(3265);
    b.pending[static_cast<std::size_t>(b.count * b.width + column)] = std::move(value);
}

void BatchInsert::AddRow() {
    BatchInsertImpl &b = *impl_;
    if (!b.before) b.before = b.Scalar("select max(rowid) as n from " + b.table);
    ++b.rows;
    if (++b.count == b.perStatement) Flush();
}

void BatchInsert::Flush() {
    BatchInsertImpl &b = *impl_;
    if (b.count == b.perStatement && !b.many) b.many = b.Insert(b.perStatement);
    QueryDef &q = b.count == b.perStatement ? b.many : b.one;
    const int rowsAStatement = b.count == b.perStatement ? b.perStatement : 1;
    const int count = std::exchange(b.count, 0);  // a raised failure leaves no row pending
    for (int r = 0; r < count; r += rowsAStatement) b.RunLeavingOutRefused(q, r, rowsAStatement);
}

void BatchInsert::LeaveOutRefusedRows() { impl_->leaveOutRefused = true; }

std::int64_t BatchInsert::Rows() const { return impl_->rows; }

std::pair<std::int64_t, std::int64_t> BatchInsert::RowidRange() {
    BatchInsertImpl &b = *impl_;
    Flush();
    if (b.rows == 0) return {0, -1};
    return {b.Scalar("select min(rowid) as n from " + b.table + " where rowid > " + std::to_string(*b.before)),
            b.Scalar("select max(rowid) as n from " + b.table)};
}

}  // namespace platform::dao
