#pragma once
// A clock and a timer host for tests: time moves only when the test says so, and the timer ticks
// that fall due on the way are delivered in time order, as the message loop would.

#include "common/DateTime.h"
#include "common/Timer.h"

#include <cstdint>
#include <vector>

namespace brindlecove::testing {

class TVirtualClock final : public IClock, public ITimerHost {
public:
    // 07/12/2026 14:05:09 unless told otherwise.
    explicit TVirtualClock(TDateTime start = EncodeDateTime({2026, 12, 7, 14, 5, 9, 0}));

    TDateTime Now() const override;
    std::uint64_t Elapsed() const { return FElapsed; } // milliseconds since the start

    void StartTimer(TTimer& timer, std::uint32_t interval) override;
    void StopTimer(TTimer& timer) override;

    // Moves time forward by `ms`, delivering every tick that falls due, the earliest first.
    void Advance(std::uint64_t ms);

    bool IsRunning(const TTimer& timer) const;
    int RunningTimers() const { return static_cast<int>(FTimers.size()); }

private:
    struct TScheduled {
        TTimer* Timer;
        std::uint32_t Interval;
        std::uint64_t Due;
        std::uint64_t Sequence; // keeps timers due at the same moment in start order
    };

    TDateTime FStart;
    std::uint64_t FElapsed = 0;
    std::uint64_t FSequence = 0;
    std::vector<TScheduled> FTimers;
};

} // namespace brindlecove::testing
