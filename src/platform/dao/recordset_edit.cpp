// Dynaset changes: each Update is written at once, addressed by rowid.
#include "platform/dao/impl.h"
#include "platform/dao/jet_sql.h"
#include "platform/error.h"

namespace platform::dao {
namespace {

RecordsetImpl &Writable(const std::shared_ptr<RecordsetImpl> &impl) {
    RecordsetImpl &rs = Live(impl);
    if (!rs.updatable || rs.db->readOnly) Raise(3027);
    return rs;
}

// The INSERT or UPDATE (by rowid) of the columns assigned in the edit buffer; "" for an Edit that
// assigned nothing.
std::string ChangeSql(const RecordsetImpl &rs, bool adding) {
    std::string names, values, sets;
    for (size_t c = 0; c < rs.columns.size(); ++c) {
        if (!rs.buffer[c]) continue;
        const std::string name = jet::QuoteName(rs.columns[c].tableColumn);
        names += (names.empty() ? "" : ", ") + name;
        values += values.empty() ? "?" : ", ?";
        sets += (sets.empty() ? "" : ", ") + name + " = ?";
    }
    const std::string table = jet::QuoteName(rs.table);
    if (adding)
        return names.empty() ? "INSERT INTO " + table + " DEFAULT VALUES"
                             : "INSERT INTO " + table + " (" + names + ") VALUES (" + values + ")";
    return sets.empty() ? std::string() : "UPDATE " + table + " SET " + sets + " WHERE rowid = ?";
}

void Written(RecordsetImpl &rs) {
    rs.currentPos = -1;  // read again when next asked
    rs.indexes.clear();
}

}  // namespace

void Recordset::Edit() {
    auto &rs = Writable(impl_);
    rs.RequireCurrent();
    rs.mode = RecordsetImpl::Mode::Edit;
    rs.buffer.assign(rs.columns.size(), std::nullopt);
}

void Recordset::AddNew() {
    auto &rs = Writable(impl_);
    rs.mode = RecordsetImpl::Mode::Add;
    rs.buffer.assign(rs.columns.size(), std::nullopt);
}

FieldRef &FieldRef::operator=(const Variant &value) {
    RecordsetImpl &rs = Live(rs_);
    const int column = column_;
    if (rs.mode == RecordsetImpl::Mode::None) Raise(3020, "Update or CancelUpdate without AddNew or Edit.");
    if (!rs.columns[column].updatable) Raise(3164, "Field cannot be updated.");
    rs.buffer[column] = value;
    return *this;
}

void Recordset::Update() {
    auto &rs = Writable(impl_);
    if (rs.mode == RecordsetImpl::Mode::None) Raise(3020, "Update or CancelUpdate without AddNew or Edit.");
    const bool adding = rs.mode == RecordsetImpl::Mode::Add;
    std::string assigned(adding ? "a" : "e");
    for (size_t c = 0; c < rs.columns.size(); ++c) assigned += rs.buffer[c] ? '1' : '0';
    auto [cached, fresh] = rs.updateSql.try_emplace(assigned);
    if (fresh) cached->second = ChangeSql(rs, adding);
    const std::string &sql = cached->second;
    if (!sql.empty()) {
        Connection &conn = rs.Conn();
        // Texts are bound without a copy from here; they stay put until the next Update.
        thread_local std::vector<std::string> texts;
        if (texts.size() < rs.columns.size()) texts.resize(rs.columns.size());
        Stmt st = conn.Prepare(sql, sql);
        int i = 1;
        for (size_t c = 0; c < rs.columns.size(); ++c)
            if (rs.buffer[c]) BindVariant(st.get(), i++, *rs.buffer[c], texts[c]);
        if (!adding) sqlite3_bind_int64(st.get(), i, rs.rowids[static_cast<size_t>(rs.pos)]);
        conn.BeforeWrite();
        st.Step(sql);
        if (!adding && sqlite3_changes(conn.db()) == 0) Raise(3167, "Record is deleted.");
        if (adding && !rs.appendOnly) rs.rowids.push_back(sqlite3_last_insert_rowid(conn.db()));
    }
    rs.mode = RecordsetImpl::Mode::None;
    rs.buffer.clear();
    Written(rs);
}

}  // namespace platform::dao
