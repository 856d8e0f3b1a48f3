// Installing the built-in list of local networks and swapping the default routes, on Linux: the
// route table builder through the rtnetlink port, beside iproute2 doing the same work. Runs in a
// private user and network namespace of its own (a fresh network for every run) with two veth
// pairs as the uplinks; nothing reaches any other network.
#include "app/brindlecove1.h"
#include "routing/LocalRouteList.h"
#include "routing/linux/NetlinkIpHelper.h"
#include "testing/FakeRas.h"
#include "testing/HeadlessWindow.h"
#include "testing/linux/PrivateNetwork.h"

#include <algorithm>
#include <arpa/inet.h>
#include <bit>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace brindlecove;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int BuildRuns = 15; // and as many ip -batch runs
constexpr int ProcessRuns = 3;

// Existing default routes through both uplinks, as the builder finds them.
constexpr const char* ExistingDefaults = "route add default via 10.2.0.2 dev int0\n"
                                         "route add default via 10.1.0.2 dev loc0 metric 100\n";

double Median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

[[noreturn]] void Fail(const std::string& why) {
    std::fprintf(stderr, "bench_routes: %s\n", why.c_str());
    std::exit(1);
}

// A fresh private network with the two uplinks and their default routes.
void FreshNetwork() {
    std::string why;
    if (!testing::EnterFreshNetwork(why) || !testing::SetUpUplinks(why) ||
        !testing::IpBatch(ExistingDefaults, why)) {
        Fail(why);
    }
}

