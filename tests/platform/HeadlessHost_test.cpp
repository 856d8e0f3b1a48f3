// The Linux edition's host: the event loop's timers and signals, the console log and boxes.
#include "app/linux/HeadlessHost.h"

#include <csignal>
#include <cstdio>
#include <ctime>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>

namespace brindlecove {
namespace {

std::string Contents(std::FILE* file) {
    std::rewind(file);
    std::string text;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        text += static_cast<char>(c);
    }
    return text;
}

TEST(EventLoop, RunsTimersUntilToldToQuit) {
    TEventLoop loop;
    TTimer fast(loop, 10);
    TTimer slow(loop, 40);
    TTimer end(loop, 120);
    int fastTicks = 0;
    int slowTicks = 0;
    fast.OnTimer = [&] { ++fastTicks; };
    slow.OnTimer = [&] { ++slowTicks; };
    end.OnTimer = [&] { loop.Quit(); };
    fast.SetEnabled(true);
    slow.SetEnabled(true);
    end.SetEnabled(true);
    loop.Run();
    EXPECT_GE(fastTicks, 2);
    EXPECT_GE(slowTicks, 1);
    EXPECT_GT(fastTicks, slowTicks);
    EXPECT_LE(fastTicks, 13) << "a timer never ticks faster than its interval";
}

TEST(EventLoop, DeliversTheThreeSignalsOnTheLoop) {
    TEventLoop loop;
    std::vector<int> signals;
    loop.OnSignal = [&](int signal) {
        signals.push_back(signal);
        if (signal == SIGTERM) {
            loop.Quit();
        }
    };
    TTimer kick(loop, 5);
    int step = 0;
    kick.OnTimer = [&] {
        const int order[] = {SIGHUP, SIGINT, SIGTERM};
        if (step < 3) {
            std::raise(order[step++]);
        }
    };
    kick.SetEnabled(true);
    loop.Run();
    EXPECT_THAT(signals, ::testing::ElementsAre(SIGHUP, SIGINT, SIGTERM));
}

TEST(ConsoleHost, LogLinesGoOutOneByOneAndBoxesBecomeOneLine) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    ASSERT_NE(out, nullptr);
    ASSERT_NE(err, nullptr);
    TConsoleLogView log(TControlId::Memo1, out);
    log.Append("07/12/2026 14:05:09 Connected to Home");
    log.Append("07/12/2026 14:05:10 ");
    EXPECT_EQ(log.LineCount(), 2);
    EXPECT_EQ(Contents(out), "07/12/2026 14:05:09 Connected to Home\n07/12/2026 14:05:10 \n");

    TEventLoop loop;
    TConsoleApplication app(loop, err);
    EXPECT_EQ(app.MessageBoxA("Could not connect. \r\rTry again.", "Warning", MbOk | MbIconWarning),
              IdOk);
    EXPECT_EQ(app.MessageBoxA("Save?", "Confirm", MbYesNo | MbIconQuestion), IdYes);
    EXPECT_EQ(Contents(err), "Warning: Could not connect.   Try again.\nConfirm: Save?\n");
    app.Terminate();
    EXPECT_TRUE(loop.Quitting());
    std::fclose(out);
    std::fclose(err);
}

TEST(LinuxClock, TellsTheLocalTime) {
    const std::time_t before = std::time(nullptr);
    const TDateTimeParts now = DecodeDateTime(TLinuxClock().Now());
    std::tm local{};
    ::localtime_r(&before, &local);
    EXPECT_EQ(now.Year, local.tm_year + 1900);
    EXPECT_EQ(now.Month, local.tm_mon + 1);
    const int seconds = now.Hour * 3600 + now.Minute * 60 + now.Second;
    const int expected = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    EXPECT_LE((seconds - expected + 86400) % 86400, 2);
}

} // namespace
} // namespace brindlecove
