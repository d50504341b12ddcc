// Opening a recordset: a snapshot keeps its rows, an updatable dynaset keeps the rowids of its rows.
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
        c.name = sqlite3_column_name(st, i);
        c.lower = Lower(c.name);
        c.isDate = DateDeclared(sqlite3_column_decltype(st, i));
        const char *origin = sqlite3_column_origin_name(st, i);
        const char *from = sqlite3_column_table_name(st, i);
        c.updatable = origin && from && Lower(from) == Lower(table);
        if (c.updatable) c.tableColumn = origin;
        cols.push_back(std::move(c));
    }
    return cols;
}

}  // namespace

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
    Stmt all = conn.Prepare(st.sql, jetText);
    const int count = sqlite3_column_count(all.get());
    rs->columns = Columns(all.get(), 0, {});
    while (all.Step(jetText)) rs->rows.Append(all.get(), 0, count);
    return rs;
}

}  // namespace platform::dao
