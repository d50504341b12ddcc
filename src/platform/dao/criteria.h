#pragma once
// Private to platform_dao: FindFirst criteria: comparisons of a field with a number, a
// 'text' or a #date#, joined by and / or / not, with parentheses; "is null" and "is not null".
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dao/jet_sql.h"
#include "platform/dao/variant.h"

namespace platform::dao {

struct Criterion {
    enum class Op { Compare, And, Or, Not, IsNull, NotNull };
    Op op = Op::Compare;
    std::string field;
    std::string comparison;  // = <> < > <= >=
    Variant value;
    int slot = -1;           // parsed from a shape: the literal that gives `value` (see Fill)
    bool negated = false;    // that literal is negated
    std::vector<Criterion> parts;

    // Raises 3075 naming the text when it is no criterion.
    static Criterion Parse(std::string_view text);
    // The criterion of a text's shape (jet::Shape: literals replaced by markers); its values come
    // from the text's literals through Fill. Criteria of one shape differ only in those values, so a
    // caller that finds with many of them parses the shape once. Raises 3075 naming `text`.
    static Criterion ParseShape(std::string_view shape, std::string_view text);
    // Sets every value that comes from a literal of the shape.
    void Fill(const std::vector<jet::Token> &literals);


    bool Matches(const std::function<Variant(const std::string &field)> &valueOf) const;
};

// The hash key of a value for equality look-ups: equal keys exactly when Jet's "=" holds
// (numbers by value, texts without regard to case, dates by instant); nullopt for Null.
std::optional<std::string> MatchKey(const Variant &v);

}  // namespace platform::dao
