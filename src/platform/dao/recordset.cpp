// Recordset: position, movement and field values.
#include <cctype>

#include "platform/dao/impl.h"
#include "platform/error.h"

namespace platform::dao {
namespace {

bool SameName(std::string_view lower, std::string_view name) {
    if (lower.size() != name.size()) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        const char c = name[i] >= 'A' && name[i] <= 'Z' ? static_cast<char>(name[i] + ('a' - 'A')) : name[i];
        if (lower[i] != c) return false;
    }
    return true;
}

}  // namespace

RecordsetImpl &Live(const std::shared_ptr<RecordsetImpl> &impl) {
    if (!impl) RaiseNothing();
    if (!impl->db) RaiseClosed();
    return *impl;
}

void RecordsetImpl::RequireCurrent() const {
    if (!HasCurrent()) Raise(3021);
}

int RecordsetImpl::ColumnIndex(std::string_view name) const {
    for (size_t i = 0; i < columns.size(); ++i)
        if (SameName(columns[i].lower, name)) return static_cast<int>(i);
    return -1;
}

Variant RecordsetImpl::ValueAt(std::int64_t row, int column) {
    if (!updatable) return ToVariant(rows.At(static_cast<size_t>(row), column), columns[column].isDate);
    if (currentPos != row) {
        // A dynaset reads its record afresh by rowid, so it shows what is saved now.
        Stmt st = Conn().Prepare(fetchSql, fetchSql);
        sqlite3_bind_int64(st.get(), 1, rowids[static_cast<size_t>(row)]);
        if (!st.Step(fetchSql)) Raise(3167, "Record is deleted.");
        current.clear();
        for (size_t c = 0; c < columns.size(); ++c)
            current.push_back(ColumnVariant(st.get(), static_cast<int>(c), columns[c].isDate));
        currentPos = row;
    }
    return current[static_cast<size_t>(column)];
}

Variant RecordsetImpl::Get(int column) {
    if (mode == Mode::Add) return buffer[column] ? *buffer[column] : Variant();
    RequireCurrent();
    if (mode == Mode::Edit && buffer[column]) return *buffer[column];
    return ValueAt(pos, column);
}

void RecordsetImpl::Leave() {
    mode = Mode::None;
    buffer.clear();
}

void RecordsetImpl::Close() {
    pending.reset();
    rows.Clear();
    rowids = {};
    current = {};
    indexes.clear();
    findPlan.reset();
    db.reset();
}

std::int64_t Recordset::RecordCount() const { return Live(impl_).Count(); }
bool Recordset::Eof() const {
    auto &rs = Live(impl_);
    return rs.pos >= rs.Size();
}

void Recordset::MoveNext() {
    auto &rs = Live(impl_);
    if (rs.pos >= rs.Size()) Raise(3021);
    rs.Leave();
    ++rs.pos;
}

void Recordset::MoveFirst() {
    auto &rs = Live(impl_);
    if (rs.Size() == 0) Raise(3021);
    rs.Leave();
    rs.pos = 0;
}

// Standing on the last record needs its position only: a snapshot's rows are not read for it.
void Recordset::MoveLast() {
    auto &rs = Live(impl_);
    const std::int64_t count = rs.Count();
    if (count == 0) Raise(3021);
    rs.Leave();
    rs.pos = count - 1;
}

void Recordset::SetAbsolutePosition(std::int64_t position) {
    auto &rs = Live(impl_);
    if (position < 0 || position >= rs.Size()) Raise(3021);
    rs.Leave();
    rs.pos = position;
}

FieldRef Recordset::Fields(std::string_view name) {
    auto &rs = Live(impl_);
    const int column = rs.ColumnIndex(name);
    if (column < 0) Raise(3265);
    return FieldRef(impl_, column);
}

bool Recordset::NoMatch() const { return Live(impl_).noMatch; }

void Recordset::Close() {
    Live(impl_).Close();
}

Variant FieldRef::Value() const { return Live(rs_).Get(column_); }

bool FieldRef::Is(const Variant &value) const {
    RecordsetImpl &rs = Live(rs_);
    if (rs.updatable || rs.mode != RecordsetImpl::Mode::None || rs.columns[column_].isDate) return rs.Get(column_) == value;
    rs.RequireCurrent();
    const Cell cell = rs.rows.At(static_cast<size_t>(rs.pos), column_);
    switch (cell.type) {  // as ToVariant makes the value
    case SQLITE_INTEGER: return value.kind() == Variant::Kind::Long && value.ToLong() == cell.i;
    case SQLITE_FLOAT: return value.kind() == Variant::Kind::Double && value.ToDouble() == cell.d;
    case SQLITE_NULL: return value.IsNull();
    default: return value.kind() == Variant::Kind::Text && value.TextView() == cell.s;
    }
}

}  // namespace platform::dao
