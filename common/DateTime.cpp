#include "common/DateTime.h"

#include <cmath>

namespace brindlecove {

namespace {

// Days from 0001-01-01 (proleptic Gregorian) to 1899-12-30.
constexpr std::int64_t DaysTo18991230 = 693593;
constexpr std::int64_t MsPerDay = 86400000;

bool IsLeap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    constexpr int Days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : Days[month - 1];
}

std::int64_t DaysFromYearOne(int year, int month, int day) {
    const std::int64_t y = year - 1;
    std::int64_t days = y * 365 + y / 4 - y / 100 + y / 400;
    for (int m = 1; m < month; ++m) {
        days += DaysInMonth(year, m);
    }
    return days + day - 1;
}

} // namespace

TDateTime EncodeDateTime(const TDateTimeParts& p) {
    const auto days = static_cast<double>(DaysFromYearOne(p.Year, p.Month, p.Day) - DaysTo18991230);
    const auto ms =
        static_cast<double>(((p.Hour * 60 + p.Minute) * 60 + p.Second) * 1000 + p.Millisecond);
    return days + ms / MsPerDay;
}

TDateTimeParts DecodeDateTime(TDateTime value) {
    const double whole = std::trunc(value);
    auto ms = static_cast<std::int64_t>(std::llround((value - whole) * MsPerDay));
    auto days = static_cast<std::int64_t>(whole) + DaysTo18991230;
    if (ms >= MsPerDay) { // rounding reached midnight
        ms -= MsPerDay;
        days += 1;
    }
    TDateTimeParts p;
    // Civil date from days since 0001-01-01.
    std::int64_t n400 = days / 146097;
    std::int64_t rest = days % 146097;
    std::int64_t n100 = rest / 36524;
    if (n100 == 4) {
        n100 = 3;
    }
    rest -= n100 * 36524;
    const std::int64_t n4 = rest / 1461;
    rest %= 1461;
    std::int64_t n1 = rest / 365;
    if (n1 == 4) {
        n1 = 3;
    }
    rest -= n1 * 365;
    p.Year = static_cast<int>(n400 * 400 + n100 * 100 + n4 * 4 + n1 + 1);
    p.Month = 1;
    while (rest >= DaysInMonth(p.Year, p.Month)) {
        rest -= DaysInMonth(p.Year, p.Month);
        ++p.Month;
    }
    p.Day = static_cast<int>(rest) + 1;
    p.Hour = static_cast<int>(ms / 3600000);
    p.Minute = static_cast<int>(ms / 60000 % 60);
    p.Second = static_cast<int>(ms / 1000 % 60);
    p.Millisecond = static_cast<int>(ms % 1000);
    return p;
}

} // namespace brindlecove
