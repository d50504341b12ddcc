// The clock with its test seam, and a DateTime made and cut to its day.
#include "platform/clock.h"

#include <time.h>

#include <mutex>

#include "platform/error.h"

namespace platform {

using namespace std::chrono;

namespace {

std::mutex clockMutex;
std::function<DateTime()> testClock;

DateTime RealNow() {
    const time_t t = system_clock::to_time_t(system_clock::now());
    struct tm tmv {};
    localtime_r(&t, &tmv);
    return MakeDateTime(tmv.tm_year + 1900, static_cast<unsigned>(tmv.tm_mon + 1),
                        static_cast<unsigned>(tmv.tm_mday), tmv.tm_hour, tmv.tm_min,
                        tmv.tm_sec > 59 ? 59 : tmv.tm_sec);
}

}  // namespace

DateTime MakeDateTime(int y, unsigned m, unsigned d, int hour, int minute, int second) {
    const year_month_day ymd{year{y}, month{m}, day{d}};
    if (y < 100 || y > 9999 || !ymd.ok() || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59)
        Raise(13);
    return local_days{ymd} + hours{hour} + minutes{minute} + seconds{second};
}

DateTime Now() {
    std::function<DateTime()> seam;
    {
        std::lock_guard<std::mutex> lock(clockMutex);
        seam = testClock;
    }
    return seam ? seam() : RealNow();
}

void SetClockForTests(std::function<DateTime()> clock) {
    std::lock_guard<std::mutex> lock(clockMutex);
    testClock = std::move(clock);
}

DateTime DateOnly(DateTime value) { return floor<days>(value); }

bool HasTimeOfDay(DateTime value) { return value != DateOnly(value); }

}  // namespace platform
