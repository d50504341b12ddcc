// FindFirst / FindNext. Equality criteria are answered from a hash index built on first use for
// their set of fields; other criteria are evaluated record by record.
#include <algorithm>

#include "platform/dao/criteria.h"
#include "platform/dao/impl.h"
#include "platform/error.h"

namespace platform::dao {
namespace {

constexpr char kSeparator = '\x1f';

int FieldOf(const RecordsetImpl &rs, const std::string &name) {
    int column = rs.ColumnIndex(name);
    if (column < 0)
        Raise(3070, "The database engine does not recognize '" + name + "' as a valid field name or expression.");
    return column;
}

// The key of a row for a set of columns; nullopt when one of its values is Null.
std::optional<std::string> RowKey(RecordsetImpl &rs, std::int64_t row, const std::vector<int> &columns) {
    std::string key;
    for (int c : columns) {
        auto k = MatchKey(rs.ValueAt(row, c));
        if (!k) return std::nullopt;
        key += *k;
        key += kSeparator;
    }
    return key;
}

// The first position at or after `from` that matches, or -1.
std::int64_t FindFrom(RecordsetImpl &rs, const Criterion &criterion, std::int64_t from) {
    if (auto equalities = criterion.Equalities()) {
        std::vector<int> columns;
        std::string signature, key;
        for (auto &[field, value] : *equalities) {
            columns.push_back(FieldOf(rs, field));
            signature += std::to_string(columns.back()) + ",";
            auto k = MatchKey(value);
            if (!k) return -1;  // "= Null" holds for no record
            key += *k;
            key += kSeparator;
        }
        auto [index, fresh] = rs.indexes.try_emplace(signature);
        if (fresh)
            for (std::int64_t row = 0; row < rs.Size(); ++row)
                if (auto k = RowKey(rs, row, columns)) index->second[*k].push_back(static_cast<std::uint32_t>(row));
        auto hit = index->second.find(key);
        if (hit == index->second.end()) return -1;
        auto &rows = hit->second;
        auto at = std::lower_bound(rows.begin(), rows.end(), static_cast<std::uint32_t>(std::max<std::int64_t>(from, 0)));
        return at == rows.end() ? -1 : static_cast<std::int64_t>(*at);
    }
    for (std::int64_t row = std::max<std::int64_t>(from, 0); row < rs.Size(); ++row)
        if (criterion.Matches([&](const std::string &field) { return rs.ValueAt(row, FieldOf(rs, field)); }))
            return row;
    return -1;
}

RecordsetImpl &Live(const std::shared_ptr<RecordsetImpl> &impl) {
    if (!impl) RaiseNothing();
    if (!impl->db) RaiseClosed();
    return *impl;
}

void Find(RecordsetImpl &rs, std::string_view text, bool next) {
    const Criterion criterion = Criterion::Parse(text);
    const std::int64_t from = next ? (rs.currentDeleted ? rs.pos : rs.pos + 1) : 0;
    const std::int64_t found = FindFrom(rs, criterion, from);
    rs.noMatch = found < 0;
    if (found >= 0) {
        rs.Leave();
        rs.pos = found;
    }
}

}  // namespace

void Recordset::FindFirst(std::string_view criterion) { Find(Live(impl_), criterion, false); }
void Recordset::FindNext(std::string_view criterion) { Find(Live(impl_), criterion, true); }

}  // namespace platform::dao
