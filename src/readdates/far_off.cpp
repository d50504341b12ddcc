// How far a read date lies from its bill date, for the questions of the read-date windows.
#include "readdates/far_off.h"

#include <chrono>
#include <utility>

namespace readdates {
namespace {

// A read date this many days or more from the bill date, before or after it, is asked about first.
constexpr int kFarOffDays = 367;

}  // namespace

std::string Grouped(std::int64_t n) {
    const std::string digits = std::to_string(n);
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
        grouped += digits[i];
    }
    return grouped;
}

std::optional<std::string> FarOffDistance(platform::DateTime date, platform::DateTime bill) {
    using namespace std::chrono;
    const bool before = date < bill;
    const year_month_day from{floor<days>(before ? date : bill)}, to{floor<days>(before ? bill : date)};
    const std::int64_t apart = (local_days{to} - local_days{from}).count();
    if (apart < kFarOffDays) return std::nullopt;
    int years = static_cast<int>(to.year()) - static_cast<int>(from.year());
    if (std::pair{to.month(), to.day()} < std::pair{from.month(), from.day()}) --years;
    return Grouped(years >= 2 ? years : apart) + (years >= 2 ? " years " : " days ") + (before ? "before" : "after");
}

}  // namespace readdates
