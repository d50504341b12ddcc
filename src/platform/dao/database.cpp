// Database: statements and recordsets on one open file.
#include <cstdlib>

#include "platform/dao/impl.h"
#include "platform/dao/jet_sql.h"
#include "platform/error.h"

namespace platform::dao {

void DatabaseImpl::Close() {
    for (auto &w : recordsets)
        if (auto rs = w.lock()) rs->Close();
    recordsets.clear();
    conn.reset();
}

namespace {

void BindLiteral(sqlite3_stmt *st, int index, const jet::Token &t) {
    if (t.kind == jet::TokenKind::Text) {
        sqlite3_bind_text(st, index, t.value.data(), static_cast<int>(t.value.size()), SQLITE_TRANSIENT);
        return;
    }
    const std::string &s = t.value;
    if (s.find_first_of(".eE") == std::string::npos) {
        errno = 0;
        char *end = nullptr;
        long long v = std::strtoll(s.c_str(), &end, 10);
        if (errno == 0 && *end == '\0') {
            sqlite3_bind_int64(st, index, v);
            return;
        }
    }
    sqlite3_bind_double(st, index, std::strtod(s.c_str(), nullptr));
}

DatabaseImpl &Open(const std::shared_ptr<DatabaseImpl> &impl) {
    if (!impl) RaiseNothing();
    if (!impl->conn) RaiseClosed();
    return *impl;
}

}  // namespace

// Defined in recordset_load.cpp.
std::shared_ptr<RecordsetImpl> LoadRecordset(const std::shared_ptr<DatabaseImpl> &db, const std::string &jetText,
                                             RecordsetType type, int options);

void Database::Execute(std::string_view sql) {
    DatabaseImpl &db = Open(impl_);
    const std::string jetText(sql);
    thread_local std::vector<jet::Token> params;
    const std::shared_ptr<const jet::Statement> st = jet::TranslateShared(jetText, params);
    Connection &conn = db.Conn();
    Stmt stmt = conn.Prepare(st->sql, jetText);
    for (size_t i = 0; i < params.size(); ++i) BindLiteral(stmt.get(), static_cast<int>(i + 1), params[i]);
    const bool reads = sqlite3_stmt_readonly(stmt.get()) != 0;
    if (reads && sqlite3_column_count(stmt.get()) > 0) Raise(3065, "Cannot execute a select query.");
    if (!reads) {
        if (db.readOnly) Raise(3027);
        conn.BeforeWrite();
    }
    while (stmt.Step(jetText)) {
    }
    db.affected = sqlite3_changes64(conn.db());
}

void Database::LockForWriting() {
    DatabaseImpl &db = Open(impl_);
    if (db.readOnly) Raise(3027);
    db.Conn().BeforeWrite();
}

std::int64_t Database::RecordsAffected() const { return Open(impl_).affected; }

Recordset Database::OpenRecordset(std::string_view source, RecordsetType type, int options) {
    Open(impl_);
    Recordset rs;
    rs.impl_ = LoadRecordset(impl_, jet::SourceToSql(source), type, options);
    impl_->recordsets.push_back(rs.impl_);
    std::erase_if(impl_->recordsets, [](auto &w) { return w.expired(); });
    return rs;
}

struct QueryDefImpl {
    std::shared_ptr<DatabaseImpl> db;
    std::string jetText;
    std::string sql;                  // translated
    std::vector<Variant> parameters;  // one for each "?"
    std::vector<std::string> texts;   // the bound texts of the last Execute
};

QueryDef Database::CreateQueryDef(std::string_view sql) {
    DatabaseImpl &db = Open(impl_);
    auto q = std::make_shared<QueryDefImpl>();
    q->db = impl_;
    q->jetText = std::string(sql);
    const jet::Statement st0 = jet::Translate(q->jetText);
    if (!st0.params.empty()) Raise(3001, "Invalid argument.");  // its parameters would be taken for the literals
    q->sql = st0.sql;
    Stmt st = db.Conn().Prepare(q->sql, q->jetText);  // a statement that cannot be prepared fails here
    q->parameters.resize(static_cast<size_t>(sqlite3_bind_parameter_count(st.get())));
    q->texts.resize(q->parameters.size());
    QueryDef qd;
    qd.impl_ = std::move(q);
    return qd;
}

void QueryDef::SetParameter(int index, Variant value) {
    if (!impl_) RaiseNothing();
    if (index < 0 || static_cast<size_t>(index) >= impl_->parameters.size()) Raise(3265);
    impl_->parameters[static_cast<size_t>(index)] = std::move(value);
}

void QueryDef::Execute() {
    if (!impl_) RaiseNothing();
    QueryDefImpl &q = *impl_;
    DatabaseImpl &db = Open(q.db);
    Connection &conn = db.Conn();
    Stmt st = conn.Prepare(q.sql, q.jetText);
    for (size_t i = 0; i < q.parameters.size(); ++i)
        BindVariant(st.get(), static_cast<int>(i + 1), q.parameters[i], q.texts[i]);
    if (!sqlite3_stmt_readonly(st.get())) {
        if (db.readOnly) Raise(3027);
        conn.BeforeWrite();
    }
    while (st.Step(q.jetText)) {
    }
    db.affected = sqlite3_changes64(conn.db());
}

void Database::Close() { Open(impl_).Close(); }

}  // namespace platform::dao
