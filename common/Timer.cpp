#include "common/Timer.h"

namespace brindlecove {

TTimer::TTimer(ITimerHost& host, std::uint32_t interval) : FHost(host), FInterval(interval) {}

TTimer::~TTimer() {
    if (FRunning) {
        FHost.StopTimer(*this);
    }
}

void TTimer::SetEnabled(bool value) {
    if (value != FEnabled) {
        FEnabled = value;
        Update();
    }
}

void TTimer::SetInterval(std::uint32_t value) {
    if (value != FInterval) {
        FInterval = value;
        Update();
    }
}

void TTimer::Update() {
    if (FRunning) {
        FHost.StopTimer(*this);
        FRunning = false;
    }
    if (FEnabled && FInterval != 0) {
        FHost.StartTimer(*this, FInterval);
        FRunning = true;
    }
}

void TTimer::Tick() {
    if (FRunning && OnTimer) {
        OnTimer();
    }
}

} // namespace brindlecove
