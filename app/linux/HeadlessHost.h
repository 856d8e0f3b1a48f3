#pragma once
// The Linux edition's host for the main window: no window at all. Log lines go to standard
// output, message boxes become one line on standard error answered by their default button (with
// the journal's warning prefix when standard error goes to the journal), the timers run on a loop
// that also receives SIGTERM, SIGINT and SIGHUP.

#include "app/ApplicationPort.h"
#include "app/Controls.h"
#include "common/DateTime.h"
#include "common/Timer.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

namespace brindlecove {

// The local date and time of the system.
class TLinuxClock final : public IClock {
public:
    TDateTime Now() const override;
};

// The UI thread's loop: timers, the three signals and watched descriptors, all on the calling
// thread.
class TEventLoop final : public ITimerHost {
public:
    // Blocks SIGTERM, SIGINT and SIGHUP for the process and receives them through a descriptor.
    TEventLoop();
    TEventLoop(const TEventLoop&) = delete;
    TEventLoop& operator=(const TEventLoop&) = delete;
    ~TEventLoop() override;

    void StartTimer(TTimer& timer, std::uint32_t interval) override;
    void StopTimer(TTimer& timer) override;

    // Runs timers and signals until Quit.
    void Run();
    void Quit() { FQuit = true; }
    bool Quitting() const { return FQuit; }
    // Handles what is due now (signals first, then timers), without waiting.
    void ProcessPending();

    std::function<void(int signal)> OnSignal;
    // Calls `onReadable` from the loop whenever `fd` has something to read (it must read it).
    void Watch(int fd, std::function<void()> onReadable);

private:
    using TClock = std::chrono::steady_clock;
    struct TScheduled {
        TTimer* Timer;
        std::chrono::milliseconds Interval;
        TClock::time_point Due;
    };
    struct TWatched {
        int Fd;
        std::function<void()> OnReadable;
    };
    void HandleSignals();
    void HandleReadable();
    void RunDueTimers();

    int FSignalFd = -1;
    bool FQuit = false;
    std::vector<TScheduled> FTimers;
    std::vector<TWatched> FWatched;
};

// Log lines on standard output, flushed one by one; lines count as they are, without wrapping. A
// line that cannot be written (the reader of a pipe went away, a full disk) is dropped; the first
// such failure is told on standard error.
class TConsoleLogView final : public TLogView {
public:
    TConsoleLogView(TControlId id, std::FILE* out) : TLogView(id), FOut(out) {}
    void Append(const std::string& line) override;
    int LineCount() const override { return FLines; }
    void Clear() override { FLines = 0; }
    bool GetScrollRange(int& minPos, int& maxPos) const override;
    void ScrollThumbTo(std::uint16_t) override {}

private:
    std::FILE* FOut;
    int FLines = 0;
    bool FWriteFailed = false; // told once on standard error
};

class TConsoleControls final : public TPlainControls {
public:
    explicit TConsoleControls(std::FILE* out) : FOut(out) {}
    std::unique_ptr<TLogView> CreateLogView(TControlId id) override {
        return std::make_unique<TConsoleLogView>(id, FOut);
    }

private:
    std::FILE* FOut;
};

class TConsoleApplication final : public IApplication {
public:
    TConsoleApplication(TEventLoop& loop, std::FILE* err) : FLoop(loop), FErr(err) {}

    void SetTitle(const std::string& title) override { FTitle = title; }
    const std::string& Title() const { return FTitle; }
    // One line on standard error, "Caption: text" (line breaks of the text become blanks);
    // answered as the default button would be: Yes for a question, OK otherwise.
    int MessageBoxA(const std::string& text, const std::string& caption, UINT type) override;
    void ProcessMessages() override { FLoop.ProcessPending(); }
    void Terminate() override { FLoop.Quit(); }
    void Halt() override { FLoop.Quit(); }
    bool Terminated() const override { return FLoop.Quitting(); }
    void SetCaption(const std::string&) override {}
    void ShowMainWindow() override {}
    void HideMainWindow() override {}
    void SetTrayIconVisible(bool) override {}

private:
    TEventLoop& FLoop;
    std::FILE* FErr;
    std::string FTitle;
};

} // namespace brindlecove
