#include "testing/VirtualClock.h"

#include <algorithm>

namespace brindlecove::testing {

TVirtualClock::TVirtualClock(TDateTime start) : FStart(start) {}

TDateTime TVirtualClock::Now() const {
    return FStart + static_cast<double>(FElapsed) / 86400000.0;
}

void TVirtualClock::StartTimer(TTimer& timer, std::uint32_t interval) {
    StopTimer(timer);
    FTimers.push_back({&timer, interval, FElapsed + interval, FSequence++});
}

void TVirtualClock::StopTimer(TTimer& timer) {
    std::erase_if(FTimers, [&](const TScheduled& s) { return s.Timer == &timer; });
}

bool TVirtualClock::IsRunning(const TTimer& timer) const {
    return std::any_of(FTimers.begin(), FTimers.end(),
                       [&](const TScheduled& s) { return s.Timer == &timer; });
}

void TVirtualClock::Advance(std::uint64_t ms) {
    const std::uint64_t target = FElapsed + ms;
    for (;;) {
        auto next =
            std::min_element(FTimers.begin(), FTimers.end(), [](const auto& a, const auto& b) {
                return a.Due != b.Due ? a.Due < b.Due : a.Sequence < b.Sequence;
            });
        if (next == FTimers.end() || next->Due > target) {
            break;
        }
        FElapsed = next->Due;
        next->Due += next->Interval;
        next->Sequence = FSequence++;
        next->Timer->Tick(); // may start, stop or destroy timers: `next` is not used after this
    }
    FElapsed = target;
}

} // namespace brindlecove::testing
