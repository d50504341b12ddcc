// Visual Basic's conversions of a field value.
#include "platform/dao/variant.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "platform/error.h"

namespace platform::dao {
namespace {

using Days = std::chrono::duration<double, std::ratio<86400>>;
// Day 0 of Visual Basic's date serial numbers.
const DateTime kSerialEpoch = std::chrono::local_days{std::chrono::year{1899} / 12 / 30};

double Serial(DateTime d) { return std::chrono::duration_cast<Days>(d - kSerialEpoch).count(); }

DateTime FromSerial(double serial) {
    if (!std::isfinite(serial) || std::fabs(serial) > 3e6) Raise(6);
    return kSerialEpoch + std::chrono::seconds(static_cast<std::int64_t>(std::llround(serial * 86400.0)));
}

std::string Trimmed(const std::string &s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// A text that is a number as a whole (blanks around it allowed); 13 otherwise.
double TextNumber(const std::string &text) {
    const std::string t = Trimmed(text);
    char *end = nullptr;
    const double d = t.empty() ? 0 : std::strtod(t.c_str(), &end);
    if (t.empty() || *end != '\0' || !std::isfinite(d)) Raise(13);
    return d;
}

std::int64_t RoundToLong(double d) {
    const double r = std::nearbyint(d);  // halves to even, as CLng rounds
    if (!(r >= -9.2233720368547758e18 && r < 9.2233720368547758e18)) Raise(6);
    return static_cast<std::int64_t>(r);
}

}  // namespace

std::string Variant::ToText() const {
    switch (kind()) {
    case Kind::Null: Raise(94);
    case Kind::Long: return std::to_string(std::get<std::int64_t>(v_));
    case Kind::Double: {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.15G", std::get<double>(v_));
        return buf;
    }
    case Kind::Text: return std::get<std::string>(v_);
    case Kind::Date: return ShortDateText(std::get<DateTime>(v_));
    }
    return {};
}

std::int64_t Variant::ToLong() const {
    switch (kind()) {
    case Kind::Null: Raise(94);
    case Kind::Long: return std::get<std::int64_t>(v_);
    case Kind::Double: return RoundToLong(std::get<double>(v_));
    case Kind::Text: return RoundToLong(TextNumber(std::get<std::string>(v_)));
    case Kind::Date: return RoundToLong(Serial(std::get<DateTime>(v_)));
    }
    return 0;
}

double Variant::ToDouble() const {
    switch (kind()) {
    case Kind::Null: Raise(94);
    case Kind::Long: return static_cast<double>(std::get<std::int64_t>(v_));
    case Kind::Double: return std::get<double>(v_);
    case Kind::Text: return TextNumber(std::get<std::string>(v_));
    case Kind::Date: return Serial(std::get<DateTime>(v_));
    }
    return 0;
}

DateTime Variant::ToDate() const {
    switch (kind()) {
    case Kind::Null: Raise(94);
    case Kind::Long: return FromSerial(static_cast<double>(std::get<std::int64_t>(v_)));
    case Kind::Double: return FromSerial(std::get<double>(v_));
    case Kind::Text: {
        const std::string &t = std::get<std::string>(v_);
        if (auto d = RecognizeDate(t)) return *d;
        if (auto d = ParseStorageText(Trimmed(t))) return *d;
        Raise(13);
    }
    case Kind::Date: return std::get<DateTime>(v_);
    }
    return {};
}

}  // namespace platform::dao
