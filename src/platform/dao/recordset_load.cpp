// Opening a recordset: a snapshot keeps its rows, an updatable dynaset keeps the rowids of its rows.
// A snapshot's rows are read as first needed, under the read transaction its first row opened (one
// only counted is counted by a count(*) of its statement; a write of the file by this process reads
// pending snapshots out first); an append-only dynaset reads and keeps no rows.
#include <cctype>

#include "platform/dao/impl.h"
#include "platform/ascii.h"
#include "platform/dao/jet_sql.h"
#include "platform/error.h"

namespace platform::dao {
namespace {

bool DateDeclared(const char *decl) {
    if (!decl) return false;
    const std::string d = Lower(decl);
    return d.find("date") != std::string::npos || d.find("time") != std::string::npos;
}

std::vector<Column> Columns(sqlite3_stmt *st, int first, const std::string &table) {
    std::vector<Column> cols;
    for (int i = first; i < sqlite3_column_count(st); ++i) {
        Column c;
        c.lower = Lower(sqlite3_column_name(st, i));
        c.isDate = DateDeclared(sqlite3_column_decltype(st, i));
        const char *origin = sqlite3_column_origin_name(st, i);
        const char *from = sqlite3_column_table_name(st, i);
        c.updatable = origin && from && Lower(from) == Lower(table);
        if (c.updatable) c.tableColumn = origin;
        cols.push_back(std::move(c));
    }
    return cols;
}

// A result of up to this many rows is read whole when counted, rather than counted by SQLite.
constexpr std::size_t kReadAhead = 256;

// Snapshots whose statements are still open, to be read out before this process writes their file.
std::vector<std::weak_ptr<RecordsetImpl>> &Unsettled() {
    static std::vector<std::weak_ptr<RecordsetImpl>> list;
    return list;
}

// The statement without what may follow its end, so that it can stand inside parentheses.
std::string Bare(std::string sql) {
    while (!sql.empty() && (std::isspace(static_cast<unsigned char>(sql.back())) || sql.back() == ';'))
        sql.pop_back();
    return sql;
}

}  // namespace

void RecordsetImpl::ReadRest() const {
    // Taken first: a failing step ends the statement, and the snapshot is left without rows rather
    // than with some of them.
    const std::unique_ptr<PendingRows> p = std::move(pending);
    try {
        while (p->stmt.Step(p->jetText)) rows.Append(p->stmt.get(), 0, p->columnCount);
    } catch (...) {
        rows.Clear();
        throw;
    }
}

std::int64_t RecordsetImpl::Count() {
    if (!pending) return Size();
    PendingRows &p = *pending;
    if (p.counted >= 0) return p.counted;
    while (rows.Size() < kReadAhead) {
        if (!p.stmt.Step(p.jetText)) {
            pending.reset();
            return static_cast<std::int64_t>(rows.Size());
        }
        rows.Append(p.stmt.get(), 0, p.columnCount);
    }
    // On the same connection, while the statement holds its read transaction: the same rows.
    try {
        Stmt count = Conn().Prepare("SELECT count(*) FROM (" + Bare(p.sql) + "\n)", p.jetText);
        count.Step(p.jetText);
        p.counted = sqlite3_column_int64(count.get(), 0);
    } catch (const Error &) {
        return Size();  // a statement that cannot be counted this way: its rows are read
    }
    return p.counted;
}

void SettleReadsOf(const FileId &file) {
    auto &list = Unsettled();
    if (list.empty()) return;
    std::vector<std::shared_ptr<RecordsetImpl>> due;
    std::erase_if(list, [&](const std::weak_ptr<RecordsetImpl> &w) {
        auto rs = w.lock();
        if (!rs || !rs->pending) return true;
        if (rs->Conn().Id() != file) return false;
        due.push_back(std::move(rs));
        return true;
    });
    for (auto &rs : due)
        if (rs->pending) rs->ReadRest();
}

std::shared_ptr<RecordsetImpl> LoadRecordset(const std::shared_ptr<DatabaseImpl> &db, const std::string &jetText,
                                             RecordsetType type, int options) {
    const jet::Statement st = jet::Translate(jetText);
    if (st.verb != "select") Raise(3219, "Invalid operation.");
    const bool appendOnly = (options & dbAppendOnly) != 0;
    if ((options & ~dbAppendOnly) != 0 || (appendOnly && (type != dbOpenDynaset || !st.singleTable || db->readOnly)))
        Raise(3001, "Invalid argument.");
    Connection &conn = db->Conn();
    auto rs = std::make_shared<RecordsetImpl>();
    rs->db = db;
    rs->type = type;

    if (type == dbOpenDynaset && st.singleTable && !db->readOnly) {
        std::optional<Stmt> keyed;
        try {
            keyed.emplace(conn.Prepare(st.withRowid, jetText));
        } catch (const Error &e) {
            if (e.number != 3061 || appendOnly) throw;  // no rowid (a view): read-only rows as a snapshot below
        }
        if (keyed) {
            rs->updatable = true;
            rs->appendOnly = appendOnly;
            rs->table = st.table;
            rs->fetchSql = st.fetchOne;
            rs->columns = Columns(keyed->get(), 1, st.table);
            while (!appendOnly && keyed->Step(jetText)) rs->rowids.push_back(sqlite3_column_int64(keyed->get(), 0));
            return rs;
        }
    }
    // The first row is read now, which opens the read transaction the later rows are read under.
    auto pending = std::make_unique<PendingRows>(PendingRows{conn.Prepare(st.sql, jetText), jetText, st.sql});
    sqlite3_stmt *all = pending->stmt.get();
    pending->columnCount = sqlite3_column_count(all);
    rs->columns = Columns(all, 0, {});
    if (pending->stmt.Step(jetText)) {
        rs->rows.Append(all, 0, pending->columnCount);
        rs->pending = std::move(pending);
        Unsettled().push_back(rs);
    }
    return rs;
}

}  // namespace platform::dao
