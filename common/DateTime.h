#pragma once
// Local date and time as the program keeps it: days since 1899-12-30 as a double, the fraction
// being the time of day (the OLE automation date of Windows).

#include <cstdint>

namespace brindlecove {

using TDateTime = double;

struct TDateTimeParts {
    int Year = 1899;
    int Month = 12; // 1..12
    int Day = 30;   // 1..31
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;
};

// Parts must form a valid date and time from 1899-12-30 to 9999-12-31.
TDateTime EncodeDateTime(const TDateTimeParts& parts);
TDateTimeParts DecodeDateTime(TDateTime value);

// The current local date and time.
class IClock {
public:
    virtual ~IClock() = default;
    virtual TDateTime Now() const = 0;
};

} // namespace brindlecove
