// Stored cells decoded anew, apart from the conversion's decoding: Jet 3 texts without Windows' own
// characters, numbers from their bytes, dates and Decimals by arithmetic of their own.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "qvmigrate/jet_pages.h"

namespace qvmigrate::pages {

std::u16string Jet4Units(const std::string &bytes) {
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const std::size_t n = bytes.size();
    std::u16string out;
    if (n < 2 || p[0] != 0xff || p[1] != 0xfe) {
        for (std::size_t i = 1; i < n; i += 2) out.push_back(static_cast<char16_t>(U16(p + i - 1)));
        return out;
    }
    bool wide = false;  // the compressed form starts with one byte a character
    for (std::size_t i = 2; i < n;) {
        if (p[i] == 0) {
            wide = !wide;
            i += 1;
        } else if (!wide) {
            out.push_back(p[i]);
            i += 1;
        } else {
            if (i + 1 >= n) break;
            out.push_back(static_cast<char16_t>(U16(p + i)));
            i += 2;
        }
    }
    return out;
}

std::string StorageType(int type) {
    switch (type) {
    case kDateTime: return "DATETIME";
    case kBool: case kByte: case kInt: case kLong: return "INTEGER";
    case kMoney: case kFloat: case kDouble: case kNumeric: return "REAL";
    case kText: case kMemo: case kGuid: return "TEXT";
    case kBinary: case kOle: return "BLOB";
    default: return {};
    }
}

namespace {

template <class T>
T Stored(const Cell &cell) {
    T v{};
    std::memcpy(&v, cell.bytes.data(), std::min(sizeof v, cell.bytes.size()));
    return v;
}

// A Decimal: a sign byte, then a 128-bit magnitude as four 32-bit little-endian words, the most
// significant first; the value is the magnitude over ten to the column's scale.
std::string DecimalText(const Cell &cell, int scale) {
    const auto *b = reinterpret_cast<const unsigned char *>(cell.bytes.data());
    std::uint32_t words[4];  // most significant first
    for (int w = 0; w < 4; ++w) words[w] = static_cast<std::uint32_t>(b[1 + 4 * w] | b[2 + 4 * w] << 8 | b[3 + 4 * w] << 16) |
                                           static_cast<std::uint32_t>(b[4 + 4 * w]) << 24;
    std::string digits;
    do {  // long division by ten, word by word
        std::uint64_t rest = 0;
        for (auto &w : words) {
            const std::uint64_t part = rest << 32 | w;
            w = static_cast<std::uint32_t>(part / 10);
            rest = part % 10;
        }
        digits.insert(digits.begin(), static_cast<char>('0' + rest));
    } while (words[0] || words[1] || words[2] || words[3]);
    if (scale > 0) {
        if (digits.size() <= static_cast<std::size_t>(scale)) digits.insert(0, static_cast<std::size_t>(scale) + 1 - digits.size(), '0');
        digits.insert(digits.size() - static_cast<std::size_t>(scale), ".");
    }
    return (b[0] & 0x80 ? "-" : "") + digits;
}

// A Jet date (days from 1899-12-30; before that day the fraction still counts forward) as the
// storage text, to the nearest second; a day number far beyond every calendar date (or none at all)
// is shown as such.
std::string DateText(double days) {
    if (!(std::fabs(days) <= 1e8)) {
        char shown[64];
        std::snprintf(shown, sizeof shown, "(the day number %g)", days);
        return shown;
    }
    const double whole = std::trunc(days);
    const long long seconds = static_cast<long long>(whole) * 86400 + std::llround(std::fabs(days - whole) * 86400);
    long long day = seconds / 86400, second = seconds % 86400;
    if (second < 0) second += 86400, --day;
    // The civil date of a day count from 1899-12-30, through days from 0000-03-01.
    const long long z = day + 693899, era = (z >= 0 ? z : z - 146096) / 146097, doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365, doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153, d = doy - (153 * mp + 2) / 5 + 1, m = mp < 10 ? mp + 3 : mp - 9;
    const long long y = yoe + era * 400 + (m <= 2);
    char text[96];
    if (second == 0)
        std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld", y, m, d);
    else
        std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", y, m, d, second / 3600, second / 60 % 60, second % 60);
    return text;
}

std::string GuidShown(const Cell &cell) {
    const auto *b = reinterpret_cast<const unsigned char *>(cell.bytes.data());
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-", Stored<std::uint32_t>(cell),
                  static_cast<unsigned>(b[4] | b[5] << 8), static_cast<unsigned>(b[6] | b[7] << 8), b[8], b[9]);
    std::string out = text;
    for (int i = 10; i < 16; ++i) {
        std::snprintf(text, sizeof text, "%02X", b[i]);
        out += text;
    }
    return out + "}";
}

}  // namespace

Value CellValue(const File &jet, const Column &col, const Cell &cell) {
    static constexpr std::size_t kSize[] = {0, 0, 1, 2, 4, 8, 4, 8, 8, 0, 0, 0, 0, 0, 0, 16, 17};
    Value v;
    if (col.type == kBool) {
        v.SetInteger(cell.null ? 0 : 1);
        return v;
    }
    if (cell.null) return v;
    if (col.type < 17 && kSize[col.type] && cell.bytes.size() != kSize[col.type]) {
        v.kind = Value::Kind::Text;
        v.s = "(a stored value of " + std::to_string(cell.bytes.size()) + " bytes)";
        return v;
    }
    switch (col.type) {
    case kByte: v.SetInteger(static_cast<unsigned char>(cell.bytes[0])); break;
    case kInt: v.SetInteger(Stored<std::int16_t>(cell)); break;
    case kLong: v.SetInteger(Stored<std::int32_t>(cell)); break;
    case kFloat: v.SetReal(Stored<float>(cell)); break;
    case kDouble: v.SetReal(Stored<double>(cell)); break;
    case kMoney: v.SetReal(static_cast<double>(Stored<std::int64_t>(cell)) / 10000); break;
    case kNumeric: v.SetReal(std::strtod(DecimalText(cell, col.scale).c_str(), nullptr)); break;
    case kDateTime:
        v.kind = Value::Kind::Text;
        v.s = DateText(Stored<double>(cell));
        break;
    case kText: case kMemo:
        v.kind = Value::Kind::Text;
        v.s = jet.Text(cell.bytes);
        break;
    case kGuid:
        v.kind = Value::Kind::Text;
        v.s = GuidShown(cell);
        break;
    default:
        v.kind = Value::Kind::Blob;
        v.s = cell.bytes;
    }
    return v;
}

}  // namespace qvmigrate::pages
