// Cells compared and shown, and names compared without regard to case.
#include "qvmigrate/value.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>

namespace qvmigrate {

bool Value::operator==(const Value &o) const {
    if (kind != o.kind) return false;
    switch (kind) {
    case Kind::Null: return true;
    case Kind::Integer: return i == o.i;
    case Kind::Real: return d == o.d;
    default: return s == o.s;
    }
}

bool SameNoCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

std::string Display(const Value &v) {
    switch (v.kind) {
    case Value::Kind::Null: return "NULL";
    case Value::Kind::Integer: return std::to_string(v.i);
    case Value::Kind::Real: {
        char buf[40];
        const auto end = std::to_chars(buf, buf + sizeof buf, v.d).ptr;  // the shortest text that reads back
        return std::string(buf, end);
    }
    case Value::Kind::Blob: {
        std::string out = "x'";
        char buf[3];
        for (unsigned char c : v.s) {
            std::snprintf(buf, sizeof buf, "%02x", c);
            out += buf;
        }
        return out + "'";
    }
    case Value::Kind::Text: break;
    }
    std::string out = "'";
    for (char c : v.s) {
        switch (c) {
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\\': out += "\\\\"; break;
        case '\'': out += "\\'"; break;
        default: out += c;
        }
    }
    return out + "'";
}

}  // namespace qvmigrate
