// The cost of one supervision pass and of one log line in a nearly full log, on the headless
// window with the in-memory RAS. Printed beside references: the supervision period, and a log
// line written into an empty log.
#include "app/brindlecove1.h"
#include "testing/FakeIpHelper.h"
#include "testing/FakeRas.h"
#include "testing/HeadlessWindow.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using namespace brindlecove;
using Clock = std::chrono::steady_clock;

namespace {

double Median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// Nanoseconds of one call of `work`, after `prepare` (not timed), median of `rounds`.
template <typename TPrepare, typename TWork>
double TimeEach(int rounds, const TPrepare& prepare, const TWork& work) {
    std::vector<double> samples;
    for (int r = 0; r < rounds; ++r) {
        prepare();
        const auto start = Clock::now();
        work();
        samples.push_back(std::chrono::duration<double, std::nano>(Clock::now() - start).count());
    }
    return Median(samples);
}

} // namespace

int main() {
    testing::TFakeRas ras;
    ras.AddEntry("Home");
    ras.AddEntry("Office");
    ras.Connect("Home");
    ras.Connect("Office");
    testing::TFakeIpHelper ipHelper;
    testing::TFakeRegistry registry;
    testing::THeadlessWindow window(ras, ipHelper, registry);
    window.ChooseInSettings("Home", "Office");
    TfrmBrindlecove& form = window.Form;
    form.FormCreate();
    form.RoutesBuilt = true; // the steady state: both up, routes in place

    constexpr int Rounds = 20001;
    const double pass = TimeEach(
        Rounds, [] {}, [&] { form.Supervise(); });

    const auto fillTo = [&](int lines) {
        form.Memo1->Clear();
        for (int i = 0; i < lines; ++i) {
            form.Memo1->Append(
                "07/12/2026 14:05:09 Attempting to connect to local connection Home");
        }
    };
    const double logFull = TimeEach(
        2001, [&] { fillTo(998); }, [&] { form.LogLine("Connected to Home"); });
    const double logEmpty = TimeEach(
        2001, [&] { fillTo(0); }, [&] { form.LogLine("Connected to Home"); });

    std::printf("Main window on headless controls (median of single calls)\n");
    std::printf("  %-52s %12.3f us\n", "Supervise, both connections up", pass / 1000);
    std::printf("  %-52s %12.3f us\n", "reference: the supervision period", 1e6);
    std::printf("  %-52s %12.3f us\n", "LogLine, writing the 999th line", logFull / 1000);
    std::printf("  %-52s %12.3f us\n", "reference: LogLine into an empty log", logEmpty / 1000);
    return 0;
}
