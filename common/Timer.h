#pragma once
// Timers on the user-interface thread.
//
// A TTimer fires OnTimer every Interval milliseconds while it is enabled and its interval is not 0.
// Enabling it or changing its interval restarts the countdown; setting the interval it already has
// changes nothing. The ticks come from the thread's message loop through an ITimerHost: a window
// timer on Windows, the headless host's loop on Linux, a virtual clock in tests.

#include <cstdint>
#include <functional>

namespace brindlecove {

class TTimer;

class ITimerHost {
public:
    virtual ~ITimerHost() = default;
    // Starts, or restarts from now, the periodic ticks of `timer`.
    virtual void StartTimer(TTimer& timer, std::uint32_t interval) = 0;
    // Stops them; a tick that is due is not delivered any more.
    virtual void StopTimer(TTimer& timer) = 0;
};

class TTimer {
public:
    explicit TTimer(ITimerHost& host, std::uint32_t interval = 1000);
    TTimer(const TTimer&) = delete;
    TTimer& operator=(const TTimer&) = delete;
    ~TTimer();

    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool value);
    std::uint32_t Interval() const { return FInterval; }
    void SetInterval(std::uint32_t value);

    std::function<void()> OnTimer;

    // Called by the host when the interval has elapsed.
    void Tick();

private:
    void Update();

    ITimerHost& FHost;
    std::uint32_t FInterval;
    bool FEnabled = false;
    bool FRunning = false;
};

} // namespace brindlecove
