// Installing the built-in list of local networks and swapping the default routes, on Linux: the
// route table builder through the rtnetlink port, beside iproute2 doing the same work. Runs in a
// private user and network namespace of its own (a fresh network for every run) with two veth
// pairs as the uplinks; nothing reaches any other network.
#include "app/brindlecove1.h"
#include "common/linux/Netlink.h"
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
#include <net/if.h>
#include <poll.h>
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
constexpr int Flaps = 9;
constexpr std::size_t PipelineDepth = 128; // requests sent before their acks are read

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
    // Supervises the two uplinks as the program does: the first pass builds the table.
    void Supervise() {
        Form.cbEnabledClick();
        Pass();
    }
    // One pass, as the program's loop runs one when the kernel reports a change.
    void Pass() {
        IpHelper.ReadNotifications();
        Form.RoutingTableNotified();
    }
    std::size_t Builds() const {
        const auto& lines = Window.Log().Lines();
        return static_cast<std::size_t>(
            std::count_if(lines.begin(), lines.end(), [](const auto& l) {
                return l.ends_with(" Finished creating routing table");
            }));
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

// The floor: the same routes written by a minimal rtnetlink writer that sends its requests in
// batches and reads their acknowledgements in bulk. Answers the time it took.
double PipelinedBuild(const std::vector<std::string>& prefixes) {
    const int loc0 = static_cast<int>(::if_nametoindex("loc0"));
    const int int0 = static_cast<int>(::if_nametoindex("int0"));
    struct TRoute {
        std::uint16_t Type;
        std::uint16_t Flags;
        std::uint32_t Dest;
        std::uint8_t Length;
        std::uint32_t Gateway;
        int IfIndex;
        std::uint32_t Metric;
    };
    std::vector<TRoute> routes{
        {RTM_DELROUTE, 0, 0, 0, ::inet_addr("10.2.0.2"), int0, 0},
        {RTM_DELROUTE, 0, 0, 0, ::inet_addr("10.1.0.2"), loc0, 100},
        {RTM_NEWROUTE, NLM_F_CREATE | NLM_F_EXCL, 0, 0, ::inet_addr("10.1.0.2"), loc0, 2},
        {RTM_NEWROUTE, NLM_F_CREATE | NLM_F_EXCL, 0, 0, ::inet_addr("10.2.0.2"), int0, 1},
    };
    for (const std::string& prefix : prefixes) {
        const auto slash = prefix.find('/');
        routes.push_back({RTM_NEWROUTE, NLM_F_CREATE | NLM_F_EXCL,
                          ::inet_addr(prefix.substr(0, slash).c_str()),
                          static_cast<std::uint8_t>(std::stoi(prefix.substr(slash + 1))),
                          ::inet_addr("10.1.0.2"), loc0, 2});
    }
    netlink::TSocket socket;
    if (!socket.Valid()) {
        Fail("no netlink socket");
    }
    const auto start = Clock::now();
    std::vector<unsigned char> batch;
    std::vector<unsigned char> answer(64 * 1024);
    std::uint32_t sequence = 0;
    for (std::size_t first = 0; first < routes.size(); first += PipelineDepth) {
        const std::size_t count = std::min(PipelineDepth, routes.size() - first);
        batch.clear();
        for (std::size_t i = first; i < first + count; ++i) {
            const TRoute& route = routes[i];
            rtmsg header{};
            header.rtm_family = AF_INET;
            header.rtm_dst_len = route.Length;
            header.rtm_table = RT_TABLE_MAIN;
            if (route.Type == RTM_NEWROUTE) {
                header.rtm_protocol = RTPROT_STATIC;
                header.rtm_type = RTN_UNICAST;
            } else {
                header.rtm_scope = RT_SCOPE_NOWHERE;
            }
            netlink::TRequest request(route.Type, route.Flags, header);
            if (route.Length != 0) {
                request.AddU32(RTA_DST, route.Dest);
            }
            request.AddU32(RTA_GATEWAY, route.Gateway);
            request.AddU32(RTA_OIF, static_cast<std::uint32_t>(route.IfIndex));
            request.AddU32(RTA_PRIORITY, route.Metric);
            const netlink::TBytes bytes = request.Finish(++sequence, socket.PortId());
            batch.insert(batch.end(), bytes.begin(), bytes.end());
        }
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        if (::sendto(socket.Fd(), batch.data(), batch.size(), 0,
                     reinterpret_cast<const sockaddr*>(&kernel),
                     sizeof kernel) != static_cast<ssize_t>(batch.size())) {
            Fail("the pipelined writer could not send");
        }
        for (std::size_t acked = 0; acked < count;) {
            const ssize_t got = ::recv(socket.Fd(), answer.data(), answer.size(), 0);
            if (got <= 0) {
                Fail("the pipelined writer lost its acknowledgements");
            }
            for (const netlink::TMessage& message : netlink::ParseDatagram(
                     netlink::TBytes(answer.data(), static_cast<std::size_t>(got)))) {
                const auto ack = netlink::ParseAck(message);
                if (!ack || ack->Error != 0) {
                    Fail("the pipelined writer's request was refused");
                }
                ++acked;
            }
        }
    }
    return MillisecondsSince(start);
}

// Sets loc0 up or down through rtnetlink, as `ip link set loc0 up|down` does.
void SetLocalLink(netlink::TSocket& socket, bool up) {
    ifinfomsg header{};
    header.ifi_family = AF_UNSPEC;
    header.ifi_index = static_cast<int>(::if_nametoindex("loc0"));
    header.ifi_flags = up ? IFF_UP : 0;
    header.ifi_change = IFF_UP;
    netlink::TRequest request(RTM_NEWLINK, 0, header);
    if (socket.Transact(request) != 0) {
        Fail("could not set loc0 up or down");
    }
}

// Whether the table holds the build again: every list route and the local default through loc0,
// the international default through int0.
bool TableRestored(std::size_t listRoutes) {
    const auto routes = testing::MainRoutes();
    const auto count = [&routes](const char* part) {
        return static_cast<std::size_t>(
            std::count_if(routes.begin(), routes.end(), [part](const std::string& r) {
                return r.find(part) != std::string::npos;
            }));
    };
    return count("via 10.1.0.2 dev loc0 proto static metric 2") == listRoutes + 1 &&
           count("default via 10.2.0.2 dev int0 proto static metric 1") == 1;
}

// From loc0 coming back up after a flap to the table built again, with the program's watch
// driven as its event loop drives it (a pass whenever the kernel reports a change).
std::vector<double> RestoreTimes(std::size_t listRoutes) {
    FreshNetwork();
    TWindow window;
    window.Supervise();
    window.Pass(); // finds the table as built
    netlink::TSocket control;
    std::vector<double> times;
    for (int flap = 0; flap < Flaps; ++flap) {
        // Time for the table to stand: a change right after the watch's own rebuild would count
        // as a fight over the routes and wait.
        window.Window.Clock.Advance(5000);
        SetLocalLink(control, false);
        window.Pass();
        const std::size_t before = window.Builds();
        SetLocalLink(control, true);
        const auto start = Clock::now();
        while (window.Builds() == before) {
            pollfd fd{window.IpHelper.NotificationFd(), POLLIN, 0};
            if (::poll(&fd, 1, 2000) <= 0) {
                Fail("no rebuild within 2 s of loc0 coming back");
            }
            window.Pass();
        }
        times.push_back(MillisecondsSince(start));
        if (!TableRestored(listRoutes)) {
            Fail("the rebuild after a flap left the table incomplete");
        }
        window.Pass(); // finds the table as built
    }
    return times;
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
    std::vector<double> floors;
    for (int run = 0; run < BuildRuns; ++run) {
        FreshNetwork();
        floors.push_back(PipelinedBuild(prefixes));
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
    const std::vector<double> restores = RestoreTimes(prefixes.size());

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
    const double floor = Median(floors);
    const double restore = Median(restores);
    std::printf("Installing %zu local networks through loc0 and swapping the default routes, in a "
                "fresh private namespace (medians)\n",
                prefixes.size());
    std::printf("  %-58s %10s %6s %12s\n", "method", "median", "runs", "vs build");
    const auto row = [build](const char* name, double ms, int runs) {
        std::printf("  %-58s %7.2f ms %6d %11.1fx\n", name, ms, runs, ms / build);
    };
    row("BuildRoutingTable through TNetlinkIpHelper (in-process)", build, BuildRuns);
    row("the same build again, every route already there (in-proc.)", second, BuildRuns);
    row("the floor: pipelined rtnetlink writer, 128 requests a send", floor, BuildRuns);
    row("ip -batch, the same routes and swap (whole process)", batch, BuildRuns);
    row("one ip route process per route (whole processes)", perRoute, ProcessRuns);
    std::printf("  %-58s %7.2f ms %6d\n", "restore after a flap of loc0 (event-driven rebuild)",
                restore, Flaps);
    std::printf("Reference (measured on this kind of machine): one request at a time 5.5 ms "
                "in-process, 4.9 ms over an existing table, 128 requests a send 2.7 ms; ip -batch "
                "31.0 ms; one process per route 3084 ms; restore after a flap: never before the "
                "watch\n");
    std::printf("Targets: build <= 8 ms: %s; build <= 1.3x the floor: %s; restore <= 100 ms: %s; "
                "second build no slower than the first: %s\n",
                build <= 8.0 ? "met" : "MISSED", build <= 1.3 * floor ? "met" : "MISSED",
                restore <= 100.0 ? "met" : "MISSED", second <= build ? "met" : "MISSED");
    std::printf("build_ms=%.2f second_build_ms=%.2f ip_batch_ms=%.2f ratio_ip_batch=%.2f "
                "floor_ms=%.2f ratio_floor=%.2f restore_ms=%.2f\n",
                build, second, batch, batch / build, floor, build / floor, restore);
    return 0;
}
