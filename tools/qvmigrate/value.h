#pragma once
// A cell as the storage format keeps it: NULL, an integer, a real, a text (UTF-8) or bytes.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qvmigrate {

struct Value {
    enum class Kind { Null, Integer, Real, Text, Blob };
    Kind kind = Kind::Null;
    std::int64_t i = 0;
    double d = 0;
    std::string s;  // Text and Blob

    void SetNull() { kind = Kind::Null; }
    void SetInteger(std::int64_t v) { kind = Kind::Integer, i = v; }
    void SetReal(double v) { kind = Kind::Real, d = v; }
    bool operator==(const Value &o) const;
};

using Row = std::vector<Value>;

// ASCII letters compared without regard to case, as Jet and Windows compare names.
bool SameNoCase(std::string_view a, std::string_view b);

// A value as the messages show it: NULL, numbers as they are, texts in single quotes with \r \n \t \\ \'
// escaped, bytes as x'hex'.
std::string Display(const Value &v);

}  // namespace qvmigrate
