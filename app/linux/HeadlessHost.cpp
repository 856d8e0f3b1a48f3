#include "app/linux/HeadlessHost.h"

#include "app/linux/ServiceManager.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace brindlecove {

TDateTime TLinuxClock::Now() const {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    ::localtime_r(&now.tv_sec, &local);
    return EncodeDateTime({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                           local.tm_min, std::min(local.tm_sec, 59),
                           static_cast<int>(now.tv_nsec / 1000000)});
}

namespace {

sigset_t LoopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

} // namespace

TEventLoop::TEventLoop() {
    const sigset_t set = LoopSignals();
    ::sigprocmask(SIG_BLOCK, &set, nullptr);
    FSignalFd = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

TEventLoop::~TEventLoop() {
    if (FSignalFd >= 0) {
        ::close(FSignalFd);
    }
    const sigset_t set = LoopSignals();
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

void TEventLoop::StartTimer(TTimer& timer, std::uint32_t interval) {
    StopTimer(timer);
    const std::chrono::milliseconds period(interval);
    FTimers.push_back({&timer, period, TClock::now() + period});
}

void TEventLoop::StopTimer(TTimer& timer) {
    std::erase_if(FTimers, [&](const TScheduled& s) { return s.Timer == &timer; });
}

void TEventLoop::HandleSignals() {
    signalfd_siginfo info{};
    while (FSignalFd >= 0 && ::read(FSignalFd, &info, sizeof info) == sizeof info) {
        if (OnSignal) {
            OnSignal(static_cast<int>(info.ssi_signo));
        }
    }
}

void TEventLoop::RunDueTimers() {
    // Each timer that is due ticks once; one that fell far behind (a long dial) starts its
    // countdown again from now instead of ticking for every period it missed.
    std::vector<TTimer*> due;
    const auto now = TClock::now();
    for (TScheduled& s : FTimers) {
        if (s.Due <= now) {
            due.push_back(s.Timer);
            s.Due = std::max(s.Due + s.Interval, now + s.Interval / 2);
        }
    }
    for (TTimer* timer : due) {
        // A tick may stop or restart other timers: only those still scheduled tick.
        if (std::any_of(FTimers.begin(), FTimers.end(),
                        [&](const TScheduled& s) { return s.Timer == timer; })) {
            timer->Tick();
        }
    }
}

void TEventLoop::Watch(int fd, std::function<void()> onReadable) {
    if (fd >= 0) {
        FWatched.push_back({fd, std::move(onReadable)});
    }
}

void TEventLoop::HandleReadable() {
    std::vector<pollfd> fds;
    for (const TWatched& watched : FWatched) {
        fds.push_back({watched.Fd, POLLIN, 0});
    }
    if (fds.empty() || ::poll(fds.data(), fds.size(), 0) <= 0) {
        return;
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
        if (fds[i].revents != 0) {
            FWatched[i].OnReadable();
        }
    }
}

void TEventLoop::ProcessPending() {
    HandleSignals();
    HandleReadable();
    RunDueTimers();
}

void TEventLoop::Run() {
    while (!FQuit) {
        int timeout = -1;
        if (!FTimers.empty()) {
            const auto next =
                std::min_element(FTimers.begin(), FTimers.end(), [](const auto& a, const auto& b) {
                    return a.Due < b.Due;
                })->Due;
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - TClock::now());
            timeout = static_cast<int>(std::max<std::int64_t>(0, wait.count()));
        }
        std::vector<pollfd> fds;
        if (FSignalFd >= 0) {
            fds.push_back({FSignalFd, POLLIN, 0});
        }
        for (const TWatched& watched : FWatched) {
            fds.push_back({watched.Fd, POLLIN, 0});
        }
        if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
            break;
        }
        ProcessPending();
    }
}

void TConsoleLogView::Append(const std::string& line) {
    ++FLines;
    errno = 0;
    const bool written = std::fputs(line.c_str(), FOut) >= 0 && std::fputc('\n', FOut) != EOF &&
                         std::fflush(FOut) == 0;
    if (written) {
        return;
    }
    const int error = errno;
    std::clearerr(FOut);
    if (!FWriteFailed) {
        FWriteFailed = true;
        std::fprintf(stderr, "%sbrindlecove: log lines cannot be written (%s); they are dropped.\n",
                     WarningPrefix(stderr), error != 0 ? std::strerror(error) : "write error");
        std::fflush(stderr);
    }
}

bool TConsoleLogView::GetScrollRange(int& minPos, int& maxPos) const {
    minPos = 0;
    maxPos = std::max(0, FLines - 1);
    return true;
}

int TConsoleApplication::MessageBoxA(const std::string& text, const std::string& caption,
                                     UINT type) {
    std::string line = caption + ": " + text;
    std::replace(line.begin(), line.end(), '\r', ' ');
    std::replace(line.begin(), line.end(), '\n', ' ');
    std::fputs(WarningPrefix(FErr), FErr);
    std::fputs(line.c_str(), FErr);
    std::fputc('\n', FErr);
    std::fflush(FErr);
    return (type & MbYesNo) != 0 ? IdYes : IdOk;
}

} // namespace brindlecove