// Runs a program (looked up in PATH) and waits for it; true when it exits with 0.
bool Run(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    if (::posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return false;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The main window on headless controls with the real port, the two uplinks chosen.
struct TWindow {
    testing::TFakeRas Ras;
    TNetlinkIpHelper IpHelper;
    TLinuxRegistry Registry;
    testing::THeadlessWindow Window{Ras, IpHelper, Registry};
    TfrmBrindlecove& Form = Window.Form;

    TWindow() {
        Form.FormCreate();
        Window.Log().SetWidth(1000);
        Form.comboLocal->SetItemIndex(Form.comboLocal->IndexOfText(testing::LocalLink));
        Form.comboInt->SetItemIndex(Form.comboInt->IndexOfText(testing::IntLink));
        if (Form.comboLocal->ItemIndex() < 0 || Form.comboInt->ItemIndex() < 0) {
            Fail("the uplinks are not among the adapters");
        }
    }
    // Builds the table and answers the time it took; only the two lines of a clean build may be
    // logged.
    double Build() {
        Form.Memo1->Clear();
        const auto start = Clock::now();
        Form.BuildRoutingTable();
        const double ms = MillisecondsSince(start);
        const auto& lines = Window.Log().Lines();
        if (lines.size() != 2 || !Form.RoutesBuilt) {
            Fail("the build logged " + std::to_string(lines.size()) +
                 " lines, first: " + (lines.empty() ? std::string() : lines.front()));
        }
        return ms;
    }
};

// The list's routes as `ip route` arguments ("106.152.0.0/24"), each network once.
std::vector<std::string> ListPrefixes() {
    TWindow window; // the list as the window loads it
    std::vector<std::string> prefixes;
    std::set<std::string> seen;
    for (const std::string& line : window.Form.jvshRoutes.Lines()) {
        const TRouteLine parsed = ParseRouteLine(line, nullptr);
        if (parsed.Kind != TRouteLineKind::Route) {
            continue;
        }
        in_addr dest{};
        dest.s_addr = ::inet_addr(parsed.Network.c_str());
        const int length = std::popcount(::ntohl(::inet_addr(parsed.Mask.c_str())));
        const std::string prefix = std::string(::inet_ntoa(dest)) + "/" + std::to_string(length);
        if (seen.insert(prefix).second) {
            prefixes.push_back(prefix);
        }
    }
    return prefixes;
}

} // namespace

int main() {
    std::string why;
    if (!testing::EnterPrivateNetwork(why)) {
        Fail("no private network namespace here: " + why);
    }
    FreshNetwork();
    const std::vector<std::string> prefixes = ListPrefixes();

    // The batch file for ip: the default-route swap and every list route, as the builder does.
    char batchPath[] = "/tmp/brindlecove-routes-XXXXXX";
    if (!TUniqueFd(::mkstemp(batchPath)).Valid()) {
        Fail("mkstemp");
    }
    {
        std::ofstream batch(batchPath);
        batch << "route del default via 10.2.0.2 dev int0\n"
                 "route del default via 10.1.0.2 dev loc0 metric 100\n"
                 "route add default via 10.1.0.2 dev loc0 metric 2 proto static\n"
                 "route add default via 10.2.0.2 dev int0 metric 1 proto static\n";
        for (const std::string& prefix : prefixes) {
            batch << "route add " << prefix << " via 10.1.0.2 dev loc0 metric 2 proto static\n";
        }
    }

    // The builder through the rtnetlink port (a fresh table, then the same build again) and one
    // ip -batch process, taken in turns so that a change in the machine's load touches both.
    std::vector<double> builds;
    std::vector<double> secondBuilds;
    std::vector<double> batches;
    for (int run = 0; run < BuildRuns; ++run) {
        FreshNetwork();
        {
            TWindow window;
            builds.push_back(window.Build());
            secondBuilds.push_back(window.Build());
        }
        FreshNetwork();
        const auto start = Clock::now();
        const bool ok = Run({"ip", "-batch", batchPath});
        batches.push_back(MillisecondsSince(start));
        if (!ok) {
            ::unlink(batchPath);
            Fail("ip -batch failed");
        }
    }
    ::unlink(batchPath);

    // One ip process per route.
    std::vector<double> processes;
    for (int run = 0; run < ProcessRuns; ++run) {
        FreshNetwork();
        const auto start = Clock::now();
        bool ok = Run({"ip", "route", "del", "default", "via", "10.2.0.2", "dev", "int0"}) &&
                  Run({"ip", "route", "del", "default", "via", "10.1.0.2", "dev", "loc0", "metric",
                       "100"}) &&
                  Run({"ip", "route", "add", "default", "via", "10.1.0.2", "dev", "loc0", "metric",
                       "2", "proto", "static"}) &&
                  Run({"ip", "route", "add", "default", "via", "10.2.0.2", "dev", "int0", "metric",
                       "1", "proto", "static"});
        for (const std::string& prefix : prefixes) {
            ok = ok && Run({"ip", "route", "add", prefix, "via", "10.1.0.2", "dev", "loc0",
                            "metric", "2", "proto", "static"});
        }
        processes.push_back(MillisecondsSince(start));
        if (!ok) {
            Fail("ip route add failed");
        }
    }

    const double build = Median(builds);
    const double second = Median(secondBuilds);
    const double batch = Median(batches);
    const double perRoute = Median(processes);
    std::printf("Installing %zu local networks through loc0 and swapping the default routes, in a "
                "fresh private namespace (medians)\n",
                prefixes.size());
    std::printf("  %-58s %10s %6s %12s\n", "method", "median", "runs", "vs build");
    const auto row = [build](const char* name, double ms, int runs) {
        std::printf("  %-58s %7.2f ms %6d %11.1fx\n", name, ms, runs, ms / build);
    };
    row("BuildRoutingTable through TNetlinkIpHelper (in-process)", build, BuildRuns);
    row("the same build again, every route already there (in-proc.)", second, BuildRuns);
    row("ip -batch, the same routes and swap (whole process)", batch, BuildRuns);
    row("one ip route process per route (whole processes)", perRoute, ProcessRuns);
    std::printf("Reference (measured on this kind of machine): one request at a time 5.5 ms "
                "in-process, 4.9 ms over an existing table; ip -batch 31.0 ms; one process per "
                "route 3084 ms\n");
    std::printf("Targets: build <= 8 ms: %s; ip -batch >= 3x the build: %s; second build no "
                "slower than the first: %s\n",
                build <= 8.0 ? "met" : "MISSED", batch >= 3 * build ? "met" : "MISSED",
                second <= build ? "met" : "MISSED");
    std::printf("build_ms=%.2f second_build_ms=%.2f ip_batch_ms=%.2f ratio_ip_batch=%.2f\n", build,
                second, batch, batch / build);
    return 0;
}
