#pragma once
// A read date more than a year from its bill date: a typed year can put it centuries away (4/24/208 is
// the year 208), so the read-date windows ask before they give one.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/clock.h"

namespace readdates {

// A count with a comma between each three digits: 1,818.
std::string Grouped(std::int64_t n);

// How far `date` lies from `bill` when it is 367 days or more, before or after ("1,818 years before",
// "367 days after": whole years from two on, else days); nullopt when it lies within 366 days, a whole
// year across a 29 February included.
std::optional<std::string> FarOffDistance(platform::DateTime date, platform::DateTime bill);

}  // namespace readdates
