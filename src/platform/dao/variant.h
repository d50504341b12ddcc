#pragma once
// A field value: Null, whole number, floating number, text or date.
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "platform/clock.h"

namespace platform::dao {

class Variant {
public:
    enum class Kind { Null, Long, Double, Text, Date };

    Variant() = default;  // Null
    Variant(int v) : v_(std::int64_t{v}) {}
    Variant(std::int64_t v) : v_(v) {}
    Variant(double v) : v_(v) {}
    Variant(std::string v) : v_(std::move(v)) {}
    Variant(const char *v) : v_(std::string(v)) {}
    Variant(DateTime v) : v_(v) {}

    Kind kind() const { return static_cast<Kind>(v_.index()); }
    bool IsNull() const { return kind() == Kind::Null; }

    // Text as Visual Basic's CStr gives it: numbers in decimal digits, dates in the short date form.
    // Null raises 94 (Invalid use of Null).
    std::string ToText() const;
    // The text of a Text value as it is held (no copy); empty for any other kind.
    std::string_view TextView() const {
        const std::string *text = std::get_if<std::string>(&v_);
        return text ? std::string_view(*text) : std::string_view();
    }
    // Whole number; Null raises 94, a text that is no number raises 13, out of range raises 6.
    std::int64_t ToLong() const;
    double ToDouble() const;
    // Date; a text is read by the date recognition. Null raises 94, no date raises 13.
    DateTime ToDate() const;

    bool operator==(const Variant &) const = default;

private:
    std::variant<std::monostate, std::int64_t, double, std::string, DateTime> v_;
};

}  // namespace platform::dao
