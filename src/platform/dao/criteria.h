#pragma once
// FindFirst/FindNext criteria: comparisons of a field with a number, a 'text' or a #date#, joined by
// and / or / not, with parentheses; "is null" and "is not null".
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dao/variant.h"

namespace platform::dao {

struct Criterion {
    enum class Op { Compare, And, Or, Not, IsNull, NotNull };
    Op op = Op::Compare;
    std::string field;
    std::string comparison;  // = <> < > <= >=
    Variant value;
    std::vector<Criterion> parts;

    // Raises 3075 naming the text when it is no criterion.
    static Criterion Parse(std::string_view text);

    // Field/value pairs when the criterion is only equalities joined by "and", sorted by field.
    std::optional<std::vector<std::pair<std::string, Variant>>> Equalities() const;

    bool Matches(const std::function<Variant(const std::string &field)> &valueOf) const;
};

// The hash key of a value for equality look-ups: equal keys exactly when Jet's "=" holds
// (numbers by value, texts without regard to case, dates by instant); nullopt for Null.
std::optional<std::string> MatchKey(const Variant &v);

}  // namespace platform::dao
