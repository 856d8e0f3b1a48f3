#include "common/AnsiText.h"
#include "common/DateTime.h"
#include "common/Timer.h"
#include "testing/VirtualClock.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace brindlecove {
namespace {

using testing::TVirtualClock;

TEST(DateTime, CountsDaysFrom30December1899) {
    EXPECT_EQ(EncodeDateTime({1899, 12, 30, 0, 0, 0, 0}), 0.0);
    EXPECT_EQ(EncodeDateTime({1900, 1, 1, 0, 0, 0, 0}), 2.0);
    EXPECT_EQ(EncodeDateTime({2000, 3, 1, 0, 0, 0, 0}), 36586.0);
    EXPECT_EQ(EncodeDateTime({2026, 12, 7, 18, 0, 0, 0}), 46363.75);

    for (const TDateTimeParts& p :
         {TDateTimeParts{2026, 12, 7, 14, 5, 9, 0}, TDateTimeParts{2024, 2, 29, 23, 59, 59, 999},
          TDateTimeParts{2100, 3, 1, 0, 0, 0, 1}, TDateTimeParts{9999, 12, 31, 12, 30, 0, 500}}) {
        const TDateTimeParts back = DecodeDateTime(EncodeDateTime(p));
        EXPECT_EQ(
            std::vector<int>({back.Year, back.Month, back.Day, back.Hour, back.Minute, back.Second,
                              back.Millisecond}),
            std::vector<int>({p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second, p.Millisecond}));
    }
}

TEST(AnsiText, IgnoresLetterCaseOfTheAnsiCodePage) {
    EXPECT_TRUE(AnsiSameText("Telkom ADSL", "TELKOM adsl"));
    EXPECT_TRUE(AnsiSameText("\xC9tienne \x8A", "\xE9TIENNE \x9A")); // É/é, Š/š
    EXPECT_TRUE(AnsiSameText("\x9F", "\xFF"));                       // Ÿ/ÿ
    EXPECT_FALSE(AnsiSameText("\xD7", "\xF7"));                      // × and ÷ are not letters
    EXPECT_FALSE(AnsiSameText("Local", "Local "));
    EXPECT_FALSE(AnsiSameText("[", "{"));
}

TEST(Timer, TicksEveryIntervalWhileEnabled) {
    TVirtualClock clock;
    TTimer timer(clock, 1000);
    std::vector<std::uint64_t> ticks;
    timer.OnTimer = [&] { ticks.push_back(clock.Elapsed()); };

    clock.Advance(5000);
    EXPECT_TRUE(ticks.empty()) << "a timer starts disabled";

    timer.SetEnabled(true);
    clock.Advance(2500);
    EXPECT_THAT(ticks, ::testing::ElementsAre(6000, 7000));

    timer.SetInterval(1000); // the same interval: the countdown goes on
    clock.Advance(500);
    EXPECT_THAT(ticks, ::testing::ElementsAre(6000, 7000, 8000));

    timer.SetInterval(5000); // a new interval restarts the countdown from now
    clock.Advance(5000);
    EXPECT_THAT(ticks, ::testing::ElementsAre(6000, 7000, 8000, 13000));

    timer.SetEnabled(false);
    clock.Advance(20000);
    EXPECT_EQ(ticks.size(), 4u);
    EXPECT_FALSE(clock.IsRunning(timer));

    timer.SetInterval(0);
    timer.SetEnabled(true);
    EXPECT_FALSE(clock.IsRunning(timer)) << "an interval of 0 never fires";
}

TEST(Timer, AHandlerMayStopItsOwnOrAnotherTimer) {
    TVirtualClock clock;
    TTimer a(clock, 1000);
    auto b = std::make_unique<TTimer>(clock, 1000);
    int aTicks = 0;
    int bTicks = 0;
    a.OnTimer = [&] {
        ++aTicks;
        b.reset(); // destroying a running timer unregisters it
    };
    b->OnTimer = [&] { ++bTicks; };
    a.SetEnabled(true);
    b->SetEnabled(true);
    clock.Advance(3000);
    EXPECT_EQ(aTicks, 3);
    EXPECT_EQ(bTicks, 0);
    EXPECT_EQ(clock.RunningTimers(), 1);
}

TEST(VirtualClock, NowFollowsTheAdvancedTime) {
    TVirtualClock clock(EncodeDateTime({2026, 12, 7, 23, 59, 59, 0}));
    clock.Advance(1500);
    const TDateTimeParts now = DecodeDateTime(clock.Now());
    EXPECT_EQ(now.Day, 8);
    EXPECT_EQ(now.Hour, 0);
    EXPECT_EQ(now.Second, 0);
    EXPECT_EQ(now.Millisecond, 500);
}

} // namespace
} // namespace brindlecove
