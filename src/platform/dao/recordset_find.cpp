// FindFirst. Equality criteria are answered from an index built on first use for their
// set of fields; other criteria are evaluated record by record. A criterion is parsed once for its
// shape (the text without its literal values), so a run of finds that differ only in their values
// parses nothing again.
#include <algorithm>
#include <bit>
#include <functional>

#include "platform/dao/criteria.h"
#include "platform/dao/impl.h"
#include "platform/error.h"

namespace platform::dao {

// The parsed criterion of one shape, refilled with each text's values, and what its equalities need.
struct FindPlan {
    std::string shape;
    Criterion criterion;
    bool equalities = false;
    std::vector<const Criterion *> equal;  // the "field = value" parts, by field name
    std::vector<int> columns;              // their columns
    std::string signature;
};

namespace {

constexpr char kSeparator = '\x1f';

int FieldOf(const RecordsetImpl &rs, const std::string &name) {
    int column = rs.ColumnIndex(name);
    if (column < 0)
        Raise(3070, "The database engine does not recognize '" + name + "' as a valid field name or expression.");
    return column;
}

std::uint32_t Hash(const std::string &key) {
    const std::uint64_t h = std::hash<std::string>{}(key);
    return static_cast<std::uint32_t>(h ^ (h >> 32));
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

EqualityIndex BuildIndex(RecordsetImpl &rs, const std::vector<int> &columns) {
    EqualityIndex index;
    index.entries.reserve(static_cast<std::size_t>(rs.Size()));
    for (std::int64_t row = 0; row < rs.Size(); ++row)
        if (auto k = RowKey(rs, row, columns)) index.entries.push_back({Hash(*k), static_cast<std::uint32_t>(row)});
    index.entries.shrink_to_fit();
    std::sort(index.entries.begin(), index.entries.end());
    index.bits = std::clamp(static_cast<int>(std::bit_width(index.entries.size())) - 1, 1, 24);
    index.directory.assign((std::size_t{1} << index.bits) + 1, 0);
    std::size_t at = 0;
    for (std::size_t b = 0; b + 1 < index.directory.size(); ++b) {
        while (at < index.entries.size() && (index.entries[at].hash >> (32 - index.bits)) < b) ++at;
        index.directory[b] = static_cast<std::uint32_t>(at);
    }
    index.directory.back() = static_cast<std::uint32_t>(index.entries.size());
    return index;
}

// The first position whose key is `key`, or -1.
std::int64_t Lookup(RecordsetImpl &rs, const EqualityIndex &index, const std::vector<int> &columns,
                    const std::string &key) {
    const std::uint32_t hash = Hash(key);
    const std::size_t bucket = hash >> (32 - index.bits);
    const auto first = index.entries.begin() + index.directory[bucket];
    const auto last = index.entries.begin() + index.directory[bucket + 1];
    const EqualityIndex::Entry probe{hash, 0};
    for (auto it = std::lower_bound(first, last, probe); it != last && it->hash == hash; ++it)
        if (RowKey(rs, it->row, columns) == key) return it->row;  // the same hash of another key is passed over
    return -1;
}

// The first position that matches, or -1.
std::int64_t FirstMatch(RecordsetImpl &rs, const FindPlan &plan) {
    if (plan.equalities) {
        std::string key;
        for (const Criterion *c : plan.equal) {
            auto k = MatchKey(c->value);
            if (!k) return -1;  // "= Null" holds for no record
            key += *k;
            key += kSeparator;
        }
        auto [index, fresh] = rs.indexes.try_emplace(plan.signature);
        if (fresh) index->second = BuildIndex(rs, plan.columns);
        if (index->second.entries.empty()) return -1;
        return Lookup(rs, index->second, plan.columns, key);
    }
    for (std::int64_t row = 0; row < rs.Size(); ++row)
        if (plan.criterion.Matches([&](const std::string &field) { return rs.ValueAt(row, FieldOf(rs, field)); }))
            return row;
    return -1;
}

// Collects the "field = value" parts of a criterion made only of them, joined by "and".
bool CollectEqualities(const Criterion &c, std::vector<const Criterion *> &out) {
    if (c.op == Criterion::Op::Compare && c.comparison == "=") {
        out.push_back(&c);
        return true;
    }
    if (c.op != Criterion::Op::And) return false;
    return std::all_of(c.parts.begin(), c.parts.end(), [&](const Criterion &p) { return CollectEqualities(p, out); });
}

std::shared_ptr<FindPlan> MakePlan(RecordsetImpl &rs, Criterion criterion, std::string shape) {
    auto plan = std::make_shared<FindPlan>();
    plan->shape = std::move(shape);
    plan->criterion = std::move(criterion);
    plan->equalities = CollectEqualities(plan->criterion, plan->equal);
    if (plan->equalities) {
        // In column order, so that every criterion on the same fields shares one index.
        std::vector<std::pair<int, const Criterion *>> byColumn;
        for (const Criterion *c : plan->equal) byColumn.emplace_back(FieldOf(rs, c->field), c);
        std::stable_sort(byColumn.begin(), byColumn.end(),
                         [](const auto &a, const auto &b) { return a.first < b.first; });
        plan->equal.clear();
        for (const auto &[column, c] : byColumn) {
            plan->columns.push_back(column);
            plan->equal.push_back(c);
            plan->signature += std::to_string(column) + ",";
        }
    }
    return plan;
}

// The plan for a criterion text: the last one again when the text has its shape, refilled.
const FindPlan &PlanFor(RecordsetImpl &rs, std::string_view text) {
    thread_local std::string shape;
    thread_local std::vector<jet::Token> literals;
    if (!jet::Shape(text, shape, literals)) {
        rs.findPlan = MakePlan(rs, Criterion::Parse(text), {});  // a #date#: parsed as it stands
        return *rs.findPlan;
    }
    if (!rs.findPlan || rs.findPlan->shape.empty() || rs.findPlan->shape != shape)
        rs.findPlan = MakePlan(rs, Criterion::ParseShape(shape, text), shape);
    rs.findPlan->criterion.Fill(literals);
    return *rs.findPlan;
}

}  // namespace

void Recordset::FindFirst(std::string_view criterion) {
    auto &rs = Live(impl_);
    const std::int64_t found = FirstMatch(rs, PlanFor(rs, criterion));
    rs.noMatch = found < 0;
    if (found >= 0) {
        rs.Leave();
        rs.pos = found;
    }
}

}  // namespace platform::dao
